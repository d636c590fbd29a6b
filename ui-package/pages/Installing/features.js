// The Installing page's switches. ECMAScript 5.
var pageFeatures = {estimatedSeconds: 180};
