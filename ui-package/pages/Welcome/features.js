// The Welcome page's switches. ECMAScript 5.
var pageFeatures = {languageChoice: true};
