// arguments: shortcut=C:\Dl\setup.exe
// The relaunch after a restart starts the stub file the user started, which the launcher passed.
var runOnce = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
window.external.runAfterReboot("INSTALLING");
checkEqual(window.external.getDataFromReg(runOnce, "HLVN_77"), "\"C:\\Dl\\setup.exe\" RESUME=INSTALLING", "relaunch");
check(host.logText().indexOf("EMRunAfterReboot INSTALLING\r\n") >= 0, "runAfterReboot log");
window.external.undoRunAfterReboot();
checkEqual(window.external.getDataFromReg(runOnce, "HLVN_77"), "", "relaunch removed");
finish();
