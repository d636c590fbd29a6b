// Installs the downloaded product package, as after a restart that interrupted the
// installation. ECMAScript 5.
$(function () {
  Common.initChrome(function () {
    Common.track("Close");
    Common.cancel();
  });
  if (appExternal.getResumeMode() === Config_ResumeMode.INSTALLING) Common.resume();
  Common.installProduct(Common.jobs(), new Common.Progress());
});
