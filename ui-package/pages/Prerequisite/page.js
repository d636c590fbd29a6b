// The system components Halvern needs. ECMAScript 5.
$(function () {
  Common.initChrome(function () {
    Common.track("Close");
    Common.cancel();
  });
  $("#btnNext").on("click", function () {
    Common.track("Next");
    Common.next();
  });
  $("#btnBack").on("click", function () {
    Common.track("Back");
    Common.previous();
  });
  if (Common.isSilent()) return Common.next();
  $("#btnNext").focus();
});
