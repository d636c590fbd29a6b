// Needs: expected, the long form of the temporary folder followed by HLVN and a backslash.
var ext = window.external;
checkEqual(ext.getTempPath(""), expected, "long temporary path");
checkEqual(ext.isFileExists(expected), true, "folder created");
finish();
