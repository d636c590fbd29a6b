// Needs: asked (a length, as text) and expected, the answer of the running executable.
var ext = window.external;
var size = parseInt(asked, 10);
checkEqual(ext.getEmbeddedDataFromCurrentExe(size), expected, "embedded text");
var log = host.logText();
check(log.indexOf("EMGetEmbeddedDataFromCurrentExe size : " + size + "\r\n") >= 0, "size log");
check(log.indexOf("EMGetEmbeddedDataFromCurrentExe Result : " + expected + "\r\n") >= 0, "result log");
finish();
