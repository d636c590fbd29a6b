// A thousand downloads of a small file one after another: every one ends with exactly one final
// call and no progress report ever follows it (recordDownload fails on a late call).
host.setTimeLimit(100);
var servers = testServers();
var folder = tempFolder("HalvernDownloadLoop");
var count = 1000, done = 0, reports = 0;
var records = [];

function downloadNext() {
  records.push(recordDownload(servers.nginx + "data1000.bin", folder + "data1000.bin", "", false, false,
                              function (result, record) {
    checkEqual(result, 0, "download " + done);
    reports += record.reports;
    if (++done < count) {
      downloadNext();
      return;
    }
    host.log(count + " downloads, " + reports + " progress reports");
    // Late calls would have arrived by now: the worker has joined its reporter before the final
    // call, so none may come.
    for (var i = 0; i < records.length; i++) checkEqual(records[i].finals, 1, "final calls of download " + i);
    finish();
  }));
}
downloadNext();
