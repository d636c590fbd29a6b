// Retries as the page sees them: a server that fails five times and then serves, stopDownload
// during a verified download, and a server that cannot be reached at all.
host.setTimeLimit(90);
var servers = testServers();
var folder = tempFolder("HalvernDownloadRetries");
var run = "-" + new Date().getTime();

runSteps([
  function (next) {
    var tag = "five" + run, url = servers.fault + "data1000.bin?tag=" + tag;
    for (var i = 0; i < 5; i++) url += "&status." + i + "=503";
    var started = new Date().getTime();
    recordDownload(url, folder + "five.bin", "", false, false, function (result) {
      var waited = new Date().getTime() - started;
      host.log("five failures, then served: " + waited + " ms");
      checkEqual(result, 0, "after five failures");
      checkEqual(faultRequests(servers, tag).length, 6, "attempts");
      check(waited >= 4000, "a second between attempts: " + waited + " ms");
      checkEqual(window.external.getFileSize(folder + "five.bin"), "1000", "size");
      next();
    });
  },
  function (next) {
    var before = countOf(host.logText(), "TransferDownloadError HRESULT: 80004004");
    var stopped = false;
    var record = recordDownload(servers.nginx + "data10m.bin", folder + "stopped.bin", "", false, true,
                                function (result) {
      checkEqual(result, 5, "stopped verified download");
      var log = host.logText();
      checkEqual(countOf(log, "TransferDownloadError HRESULT: 80004004") - before, 1, "attempts after the stop");
      next();
    });
    record.onReport = function () {
      if (!stopped) window.external.stopDownload();
      stopped = true;
    };
  },
  function (next) {
    // Nothing listens on port 1: every attempt fails, and so does the connection check.
    var started = new Date().getTime();
    recordDownload("http://127.0.0.1:1/data1000.bin", folder + "unreachable.bin", "", false, false,
                   function (result) {
      host.log("unreachable server: " + (new Date().getTime() - started) + " ms");
      checkEqual(result, 8, "unreachable server");
      next();
    });
  }
]);
