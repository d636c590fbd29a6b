// Downloads from the test servers as the page sees them: the CRC checks before and after the
// download, the cache-busting timestamp, a missing file, progress reports and the single final
// call.
var servers = testServers();
var folder = tempFolder("HalvernDownloadResults");
var path = folder + "data1000.bin";
// The request log outlives a run: tags of this run only.
var run = "-" + new Date().getTime();

function checkReset(what) {
  checkEqual(window.external.getProperty("downloadTotal"), "1", what + ": downloadTotal reset");
  checkEqual(window.external.getProperty("downloadCurrent"), "0", what + ": downloadCurrent reset");
}

runSteps([
  function (next) {
    // Empty CRC, a URL with a query: "&timestamp=" and 17 digits are appended, no blanks.
    recordDownload(servers.fault + "data1000.bin?tag=r1" + run, path, "", false, false, function (result, record) {
      checkEqual(result, 0, "plain download");
      checkEqual(window.external.getFileSize(path), "1000", "size");
      check(record.reports > 0, "progress reports");
      checkEqual(record.total, 1000, "reported total");
      checkEqual(record.current, 1000, "last reported current");
      var requests = faultRequests(servers, "r1" + run);
      checkEqual(requests.length, 1, "requests");
      check(new RegExp("^/data1000\\.bin\\?tag=r1" + run + "&timestamp=\\d{17}$").test(requests[0].target),
            "target " + requests[0].target);
      checkReset("plain download");
      next();
    });
  },
  function (next) {
    // A local file with the right CRC is not fetched: one NoError call, no report.
    var crc = window.external.getCrc(path);
    recordDownload(servers.fault + "data1000.bin?tag=r2" + run, path, crc, false, false, function (result, record) {
      checkEqual(result, 0, "file already there");
      checkEqual(record.reports, 0, "reports when nothing was fetched");
      checkEqual(faultRequests(servers, "r2" + run).length, 0, "requests when nothing was fetched");
      checkReset("file already there");
      next();
    });
  },
  function (next) {
    // Another version of the file in its place: the plain request sees the CRC differ and fetches.
    var crc = window.external.getCrc(path);
    recordDownload(servers.nginx + "data1000-v2.bin", path, "", false, false, function (result) {
      checkEqual(result, 0, "other version");
      recordDownload(servers.fault + "data1000.bin?tag=r3" + run, path, crc, false, false, function (result) {
        checkEqual(result, 0, "download after a CRC mismatch");
        checkEqual(window.external.getCrc(path), crc, "CRC after the download");
        check(host.logText().indexOf("File " + path + " crc dismatch") >= 0, "mismatch logged");
        checkEqual(faultRequests(servers, "r3" + run).length, 1, "requests after a mismatch");
        next();
      });
    });
  },
  function (next) {
    // An empty CRC always downloads, even over a complete file.
    recordDownload(servers.fault + "data1000.bin?tag=r4" + run, path, "", false, false, function (result) {
      checkEqual(result, 0, "empty CRC");
      checkEqual(faultRequests(servers, "r4" + run).length, 1, "requests with an empty CRC");
      next();
    });
  },
  function (next) {
    // A file the server does not have: FileNotExist after one attempt.
    recordDownload(servers.fault + "missing.bin?tag=r5" + run, folder + "missing.bin", "", false, false, function (result) {
      checkEqual(result, 2, "missing file");
      checkEqual(faultRequests(servers, "r5" + run).length, 1, "attempts for a missing file");
      next();
    });
  },
  function (next) {
    // A verified, resumable download of 10 MB: reports with the right total, up to it.
    var big = folder + "data10m.bin";
    recordDownload(servers.nginx + "data10m.bin", big, "", false, true, function (result, record) {
      checkEqual(result, 0, "verified download");
      checkEqual(window.external.getFileSize(big), String(10 * 1024 * 1024 - 1000), "verified size");
      checkEqual(record.total, 10 * 1024 * 1024 - 1000, "verified total");
      checkEqual(record.current, record.total, "verified last current");
      checkReset("verified download");
      next();
    });
  },
  function (next) {
    // A resumable request for a file that already has its CRC: nothing is fetched, not even the
    // ".meta".
    var big = folder + "data10m.bin", tag = "r6" + run;
    recordDownload(servers.fault + "data10m.bin?tag=" + tag, big, window.external.getCrc(big), false, true,
                   function (result, record) {
      checkEqual(result, 0, "resumable, file already there");
      checkEqual(record.reports, 0, "reports of a resumable request with nothing to fetch");
      checkEqual(faultRequests(servers, tag).length + faultRequests(servers, tag + ".meta").length, 0,
                 "requests of a resumable request with nothing to fetch");
      next();
    });
  },
  function (next) {
    // A resumable request whose CRC the file lacks logs no mismatch before the download, which
    // verifies the file against its ".meta"; the CRC still differs afterwards: Md5Error.
    var big = folder + "data10m.bin", before = host.logText().length;
    recordDownload(servers.nginx + "data10m.bin", big, "12345", false, true, function (result) {
      checkEqual(result, 6, "CRC differing after the download");
      var log = host.logText().substring(before);
      checkEqual(countOf(log, "Downloaded File " + big + " crc dismatch"), 1, "mismatch after the download logged");
      checkEqual(countOf(log, "File " + big + " crc dismatch"), 1,
                 "only that mismatch: none before a resumable download");
      next();
    });
  },
  function (next) {
    // A verified download of a file the server does not have: FileNotExist after one attempt.
    var before = countOf(host.logText(), "TransferDownloadError HRESULT");
    recordDownload(servers.nginx + "missing.bin", folder + "missing-verified.bin", "", false, true, function (result) {
      checkEqual(result, 2, "missing file, verified download");
      checkEqual(countOf(host.logText(), "TransferDownloadError HRESULT") - before, 1,
                 "attempts for a missing file, verified download");
      next();
    });
  }
]);
