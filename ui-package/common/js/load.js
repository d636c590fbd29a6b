// The start: language, the environment checks, the window size, then the first page (or the
// page a restart resumes). ECMAScript 5.
var Load = (function () {
  // True when text is a dotted version ("10.0.17134") not below minimum, compared as numbers.
  function versionAtLeast(text, minimum) {
    if (!/^\d+(\.\d+)*$/.test(text)) return false;
    var parts = text.split(".");
    for (var i = 0; i < minimum.length; i++) {
      var part = i < parts.length ? parseInt(parts[i], 10) : 0;
      if (part !== minimum[i]) return part > minimum[i];
    }
    return true;
  }

  function initLanguage() {
    var number = appExternal.getOSLang();
    if (number === 0) number = appExternal.getParsedInstallLanguage("en");
    appExternal.setLang(number);
    var code = Common.prop("lang"), supported = false;
    for (var i = 0; i < installParams.LANG.length; i++) if (installParams.LANG[i] === code) supported = true;
    if (!supported) Common.selectLanguage(installParams.LANG[0]);
  }

  function browserMajor() {
    var version = appExternal.getDataFromReg("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Internet Explorer", "Version");
    return parseInt(version, 10) || 0;
  }

  function hasDotNet() {
    return appExternal.getDataFromReg("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full", "Release") !== "" ||
           appExternal.getDataFromReg("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v3.5", "Version") !== "";
  }

  function architectureSupported() {
    var bits = Common.prop("osbits");
    for (var i = 0; i < Config_Requirements.architectures.length; i++) if (Config_Requirements.architectures[i] === bits) return true;
    return false;
  }

  // Each check in order; the first that fails shows its message.
  var checks = [
    {message: "osTooOld", passes: function () { return versionAtLeast(appExternal.getOSVersionAndBuildNumber(), Config_Requirements.minimumOs); }},
    {message: "browserTooOld", passes: function () { return browserMajor() >= Config_Requirements.minimumBrowserMajor; }},
    {message: "dotNetMissing", passes: hasDotNet},
    {message: "architecture", passes: architectureSupported},
    {message: "runtimeMissing", passes: function () { return appExternal.downloadAndInstallWV2RT() === true; }}
  ];

  // A silent launch has nobody to click a box away: its status and closing step tell the failure.
  function checkEnvironment() {
    initLanguage();
    for (var i = 0; i < checks.length; i++) {
      if (!checks[i].passes()) {
        if (!Common.isSilent()) appExternal.messageBox(Common.text(checks[i].message), stubParams.product);
        return false;
      }
    }
    return true;
  }

  // The wizard's size: 647 x 505 scaled by 4/5 until it fits the available area less 100 pixels,
  // never below a third of it (a tiny or unreported screen must not shrink it to nothing).
  function windowRatio(availableWidth, availableHeight) {
    var ratio = 1, width = 647, height = 505;
    while ((width > availableWidth - 100 || height > availableHeight - 100) && ratio > 0.4) {
      ratio *= 0.8;
      width = width * 4 / 5;
      height = height * 4 / 5;
    }
    return ratio === 1 ? 0.9999 : ratio;
  }

  function start() {
    if (!checkEnvironment()) {
      Common.setStatus(Config_Status.ENVIRONMENT_NOT_MEET);
      return Common.close();
    }
    Common.setStatus(Config_Status.NOTSTART);
    appExternal.setChannel(installParams.CHNL);
    Common.setProp("__Extract_In_Download__", Config_ExtractInDownload ? "true" : "false");
    if (Common.isSilent()) appExternal.hideWindow();
    var ratio = windowRatio(window.screen.availWidth, window.screen.availHeight);
    appExternal.setWindowSize(Math.floor(647 * ratio), Math.floor(505 * ratio));
    Common.setProp("ui_ratio", ratio);
    document.body.style.zoom = ratio;
    var mode = appExternal.getResumeMode();
    if (mode === Config_ResumeMode.DOWNLOADING) return Common.go("Downloading");
    if (mode === Config_ResumeMode.INSTALLING) return Common.go("Installing");
    Common.go(Config_SequencePages[0]);
  }

  return {start: start, versionAtLeast: versionAtLeast, windowRatio: windowRatio};
}());

$(Load.start);
