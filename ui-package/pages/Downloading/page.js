// Downloads the product package (and the partner application when chosen), then installs the
// product. Started after a restart, it takes the run's choices back from the resume record.
// ECMAScript 5.
$(function () {
  Common.initChrome(function () {
    Common.track("Close");
    appExternal.stopDownload();
    Common.cancel();
  });
  if (appExternal.getResumeMode() === Config_ResumeMode.DOWNLOADING) Common.resume();
  Common.setProp("IsSkipInstalled", "false");
  if (Common.prop("osbits") === "64") Common.setProp("isDownload64", "true");
  var progress = new Common.Progress(), list = Common.jobs();
  var size = Common.packageSize(list[0]);
  if (size > 0) Common.setProp("downloadSize", size);
  Common.track("Start");
  Common.download(list, 0, progress, function () {
    $("#heading").attr("data-text", "installingTitle");
    Common.applyTexts();
    Common.installProduct(list, progress);
  });
});
