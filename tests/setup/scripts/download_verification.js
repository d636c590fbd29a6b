// Verified downloads whose served data fails verification. A block bad in the first answer is
// fetched again, and the progress bar follows that fetch to its end; a block bad in every answer
// ends with Failure after the engine's own fetches (the whole file, then the block three times in
// a row), without the worker's retries.
host.setTimeLimit(90);
var servers = testServers();
var folder = tempFolder("HalvernVerification");
var run = "-" + new Date().getTime();
var total = 10 * 1024 * 1024 - 1000;

// The faults stand in the path, so the ".meta" is served plainly. The second answer of the first
// case comes in 24 pieces 50 ms apart: the fetch again of blocks 4 to 9 takes a second.
var cases = [
  {name: "bad-once", faults: "serve.0=data10m-bad.bin&chunk.1=262144&pause.1=0.05", result: 0, requests: 2},
  {name: "bad-always", faults: "serve=data10m-bad.bin", result: 4, requests: 4}
];

var steps = [];
for (var i = 0; i < cases.length; i++) {
  steps.push((function (c) {
    return function (next) {
      var tag = c.name + run;
      var reportsAtEnd = -1, refetchReports = 0;
      var record = recordDownload(servers.fault + "faults/" + c.faults + "&tag=" + tag + "/data10m.bin",
                                  folder + c.name + ".bin", "", false, true, function (result) {
        host.log(c.name + ": " + refetchReports + " reports below the end after it was first reached, " +
                 faultRequests(servers, tag).length + " requests, result " + result);
        checkEqual(result, c.result, c.name + ": result");
        checkEqual(faultRequests(servers, tag).length, c.requests, c.name + ": requests for the file");
        if (c.result === 0) {
          check(refetchReports > 0, c.name + ": reports while the bad block was fetched again");
          checkEqual(record.current, total, c.name + ": the last report shows the end");
        }
        next();
      });
      record.mayFall = true;
      record.onReport = function () {
        if (reportsAtEnd < 0 && record.current >= total) reportsAtEnd = record.reports;
        if (reportsAtEnd >= 0 && record.current < total) refetchReports++;
      };
    };
  })(cases[i]));
}
runSteps(steps);
