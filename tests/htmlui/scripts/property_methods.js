// setProperty and getProperty: the calling convention as the script engine exercises it.
var ext = window.external;
ext.setProperty("name", "value");
checkEqual(ext.getProperty("name"), "value", "stored value");
checkEqual(ext.getProperty("neverSet"), "", "unknown name reads empty");
checkEqual(ext.getProperty("lang"), "en", "start-up language code");
checkEqual(ext.getProperty("downloadTotal"), "1", "seeded download total");
checkEqual(ext.getProperty("installCurrent"), "0", "seeded install progress");
ext.setProperty("Name", "other");
checkEqual(ext.getProperty("name"), "value", "names are case-sensitive");

// A getProperty whose value is discarded arrives with flags 1 and is refused.
checkThrows(function () { ext.getProperty("name"); }, DISP_E_MEMBERNOTFOUND, "getProperty as a statement");
// setProperty's value used: flags 3.
checkThrows(function () { var x = ext.setProperty("a", "b"); }, DISP_E_MEMBERNOTFOUND, "setProperty used as a value");
checkThrows(function () { ext.setProperty("only one"); }, DISP_E_BADPARAMCOUNT, "setProperty with one argument");
checkThrows(function () { ext.setProperty("n", 5); }, DISP_E_TYPEMISMATCH, "setProperty with a number");
checkThrows(function () { ext.setProperty("n", null); }, DISP_E_TYPEMISMATCH, "setProperty with null");
checkThrows(function () { ext.setProperty("n", undefined); }, DISP_E_TYPEMISMATCH, "setProperty with undefined");
checkThrows(function () { var v = ext.getProperty(1.5); }, DISP_E_TYPEMISMATCH, "getProperty with a number");
checkThrows(function () { var v = ext.getProperty("a", "b"); }, DISP_E_BADPARAMCOUNT, "getProperty with two arguments");
// Without arguments the engine calls with flags 1 even when the value is used.
checkThrows(function () { var v = ext.getProperty(); }, DISP_E_MEMBERNOTFOUND, "getProperty without argument");
finish();
