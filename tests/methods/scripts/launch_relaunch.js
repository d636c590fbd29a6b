// arguments: shortcut=C:\Dl\setup.exe
// The relaunch after a restart starts the stub copy in the product's protected folder, not the
// file the user started, which the launcher passed and the user's programs may replace.
var runOnce = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
window.external.runAfterReboot("INSTALLING");
var relaunch = /^"(.*\\Velmora\\HLVN\\script_host\.exe)" RESUME=INSTALLING$/.exec(window.external.getDataFromReg(runOnce, "HLVN_77"));
check(relaunch !== null, "relaunch names the stub copy: " + window.external.getDataFromReg(runOnce, "HLVN_77"));
check(relaunch !== null && window.external.isFileExists(relaunch[1]), "the stub copy is there");
check(host.logText().indexOf("EMRunAfterReboot INSTALLING\r\n") >= 0, "runAfterReboot log");
window.external.undoRunAfterReboot();
checkEqual(window.external.getDataFromReg(runOnce, "HLVN_77"), "", "relaunch removed");
finish();
