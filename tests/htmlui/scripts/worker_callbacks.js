// A worker thread's callbacks reach the script, in order, while the user-interface thread waits in
// its message loop.
var received = [];
host.startWorker(function (i, count) {
  received.push(i);
  if (i === count) {
    checkEqual(received.join(","), "1,2,3,4,5,6,7,8,9,10", "callbacks in order");
    finish();
  }
}, 10);
checkEqual(received.length, 0, "no callback before the script yields");
