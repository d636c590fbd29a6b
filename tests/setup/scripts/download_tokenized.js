// Secure downloads exchange their file and ".meta" URLs at the installer service first. A
// tokenized URL is the one fetched; an exchange that yields nothing (a null tokenizedUrl, an
// answer without it, a connection closed unanswered) leaves the download to the original URL.
host.setTimeLimit(90);
var servers = testServers();
var service = installerService();
var folder = tempFolder("HalvernDownloadTokenized");
var run = "-" + new Date().getTime();

function countOf(text, part) {
  var count = 0;
  for (var at = text.indexOf(part); at >= 0; at = text.indexOf(part, at + 1)) count++;
  return count;
}

function startsWith(text, start) { return text.substring(0, start.length) === start; }

// A plain download carries its tag in the original URL, so the fault server sees the original
// query, and after it what the service added (via) and the time stamp. A verified download's
// ".meta" URL is its URL plus ".meta", so the original has no query there and only the service's
// tokenized URL carries the tag.
var plainFile = "data1000.bin", verifiedFile = "data10m.bin";
var cases = [
  {name: "null", answers: '{"tokenizedUrl": null}'},
  {name: "absent", answers: '{}'},
  {name: "unanswered", answers: '{"tokenAnswer": null}'},
  {name: "tokenized", answers: '{"tokenizedUrl": "{url}&via=token"}', via: "via=token&"},
  {name: "tokenized-verified", verified: true, answers: '{"tokenizedUrl": "{url}?tag=verified' + run + '"}'}
];

var steps = [];
for (var i = 0; i < cases.length; i++) {
  steps.push((function (c) {
    return function (next) {
      var file = c.verified ? verifiedFile : plainFile;
      var tag = c.verified ? "verified" + run : c.name + run;
      var url = servers.fault + file + (c.verified ? "" : "?tag=" + tag);
      check(host.writeText(service.answers, c.answers), c.name + ": answers written");
      var crc = window.external.getCrc(servers.docroot + file);
      recordDownload(url, folder + c.name + ".bin", crc, true, !!c.verified, function (result) {
        checkEqual(result, 0, c.name + ": result");
        checkEqual(window.external.getCrc(folder + c.name + ".bin"), crc, c.name + ": CRC of the file");
        var exchanges = host.readText(service.requestsLog);
        check(countOf(exchanges, "url=" + url + " -> ") > 0, c.name + ": file URL exchanged");
        check(countOf(exchanges, "url=" + url + ".meta -> ") > 0, c.name + ": meta URL exchanged");
        var requests = faultRequests(servers, tag), fromFile = 0, fromMeta = 0;
        for (var r = 0; r < requests.length; r++) {
          var target = requests[r].target;
          if (c.verified) {
            fromFile += startsWith(target, "/" + file + "?tag=" + tag);
            fromMeta += startsWith(target, "/" + file + ".meta?tag=" + tag);
          } else {
            fromFile += startsWith(target, "/" + file + "?tag=" + tag + "&" + (c.via || "") + "timestamp=");
          }
          host.log(c.name + ": " + target);
        }
        check(fromFile > 0 && fromFile === requests.length - fromMeta,
              c.name + ": every request from the expected URL");
        if (c.verified) check(fromMeta > 0, c.name + ": meta fetched from the tokenized URL");
        next();
      });
    };
  })(cases[i]));
}
steps.push(function (next) {
  host.writeText(service.answers, '{"country": "US", "isEmbargo": false, "tokenizedUrl": "{url}"}');
  next();
});
runSteps(steps);
