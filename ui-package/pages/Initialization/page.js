// Records how the stub was started, then goes on. ECMAScript 5.
$(function () {
  Common.initChrome(function () {
    Common.track("Close");
    Common.cancel();
  });
  Common.setProp("isISO", pageFeatures.isISO ? "true" : "false");
  window.setTimeout(Common.next, pageFeatures.delayMs);
});
