// arguments: passthrough="VID=partner-7 TRANSFORMS=C:\t.mst /i" passthro="CHNL=beta PATCH=C:\p.msp VID"
// Whoever starts the stub chooses passthrough: the installers get only the public properties the
// product definition lists, as NAME=value pairs; a transform, a patch, a switch and a bare name
// are dropped with a log line each.
var bin = window.external.getCurrentPath();
var fixtures = bin.substring(0, bin.lastIndexOf("\\") + 1) + "install-fixtures\\";
var out = tempFolder("HalvernPassthrough") + "arguments.txt";
window.external.install(fixtures + "installer.exe", "out=" + out, 0, function (result) {
  if (result === 10) return;
  checkEqual(result, 0, "result");
  checkEqual(host.readText(out, "utf-16"), "\"" + fixtures + "installer.exe\" VID=partner-7 CHNL=beta out=" + out,
             "the installer's command line");
  var log = host.logText();
  var dropped = ["TRANSFORMS=C:\\t.mst", "/i", "PATCH=C:\\p.msp", "VID"];
  for (var i = 0; i < dropped.length; ++i)
    check(log.indexOf("passthrough argument dropped: " + dropped[i] + "\r\n") >= 0, dropped[i] + " dropped and logged");
  finish();
});
