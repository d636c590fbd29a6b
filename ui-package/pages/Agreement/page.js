// The license agreement: Next only once it is accepted. ECMAScript 5.
$(function () {
  function answer(accepted) {
    var choice = accepted ? "yes" : "no";
    Common.event("install.license", "install.license=" + choice);
    Common.trackProperty(Track_Properties.INSTALL_LICENSE, choice);
  }
  Common.initChrome(function () {
    Common.track("Close");
    answer(false);
    Common.cancel();
  });
  var accept = $("#accept");
  accept.prop("checked", Common.prop("select_agreement") === "true");
  function update() {
    $("#btnNext").prop("disabled", !accept.prop("checked"));
  }
  accept.on("change", function () {
    Common.setProp("select_agreement", accept.prop("checked") ? "true" : "false");
    update();
  });
  update();
  $("#btnNext").on("click", function () {
    Common.track("Next");
    answer(true);
    Common.next();
  });
  $("#btnBack").on("click", function () {
    Common.track("Back");
    Common.previous();
  });
  // A silent launch accepts the agreement, as its command line says.
  if (Common.isSilent()) {
    answer(true);
    return Common.next();
  }
  accept.focus();
});
