// The installer's parameters: $LOGFILE$ becomes the quoted install log path, $STUBPATH$ the quoted
// stub path (empty here: no "shortcut="), and $GUID$ in the LAUNCHONEXIT= value the installation's
// GUID, which is stored with the substituted value in the resume record. Without RESUME= the
// record starts afresh.
var bin = window.external.getCurrentPath();
var fixtures = bin.substring(0, bin.lastIndexOf("\\") + 1) + "install-fixtures\\";
var record = window.external.getBaseRegKey() + "\\ResumeManager";
window.external.setDataToReg(record, "guid", "stale", false);
window.external.install(fixtures + "installer.exe", "/qn LOG=$LOGFILE$ STUB=$STUBPATH$ LAUNCHONEXIT=app.exe--id=$GUID$ B=2", 0,
                        function (result) {
  if (result === 10) return;
  checkEqual(result, 0, "result");
  var guid = window.external.getDataFromReg(record, "guid");
  check(/^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$/.test(guid), "a new GUID: " + guid);
  checkEqual(window.external.getDataFromReg(record, "launchOnExit"), "app.exe--id=" + guid, "stored launchOnExit");
  var line = /Install "[^"]*installer\.exe" (.*), return 0\r\n/.exec(host.logText());
  check(line !== null, "the installer's command line is logged");
  if (line) {
    var logPath = /LOG="([^"]*)"/.exec(line[1]);
    check(logPath !== null && /\\stub-[0-9a-f]{32}\\logs\\log_\d{14}\.txt$/.test(logPath[1]), "log file placeholder: " + line[1]);
    check(line[1].indexOf(" STUB=\"\" LAUNCHONEXIT=app.exe--id=" + guid + " B=2") >= 0, "stub path and GUID: " + line[1]);
  }
  finish();
});
