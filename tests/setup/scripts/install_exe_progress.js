// An installer program with an estimated time of 3 s that runs 10 s: the total is 30 tenths, the
// progress stops at 29 while the program runs and reaches 30 only when it has ended.
var bin = window.external.getCurrentPath();
var fixtures = bin.substring(0, bin.lastIndexOf("\\") + 1) + "install-fixtures\\";
var totals = {}, highestBeforeEnd = -1, atTheStop = 0, ended = false;
window.external.install(fixtures + "installer.exe", "sleep=10000 /qn", 3, function (result, total, current) {
  if (result === 10) {
    totals[total] = true;
    if (current < total) highestBeforeEnd = Math.max(highestBeforeEnd, current);
    if (current === 29) atTheStop++;
    return;
  }
  checkEqual(result, 0, "result");
  var seen = [];
  for (var t in totals) seen.push(t);
  checkEqual(seen.join(","), "30", "totals reported");
  checkEqual(highestBeforeEnd, 29, "highest progress while the program ran");
  // Seven seconds at 29, reported every few milliseconds.
  check(atTheStop > 100, "reports at 29: " + atTheStop);
  finish();
});
