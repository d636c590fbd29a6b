// Nothing the page waits for depends on a server's answer. stopDownload ends a download with
// Abort within a second and without another request, while the server answers 503, refuses the
// connection or accepts and never answers, plain or verified; the self-update check and the size
// probe against a server that never answers return within their deadline (10 s); closing the
// window while a download retries ends the run's worker stop within a second.
host.setTimeLimit(100);
var servers = testServers();
var ext = window.external;
var folder = tempFolder("HalvernBoundedWaits");
var run = "-" + new Date().getTime();
var refused = "http://127.0.0.1:1/";

function now() { return new Date().getTime(); }

// Polls (the page's thread sleeps meanwhile) until ready() or ms have passed.
function waitUntil(ready, ms) {
  for (var waited = 0; !ready() && waited < ms; waited += 50) host.sleep(50);
}

// The faults stand in the path for verified downloads, whose ".meta" is then served plainly.
var cases = [
  {name: "503-plain", url: function (tag) { return servers.fault + "data1000.bin?tag=" + tag + "&status=503"; },
   requests: 2},
  {name: "503-verified", resume: true, requests: 2,
   url: function (tag) { return servers.fault + "faults/status=503&tag=" + tag + "/data10m.bin"; }},
  {name: "refused-plain", url: function () { return refused + "data1000.bin"; }},
  {name: "refused-verified", resume: true, url: function () { return refused + "data10m.bin"; }},
  {name: "silent-plain", url: function (tag) { return servers.fault + "data1000.bin?tag=" + tag + "&delay=600"; },
   requests: 1},
  {name: "silent-verified", resume: true, requests: 1,
   url: function (tag) { return servers.fault + "faults/delay=600&tag=" + tag + "/data10m.bin"; }}
];
var requestsAtEnd = {};

var steps = [];
for (var i = 0; i < cases.length; i++) {
  steps.push((function (c) {
    return function (next) {
      var tag = c.name + run;
      var stoppedAt = 0;
      recordDownload(c.url(tag), folder + c.name + ".bin", "", false, !!c.resume, function (result) {
        var took = now() - stoppedAt;
        host.log(c.name + ": final call " + took + " ms after the stop");
        check(stoppedAt > 0, c.name + ": no final call before the stop");
        checkEqual(result, 5, c.name + ": result");
        check(took < 1000, c.name + ": Abort within a second of the stop, not " + took + " ms");
        requestsAtEnd[tag] = faultRequests(servers, tag).length;
        next();
      });
      // Stopped while the attempts go on: after the requests that show it, else after a while.
      if (c.requests) waitUntil(function () { return faultRequests(servers, tag).length >= c.requests; }, 10000);
      else host.sleep(1500);
      if (c.requests) check(faultRequests(servers, tag).length >= c.requests, c.name + ": requests before the stop");
      ext.stopDownload();
      stoppedAt = now();
    };
  })(cases[i]));
}

steps.push(function (next) {
  var started = now();
  checkEqual(ext.isNeedSelfUpdate(servers.fault + "stub.exe?tag=self" + run + "&delay=600&"), false,
             "a .meta that never answers: no update");
  var took = now() - started;
  host.log("isNeedSelfUpdate against a silent server: " + took + " ms");
  check(took < 20000, "isNeedSelfUpdate returned within its deadline, not " + took + " ms");
  started = now();
  ext.initDownloadSize(servers.fault + "data3m.bin?tag=size" + run + "&delay=600", folder + "probe.bin", false);
  took = now() - started;
  host.log("initDownloadSize against a silent server: " + took + " ms");
  check(took < 20000, "initDownloadSize returned within its deadline, not " + took + " ms");
  checkEqual(ext.isFileExists(folder + "probe.bin.temp"), false, "no probe file");
  // More than the retries' wait has passed since the last stop: no case asked again.
  for (var tag in requestsAtEnd)
    checkEqual(faultRequests(servers, tag).length, requestsAtEnd[tag], tag + ": requests after the final call");
  next();
});

steps.push(function () {
  var tag = "closed" + run;
  recordDownload(servers.fault + "data1000.bin?tag=" + tag + "&status=503", folder + "closed.bin", "", false, false,
                 function (result) { fail("final call after the end of the run: " + result); });
  waitUntil(function () { return faultRequests(servers, tag).length >= 2; }, 10000);
  ext.closeWindow();
  var asked = now();
  host.endRun(function (ended) {
    var took = now() - asked;
    host.log("end of the run during the retries: " + took + " ms");
    check(ended, "every worker joined");
    check(took < 1000, "the end of the run within a second, not " + took + " ms");
    finish();
  });
});

runSteps(steps);
