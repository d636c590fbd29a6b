// setDataToReg, getDataFromReg, deleteRegKey and getBaseRegKey through the script engine: views,
// deletes that leave keys with subkeys in place, log lines and the argument checks.
var ext = window.external;
var key = "HKCU\\Software\\HalvernRegistryMethodsTest";
var machineKey = "HKLM\\SOFTWARE\\HalvernRegistryMethodsTest";
ext.deleteRegKey(key + "\\Values", false);
ext.deleteRegKey(key, false);
ext.deleteRegKey(machineKey, true);
ext.deleteRegKey(machineKey, false);

checkEqual(ext.getBaseRegKey(), "HKEY_CURRENT_USER\\SOFTWARE\\Velmora\\stubframework\\HLVN\\77", "base key");

ext.setDataToReg(key + "\\Values", "Text", "Grüße", false);
checkEqual(ext.getDataFromReg(key + "\\Values", "Text"), "Grüße", "written text reads back");
checkEqual(ext.getDataFromReg(key + "\\Values", "Missing"), "", "missing value");
checkEqual(ext.getDataFromReg("HKXX\\Software", "Text"), "", "unknown root");

// The view argument reaches the registry: reads try the 64-bit view first.
ext.setDataToReg(machineKey, "View", "32", false);
ext.setDataToReg(machineKey, "View", "64", true);
checkEqual(ext.getDataFromReg(machineKey, "View"), "64", "64-bit view read first");
ext.deleteRegKey(machineKey, true);
checkEqual(ext.getDataFromReg(machineKey, "View"), "32", "32-bit view after the 64-bit key went");
ext.deleteRegKey(machineKey, false);
checkEqual(ext.getDataFromReg(machineKey, "View"), "", "both views deleted");

ext.deleteRegKey(key, false);
checkEqual(ext.getDataFromReg(key + "\\Values", "Text"), "Grüße", "a key with subkeys stays");
ext.deleteRegKey(key + "\\Values", false);
ext.deleteRegKey(key, false);
checkEqual(ext.getDataFromReg(key + "\\Values", "Text"), "", "leaf first, then its parent");

var log = host.logText();
check(log.indexOf("EMSetDataToReg -1, 64, View, " + machineKey + "\r\n") >= 0, "setDataToReg log, 64-bit");
check(log.indexOf("EMSetDataToReg 0, 32, View, " + machineKey + "\r\n") >= 0, "setDataToReg log, 32-bit");
check(log.indexOf("EMGetDataFromReg args Text " + key + "\\Values, Result Grüße\r\n") >= 0, "getDataFromReg log");
check(log.indexOf("EMDeleteRegKey -1, " + machineKey + "\r\n") >= 0, "deleteRegKey log");
check(log.indexOf("EMGetBaseRegKey HKEY_CURRENT_USER\\SOFTWARE\\Velmora\\stubframework\\HLVN\\77\r\n") >= 0,
      "getBaseRegKey log");

// A view given as text or number is refused, and nothing is written.
checkThrows(function () { ext.setDataToReg(key, "Text", "x", "true"); }, DISP_E_TYPEMISMATCH, "view as text");
checkThrows(function () { ext.deleteRegKey(key, 1); }, DISP_E_TYPEMISMATCH, "view as number");
checkEqual(ext.getDataFromReg(key, "Text"), "", "refused call wrote nothing");
checkThrows(function () { var v = ext.setDataToReg(key, "Text", "x", false); }, DISP_E_MEMBERNOTFOUND,
            "setDataToReg used as a value");
checkThrows(function () { ext.getDataFromReg(key, "Text"); }, DISP_E_MEMBERNOTFOUND, "getDataFromReg as a statement");
checkThrows(function () { var v = ext.getDataFromReg(key); }, DISP_E_BADPARAMCOUNT, "getDataFromReg with one argument");
finish();
