// The window closes while an installer program runs for 10 s: the end of the run does not
// interrupt it but waits for it to end, then drops the final call.
host.setTimeLimit(60);
var folder = tempFolder("HalvernEndDuringInstall");
var bin = window.external.getCurrentPath();
var fixtures = bin.substring(0, bin.lastIndexOf("\\") + 1) + "install-fixtures\\";
var out = folder + "arguments.txt";
var started = new Date().getTime(), asked = false, finals = 0;
window.external.install(fixtures + "installer.exe", "sleep=10000 out=\"" + out + "\" /qn", 0, function (result) {
  if (result !== 10) {
    finals++;
    return;
  }
  if (asked) return;
  asked = true;
  window.external.closeWindow();
  host.endRun(function (ended) {
    var waited = new Date().getTime() - started;
    host.log("the end of the run waited " + waited + " ms for the installer");
    check(ended, "the install worker joined");
    check(waited >= 9500, "waited for the installer: " + waited + " ms");
    checkEqual(finals, 0, "final calls");
    check(window.external.isFileExists(out), "the installer ran");
    check(host.logText().indexOf("return 0") >= 0, "the installer's end logged");
    finish();
  });
});
