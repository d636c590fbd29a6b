// A thousand downloads of a small file one after another: every one ends with exactly one final
// call and no progress report ever follows it (recordDownload fails on a late call). One more
// download after the thousandth gives a late call of the last one the time to arrive.
host.setTimeLimit(100);
var servers = testServers();
var folder = tempFolder("HalvernDownloadLoop");
var count = 1000, done = 0, reports = 0;

function downloadNext() {
  recordDownload(servers.nginx + "data1000.bin", folder + "data1000.bin", "", false, false, function (result, record) {
    checkEqual(result, 0, "download " + done);
    reports += record.reports;
    if (++done <= count) {
      downloadNext();
      return;
    }
    host.log(done + " downloads, " + reports + " progress reports");
    finish();
  });
}
downloadNext();
