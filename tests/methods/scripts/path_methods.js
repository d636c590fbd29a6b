// getTempPath, getCurrentPath, getDesktopPath and getResourceLocation.
var ext = window.external;
var temp = ext.getTempPath("");
check(/\\HLVN\\$/.test(temp), "product code and a backslash: " + temp);
checkEqual(temp.indexOf("~"), -1, "long form");
checkEqual(ext.isFileExists(temp), true, "folder created");
var parent = temp.substring(0, temp.length - "HLVN\\".length);
checkEqual(ext.getTempPath("HalvernNamedTemp"), parent + "HalvernNamedTemp\\", "named folder");
checkEqual(ext.isFileExists(parent + "HalvernNamedTemp"), true, "named folder created");
check(host.logText().indexOf("EMGetTempPath " + temp + "\r\n") >= 0, "getTempPath log");

// Names that lead out of the temporary folder are refused and create nothing.
checkEqual(ext.getTempPath("..\\HalvernEscapedTemp"), "", "parent reference");
checkEqual(ext.isFileExists(parent + "..\\HalvernEscapedTemp"), false, "nothing created beside temp");
checkEqual(ext.getTempPath("C:\\HalvernEscapedTemp"), "", "full path");
checkEqual(ext.isFileExists("C:\\HalvernEscapedTemp"), false, "nothing created on C:");
checkEqual(ext.getTempPath("."), "", "the temporary folder itself");

// Without a shortcut= argument: the folder of the running executable, no trailing backslash.
var current = ext.getCurrentPath();
checkEqual(ext.isFileExists(current + "\\script_host.exe"), true, "folder of the running program");
check(!/\\$/.test(current), "no trailing backslash");

var desktop = ext.getDesktopPath();
check(desktop.length > 0 && !/\\$/.test(desktop), "desktop folder: " + desktop);
check(host.logText().indexOf("EMGetDesktopPath " + desktop + "\r\n") >= 0, "getDesktopPath log");

checkEqual(ext.getResourceLocation(), ext.getProperty("resourceLocation"), "the resourceLocation property");
ext.setProperty("resourceLocation", "C:\\elsewhere\\");
checkEqual(ext.getResourceLocation(), "C:\\elsewhere\\", "follows the property");
checkThrows(function () { var v = ext.getTempPath(); }, DISP_E_MEMBERNOTFOUND, "getTempPath without argument");
finish();
