// Needs: expected, the download folder of the product HLVN, with a trailing backslash.
var ext = window.external;
checkEqual(ext.getTempPath(""), expected, "download folder");
checkEqual(ext.isFileExists(expected), true, "folder created");
finish();
