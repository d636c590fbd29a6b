// The Agreement page's switches. ECMAScript 5.
var pageFeatures = {};
