// The self-update checks, a self-update that fails, the installer-list update and the size probe,
// against the download servers.
var servers = testServers();
var ext = window.external;
var folder = tempFolder("HalvernSelfUpdate");
var run = "-" + new Date().getTime();

checkEqual(ext.isNeedSelfUpdate(servers.nginx + "missing.exe"), false, "a .meta answering 404: no update");
checkEqual(ext.isNeedSelfUpdate(servers.nginx + "data10m.bin"), true, "a differing .meta: update");
checkEqual(ext.isSkipSelfUpdate(), false, "no update=0");
checkEqual(ext.isSilentLaunchStub(), false, "no /QN");
checkThrows(function () { ext.selfUpdate("x"); }, DISP_E_BADPARAMCOUNT, "selfUpdate without callback");

runSteps([
  function (next) {
    // No ".meta" to verify against: nothing is handed over, no partial file stays.
    ext.selfUpdate(servers.nginx + "data1000.bin?x=1", function (result) {
      if (result === 10) return;
      check(result !== 0, "failed self-update: " + result);
      var key = ext.getBaseRegKey();
      checkEqual(ext.getDataFromReg(key, "selfupdate_code"), "", "no selfupdate_code");
      checkEqual(ext.getDataFromReg(key, "update_stub_name"), "", "no update_stub_name");
      checkEqual(ext.isFileExists(ext.getCurrentPath().replace(/[^\\]*$/, "") + "data1000.bin"), false, "no partial stub");
      next();
    });
  },
  function (next) {
    // A file without extension is downloaded to its own name.
    ext.updateInstallerList(servers.nginx + "data10m.bin", folder + "list", false, true, function (result) {
      if (result === 10) return;
      checkEqual(result, 0, "list without extension");
      checkEqual(ext.getFileSize(folder + "list"), "" + (10 * 1024 * 1024 - 1000), "list size");
      next();
    });
  },
  function (next) {
    // A failed update of a list without extension leaves it as it was too.
    var crc = ext.getCrc(folder + "list");
    ext.updateInstallerList(servers.fault + "missing.xml?tag=n" + run, folder + "list", false, false, function (result) {
      if (result === 10) return;
      check(result !== 0, "failed update of a list without extension: " + result);
      checkEqual(ext.getCrc(folder + "list"), crc, "old list without extension untouched");
      next();
    });
  },
  function (next) {
    // No local path: the outcome comes through the callback like any other.
    ext.updateInstallerList(servers.nginx + "data1000.bin", "", false, false, function (result) {
      if (result === 10) return;
      checkEqual(result, 4, "list update without a path");
      next();
    });
  },
  function (next) {
    // A failed update leaves the old list as it was.
    host.copyFile(folder + "list", folder + "list.xml");
    ext.updateInstallerList(servers.fault + "missing.xml?tag=l" + run, folder + "list.xml", false, false, function (result) {
      if (result === 10) return;
      check(result !== 0, "failed list update: " + result);
      checkEqual(ext.getCrc(folder + "list.xml"), ext.getCrc(folder + "list"), "old list untouched");
      next();
    });
  },
  function (next) {
    // The size probe keeps its abort to itself: a download that begins meanwhile goes on.
    var ended = false, probed = false;
    ext.download(servers.fault + "data1000.bin?tag=p" + run + "&delay=0.5", folder + "during.bin", "", false, false,
                 function (result) {
      if (result === 10) return;
      checkEqual(result, 0, "download during the size probe");
      ended = true;
      if (probed) next();
    });
    ext.initDownloadSize(servers.fault + "data3m.bin?tag=s" + run + "&delay=2", folder + "probe.bin", false);
    checkEqual(ext.isFileExists(folder + "probe.bin.temp"), false, "no probe file");
    checkEqual(ext.isFileExists(folder + "probe.bin"), false, "no data file");
    probed = true;
    if (ended) next();
  },
  function (next) {
    ext.initDownloadSize(servers.nginx + "data3m.bin", folder + "probe.bin", false);
    checkEqual(ext.getProperty("downloadTotal"), "3145851", "announced length");
    checkEqual(ext.isFileExists(folder + "probe.bin.temp"), false, "no probe file");
    finish();
  }
]);
