// Usage statistics: the choice goes to the analytics and to the registry. ECMAScript 5.
$(function () {
  Common.initChrome(function () {
    Common.track("Close");
    Common.cancel();
  });
  // The product key's parent: the base key up to the framework's own element.
  function optInKey() {
    var base = appExternal.getBaseRegKey(), at = base.toLowerCase().indexOf("stubframework");
    return (at < 0 ? base.replace(/[^\\]*$/, "") : base.substring(0, at)) + pageFeatures.optInKey;
  }
  function choose(optIn) {
    var choice = optIn ? "opt-in" : "opt-out";
    Common.event("install.analytics", "install.analytics=" + choice);
    Common.trackProperty(Track_Properties.INSTALL_ANALYTICS, choice);
    appExternal.setDataToReg(optInKey(), "GDPR_OPTIN", optIn ? "1" : "0", true);
    Common.next();
  }
  $("#btnAgree").on("click", function () {
    Common.track("Agree");
    choose(true);
  });
  $("#btnDisagree").on("click", function () {
    Common.track("Disagree");
    choose(false);
  });
  $("#btnBack").on("click", function () {
    Common.track("Back");
    Common.previous();
  });
  // Nobody agreed on a silent launch.
  if (Common.isSilent()) return choose(false);
  $("#btnAgree").focus();
});
