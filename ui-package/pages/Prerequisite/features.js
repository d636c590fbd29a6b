// The Prerequisite page's switches. ECMAScript 5.
var pageFeatures = {};
