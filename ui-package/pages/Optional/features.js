// The Optional page's switches: its button presses are reported as the offer's. ECMAScript 5.
var pageFeatures = {activityName: "Offers"};
