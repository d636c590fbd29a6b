// Language choice and the start of the installation's analytics. ECMAScript 5.
$(function () {
  Common.initChrome(function () {
    Common.track("Close");
    Common.cancel();
  });
  var select = $("#language"), current = Common.prop("selected_lang") || Common.lang();
  for (var i = 0; i < installParams.LANG.length; i++) {
    var code = installParams.LANG[i], names = stubParams.languages[code];
    if (names) select.append($("<option>").val(code).text(names.languageName).attr("lang", code));
  }
  select.val(current);
  select.closest(".field").toggle(pageFeatures.languageChoice);
  select.on("change", function () {
    var code = select.val();
    Common.setProp("selected_lang", code);
    if (Common.selectLanguage(code)) Common.trackProperty(Track_Properties.STUB_LANGUAGE, code);
    Common.applyTexts();
  });
  Common.trackProperty(Track_Properties.STUB_LANGUAGE, Common.lang());
  Common.trackProperty(Track_Properties.STUB_CHANNEL, installParams.CHNL);
  Common.trackProperty(Track_Properties.MSI_FILE_NAME, Common.fileName(Common.expand(installParams.DOWNLOAD_URL, ["lang", "osbits"])));
  Common.event("install.start", "");
  $("#btnNext").on("click", function () {
    Common.track("Next");
    Common.next();
  });
  if (Common.isSilent()) return Common.next();
  $("#btnNext").focus();
});
