// A ZIP download with "__Extract_In_Download__" = "true" is extracted by the download: both
// folders are properties and registry values for a relaunch, the transfer fills 95 % of the bar, and the
// later install of that ZIP runs setup.exe from there and then removes the extraction. The checked
// package stays locked against writing and deleting from the end of its download until its install
// has finished.
var servers = testServers();
var folder = tempFolder("HalvernDownloadZip");
var bin = window.external.getCurrentPath();
var fixtures = bin.substring(0, bin.lastIndexOf("\\") + 1) + "install-fixtures\\";
check(host.copyFile(fixtures + "setup-top.zip", servers.docroot + "download-package.zip"), "package served");
var path = folder + "package.zip";
var out = folder + "arguments.txt";
var report = folder + "locks.txt";
var key = "HKEY_CURRENT_USER\\SOFTWARE\\Velmora\\stubframework\\HLVN\\77\\ResumeRecord\\ExtractFolders";
window.external.setProperty("__Extract_In_Download__", "true");

recordDownload(servers.nginx + "download-package.zip", path, "", false, false, function (result, record) {
  checkEqual(result, 0, "ZIP download");
  // The transfer fills 95 % of the bar, the extraction the rest.
  check(record.current >= Math.floor(record.total * 0.95) && record.current <= record.total,
        "the bar at the end: " + record.current + " of " + record.total);
  checkEqual(window.external.getProperty("__Extract_ZIP_In_Download_Progress__"), "false", "extraction over");
  var extraction = window.external.getProperty(path + "__ZIP_Unzip_Folder__");
  var setup = window.external.getProperty(path + "__ZIP_EXE_Path__");
  check(extraction !== "" && setup.indexOf(extraction.replace(/\\$/, "")) === 0, "folders " + extraction + ", " + setup);
  check(window.external.isFileExists(setup.replace(/\\?$/, "\\") + "setup.exe"), "setup.exe extracted");
  checkEqual(window.external.getDataFromReg(key, path + "__ZIP_Unzip_Folder__"), extraction, "registry: extraction");
  checkEqual(window.external.getDataFromReg(key, path + "__ZIP_EXE_Path__"), setup, "registry: setup folder");
  check(!host.writeText(path, "changed"), "the downloaded package is locked before its install");
  window.external.install(path, "out=\"" + out + "\" lock=\"" + path + "\" report=\"" + report + "\"", 0, function (result) {
    if (result === 10) return;
    checkEqual(result, 0, "install of the extracted package");
    checkEqual(host.readText(report), "32 32", "writing and deleting the package refused while setup.exe runs");
    check(host.writeText(path, "changed"), "the package is released after its install");
    check(window.external.isFileExists(out), "setup.exe ran");
    check(!window.external.isFileExists(setup.replace(/\\?$/, "\\") + "setup.exe"), "extraction removed");
    finish();
  });
});
