// The stub's script methods. Every page calls them as appExternal.name(...), never through a copy
// of the object, so each call site shows how its value is used (the stub checks the call form).
var appExternal = window.external;
