// The Initialization page's switches. ECMAScript 5.
var pageFeatures = {isISO: false, delayMs: 0};
