// runApplication and executeCommand report whether the process started; startRegApps outside a
// resumed run clears the resume record and starts nothing; restartSystem restarts only after OK,
// with the shutdown privilege enabled (the host records the restart instead of making it).
var ext = window.external;
function logHas(line) { return host.logText().indexOf(line) >= 0; }
function waitForFile(path) {
  for (var i = 0; i < 300 && !ext.isFileExists(path); i++) host.sleep(100);
  return ext.isFileExists(path);
}
host.setTimeLimit(100);
var bin = ext.getCurrentPath();
var probe = bin.substring(0, bin.lastIndexOf("\\") + 1) + "install-fixtures\\installer.exe";
var folder = tempFolder("launch");
var record = ext.getBaseRegKey() + "\\ResumeManager";
var guid = "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0";
var testKey = "HKEY_LOCAL_MACHINE\\Software\\HalvernLaunchTest", apps = testKey + "\\" + guid;

ext.setDataToReg(record, "folder", "C:\\resume", false);
ext.setDataToReg(record, "guid", guid, false);
ext.setDataToReg(record, "launchOnExit", "HalvernLaunchTest\\" + guid, false);
ext.setDataToReg(apps, "regApp1", "\"" + probe + "\" out=" + folder + "regapp.txt", false);
ext.startRegApps();
check(logHas("EMStartRegApps\r\n"), "startRegApps log");
checkEqual(ext.getDataFromReg(record, "guid"), "", "the record is cleared");
checkEqual(ext.getDataFromReg(apps, "regApp1"), "\"" + probe + "\" out=" + folder + "regapp.txt", "the list stays");

// The command line reaches the program as it stands.
var out = folder + "run.txt", commandLine = "\"" + probe + "\" out=" + out + " \"x y\"";
checkEqual(ext.runApplication(commandLine), true, "runApplication starts the program");
check(logHas("EMRunApplication: " + commandLine + ", result: success\r\n"), "runApplication log");
check(waitForFile(out), "the program ran");
checkEqual(host.readText(out, "utf-16"), commandLine, "its command line");
check(!ext.isFileExists(folder + "regapp.txt"), "startRegApps started nothing");
checkEqual(ext.runApplication("\"C:\\no\\such.exe\" /x"), false, "a missing program");
check(logHas("EMRunApplication: \"C:\\no\\such.exe\" /x, result: fail\r\n"), "failure log");
checkThrows(function () { return ext.runApplication(5); }, DISP_E_TYPEMISMATCH, "a number");
checkThrows(function () { return ext.runApplication(null); }, DISP_E_TYPEMISMATCH, "null");
checkThrows(function () { return ext.runApplication("a", "b"); }, DISP_E_BADPARAMCOUNT, "two arguments");
checkEqual(ext.executeCommand("exit 1"), true, "only the start of cmd.exe is reported");
checkThrows(function () { return ext.executeCommand(1); }, DISP_E_TYPEMISMATCH, "executeCommand with a number");
ext.deleteRegKey(apps, false);
ext.deleteRegKey(testKey, false);

checkEqual(host.restartCalls(), "", "no restart yet");
host.answerDialog("cancel", function () { ext.restartSystem("Restart now?", "Halvern Setup"); });
check(logHas("EMRestartSystem: Restart now? Halvern Setup\r\n"), "restartSystem log");
checkEqual(host.restartCalls(), "", "Cancel restarts nothing");
checkThrows(function () { ext.restartSystem("Restart now?"); }, DISP_E_BADPARAMCOUNT, "one argument");
host.answerDialog("ok", function () { ext.restartSystem("Restart now?", "Halvern Setup"); });
// EWX_REBOOT | EWX_FORCEIFHUNG | EWX_RESTARTAPPS, SHTDN_REASON_MAJOR_APPLICATION
checkEqual(host.restartCalls(), "0x52 0x40000 enabled;", "OK restarts once, privilege enabled");
finish();
