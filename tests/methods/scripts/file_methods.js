// isFileExists, getFileVersion, getFileSize, getCrc, createDirectory, renameFile,
// getDiskAvailableSpace and getEmbeddedDataFromCurrentExe on files the test host can reach by
// itself: the built stub next to it and folders under the temporary directory.
var ext = window.external;
var folder = ext.getCurrentPath();  // the test programs' folder, HalvernSetup.exe lies there
var stub = folder + "\\HalvernSetup.exe";
var missing = folder + "\\no-such-file.bin";

checkEqual(ext.isFileExists(stub), true, "stub exists");
checkEqual(ext.isFileExists(folder), true, "folders count");
checkEqual(ext.isFileExists(missing), false, "missing file");
var log = host.logText();
check(log.indexOf("args: " + stub + ", Result: exist\r\n") >= 0, "isFileExists log");
check(log.indexOf("args: " + missing + ", Result: not exist\r\n") >= 0, "isFileExists log, missing");

checkEqual(ext.getFileVersion(".exe", stub), host.productVersion(), "stub's file version");
checkEqual(ext.getFileVersion(".EXE", stub), host.productVersion(), "extension in any case");
checkEqual(ext.getFileVersion(".msi", stub), "", "an executable is no installer database");
checkEqual(ext.getFileVersion(".dll", stub), "", "other extensions");
checkEqual(ext.getFileVersion(".exe", missing), "", "missing file");
check(host.logText().indexOf("EMGetMSIFileVersion args " + stub + ", Result " + host.productVersion() + "\r\n") >= 0,
      "getFileVersion log");

check(/^[1-9][0-9]*$/.test(ext.getFileSize(stub)), "stub's size");
checkEqual(ext.getFileSize(folder), "0", "a folder has no size");
checkEqual(ext.getFileSize(missing), "0", "missing file's size");
checkEqual(ext.getCrc(missing), "0", "missing file's CRC");
var log = host.logText();
check(log.indexOf("EMGetFileSize 0\r\n") >= 0, "getFileSize log");
check(log.indexOf("EMGetCRC args " + missing + ", Result 0\r\n") >= 0, "getCrc log");

// Content is read from regular files only: a device (a serial port, the console, NUL) answers at
// once as a missing file does, where a read from it could wait for ever.
var devices = ["COM1", "AUX", "\\\\.\\COM1", "C:\\windows\\COM1", "CONIN$", "CON", "NUL"];
for (var i = 0; i < devices.length; i++) {
  checkEqual(ext.getCrc(devices[i]), "0", "CRC of " + devices[i]);
  checkEqual(ext.getFileSize(devices[i]), "0", "size of " + devices[i]);
  checkEqual(ext.getFileVersion(".exe", devices[i]), "", "program version of " + devices[i]);
  checkEqual(ext.getFileVersion(".msi", devices[i]), "", "package version of " + devices[i]);
}

// Folders: created with their parents; an existing one gives false; moved, never replacing.
var base = ext.getTempPath("HalvernFileMethodsTest") + new Date().getTime();
checkEqual(ext.createDirectory(base + "\\a\\b"), true, "nested folder");
checkEqual(ext.isFileExists(base + "\\a\\b"), true, "nested folder exists");
checkEqual(ext.createDirectory(base + "\\a\\b"), false, "existing folder");
checkEqual(ext.createDirectory("relative\\folder"), false, "relative path");
checkEqual(ext.renameFile(base + "\\a\\b", base + "\\a\\c"), true, "rename");
checkEqual(ext.isFileExists(base + "\\a\\b"), false, "old name gone");
checkEqual(ext.createDirectory(base + "\\d"), true, "second folder");
checkEqual(ext.renameFile(base + "\\a\\c", base + "\\d"), false, "existing target not replaced");
checkEqual(ext.renameFile(base + "\\a\\c", base + "\\d\\c"), true, "moved into another folder");
checkEqual(ext.renameFile(base + "\\a\\c", base + "\\a\\e"), false, "source gone");
check(host.logText().indexOf("EMRenameFile args oldFileName:" + base + "\\a\\c, newFileName:" + base +
                             "\\a\\e, Result: -1\r\n") >= 0, "renameFile log");
// A new name must be a full path: a relative one would land in whatever the current folder is.
var relatives = ["e", "a\\e", "..\\e", "\\e", "C:e", ""];
for (var i = 0; i < relatives.length; i++) {
  checkEqual(ext.renameFile(base + "\\d\\c", relatives[i]), false, "relative new name [" + relatives[i] + "]");
  check(host.logText().indexOf("EMRenameFile refused, the new name is not a full path: " + relatives[i] + "\r\n") >= 0,
        "log of the refused name [" + relatives[i] + "]");
}
checkEqual(ext.isFileExists(base + "\\d\\c"), true, "the refused renames left the folder in place");
checkEqual(ext.renameFile(base + "\\d\\c", base.replace(/\\/g, "/") + "/d/f"), true, "a full path with slashes");

check(/^[1-9][0-9]*$/.test(ext.getDiskAvailableSpace("C:\\")), "free space of C:");
checkEqual(ext.getDiskAvailableSpace("C:\\no\\such\\folder\\"), "0", "missing folder");
check(host.logText().indexOf("EMGetDiskAvailableSpace args: C:\\, Result\r\n") >= 0, "getDiskAvailableSpace log");

// The test host is not signed: no embedded text.
checkEqual(ext.getEmbeddedDataFromCurrentExe(5), "", "unsigned executable");
checkThrows(function () { var v = ext.getEmbeddedDataFromCurrentExe("5"); }, DISP_E_TYPEMISMATCH, "length as text");
checkThrows(function () { var v = ext.getFileSize(); }, DISP_E_MEMBERNOTFOUND, "getFileSize without argument");
checkThrows(function () { ext.getCrc(stub); }, DISP_E_MEMBERNOTFOUND, "getCrc as a statement");
finish();
