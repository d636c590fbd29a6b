// The optional partner application. ECMAScript 5.
$(function () {
  Common.initChrome(function () {
    Common.track("Close");
    Common.cancel();
  });
  var chosen = Common.prop("selectOptional") === "yes" ? "yes" : "no";
  $("input[name=optional][value=" + chosen + "]").prop("checked", true);
  function store() {
    Common.setProp("selectOptional", $("input[name=optional]:checked").val() === "yes" ? "yes" : "no");
  }
  $("#btnNext").on("click", function () {
    store();
    Common.track("Made");
    Common.next();
  });
  $("#btnBack").on("click", function () {
    store();
    Common.previous();
  });
  // A silent launch installs no extra application.
  if (Common.isSilent()) {
    Common.setProp("selectOptional", "no");
    return Common.next();
  }
  $("input[name=optional]:checked").focus();
});
