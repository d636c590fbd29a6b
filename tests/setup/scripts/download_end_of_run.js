// The window closes while a download runs: the end of the run stops the worker and joins it
// before anything it uses goes, the final call is dropped, and the partial file stays. No worker
// starts afterwards.
var servers = testServers();
var folder = tempFolder("HalvernDownloadEndOfRun");
var path = folder + "data10m.bin";
var tag = "end-" + new Date().getTime();
// 160 pieces with 20 ms before each: three seconds of transfer.
var url = servers.fault + "data10m.bin?tag=" + tag + "&chunk=65536&pause=0.02";
var asked = false;
var record = recordDownload(url, path, "", false, false, function (result) {
  fail("final call after the end of the run: " + result);
});
var reportsAtEnd = -1;
// A progress report is a call from the reporter thread, so the end is asked for here and runs
// once the call has returned, as closeWindow ends the main window's loop.
record.onReport = function () {
  if (asked || record.current === 0) return;
  asked = true;
  window.external.closeWindow();
  host.endRun(function (ended) {
    check(ended, "every worker joined");
    reportsAtEnd = record.reports;
    checkEqual(record.finals, 0, "final calls");
    var size = Number(window.external.getFileSize(path));
    check(size > 0 && size < 10 * 1024 * 1024 - 1000, "partial file kept: " + size);
    host.log("stopped after " + record.reports + " reports with " + size + " bytes on disk");
    var log = host.logText();
    check(log.indexOf("ZSClose") >= 0, "closeWindow logged");
    check(log.indexOf("TransferDownloadError HRESULT: 80004004") >= 0, "stopped, not failed");
    checkEqual(faultRequests(servers, tag).length, 1, "requests: stopped, never retried");
    // The run is ending: a new download starts no worker and calls nothing back.
    recordDownload(servers.nginx + "data1000.bin", folder + "late.bin", "", false, false, function () {
      fail("a download started after the end of the run");
    });
    checkEqual(record.reports, reportsAtEnd, "reports after the end");
    finish();
  });
};
