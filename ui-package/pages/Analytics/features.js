// The Analytics page's switches. ECMAScript 5.
var pageFeatures = {optInKey: "HALVERN\\SUBS"};
