// The end of the wizard: the run's status, the product's start, the thank-you page, the partner
// application. ECMAScript 5.
$(function () {
  var status = Common.settleStatus();
  // The run is over: closing reports it as it stands rather than as cancelled.
  Common.initChrome(function () { Common.close(); });
  if (Common.isSilent()) return Common.close();
  appExternal.showWindow();
  var completed = status === Config_Status.COMPLETED;
  $("#result").attr("data-text", completed ? "finishBody" : "finishFailed");
  $("#btnFinish").attr("data-text", completed && pageFeatures.launch && Common.prop("startProgram") ? "launch" : "done");
  Common.applyTexts();

  // Each step runs the next one when it is done.
  function launch(next) {
    var program = Common.prop("startProgram");
    if (!pageFeatures.launch || !program) return next();
    appExternal.startProgram(program, "");
    appExternal.hideWindow();
    if (!pageFeatures.thankYouPage) return next();
    window.setTimeout(function () {
      var opened = appExternal.openPage(Common.expand(installParams.TYP_URL, ["pid", "version", "lang", "osbits", "vid"]));
      next(opened);
    }, pageFeatures.thankYouDelayMs);
  }
  function partner(next) {
    if (Common.prop("selectOptional") !== "yes") return next();
    Common.track("Installed", "Offers");
    $(".progress-block").removeClass("hidden");
    Common.install(Common.jobs()[1], new Common.Progress(), next);
  }
  $("#btnFinish").on("click", function () {
    $("#btnFinish").prop("disabled", true);
    launch(function () {
      partner(function () { Common.close(); });
    });
  });
  $("#btnFinish").focus();
});
