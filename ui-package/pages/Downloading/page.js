// Downloads the product package (and the partner application when chosen), then installs the
// product. After a restart in the middle of it, the resume record gives back the run's choices.
// ECMAScript 5.
$(function () {
  Common.initChrome(function () {
    Common.track("Close");
    appExternal.stopDownload();
    Common.undoPrepareResume();
    Common.cancel();
  });
  if (appExternal.getResumeMode() === Config_ResumeMode.DOWNLOADING) Common.resume();
  Common.setProp("IsSkipInstalled", "false");
  if (Common.prop("osbits") === "64") Common.setProp("isDownload64", "true");
  var progress = new Common.Progress(), list = Common.jobs();
  var size = Common.packageSize(list[0]);
  if (size > 0) Common.setProp("downloadSize", size);
  Common.prepareResume(Common.pageName());
  Common.track("Start");
  Common.download(list, 0, progress, function () {
    $("#heading").attr("data-text", "installingTitle");
    Common.applyTexts();
    Common.installProduct(list, progress);
  });
});
