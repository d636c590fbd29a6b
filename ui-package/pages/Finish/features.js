// The Finish page's switches: launch the product and show the thank-you page. ECMAScript 5.
var pageFeatures = {launch: true, thankYouPage: true, thankYouDelayMs: 6000};
