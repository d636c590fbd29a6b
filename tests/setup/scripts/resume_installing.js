// arguments: RESUME=INSTALLING
// A run resumed after a restart continues the installation of the "\ResumeManager" record: with
// "folder" and "guid" the installer gets the recorded GUID and the record keeps it; a record
// without "folder" is none to continue, and a new GUID is made and written.
var bin = window.external.getCurrentPath();
var fixtures = bin.substring(0, bin.lastIndexOf("\\") + 1) + "install-fixtures\\";
var record = window.external.getBaseRegKey() + "\\ResumeManager";
var recorded = "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0";

function installWithRecord(values, next) {
  window.external.deleteRegKey(record, false);
  for (var name in values) window.external.setDataToReg(record, name, values[name], false);
  window.external.install(fixtures + "installer.exe", "/qn LAUNCHONEXIT=app.exe--id=$GUID$", 0, function (result) {
    if (result === 10) return;
    checkEqual(result, 0, "result");
    next(window.external.getDataFromReg(record, "guid"), window.external.getDataFromReg(record, "launchOnExit"));
  });
}

installWithRecord({folder: "C:\\resume", guid: recorded}, function (guid, launchOnExit) {
  checkEqual(guid, recorded, "the recorded GUID is kept");
  checkEqual(launchOnExit, "app.exe--id=" + recorded, "launchOnExit with the recorded GUID");
  check(host.logText().indexOf("LAUNCHONEXIT=app.exe--id=" + recorded + ", return 0") >= 0,
        "the installer got the recorded GUID");
  installWithRecord({guid: recorded}, function (guid, launchOnExit) {
    check(guid !== recorded && /^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$/.test(guid),
          "a new GUID: " + guid);
    checkEqual(launchOnExit, "app.exe--id=" + guid, "launchOnExit with the new GUID");
    check(host.logText().indexOf("LAUNCHONEXIT=app.exe--id=" + guid + ", return 0") >= 0,
          "the installer got the new GUID");
    window.external.deleteRegKey(record, false);
    finish();
  });
});
