// Language, Windows version, start mode, channel and status.
var ext = window.external;
checkEqual(ext.getLanguageByID(1050), 29, "Croatian");
checkEqual(ext.getLanguageByID(2070), 7, "Portuguese (Portugal)");
checkEqual(ext.getLanguageByID(1034), 6, "Spanish, traditional sort");
checkEqual(ext.getLanguageByID(3081), 1, "English (Australia)");
checkEqual(ext.getLanguageByID(0x10409), 1, "only the low 16 bits count");
checkEqual(ext.getParsedInstallLanguage("zu"), 107, "zu");
checkEqual(ext.getParsedInstallLanguage("EN"), 0, "EN");
checkEqual(ext.getParsedInstallLanguage("other"), 0, "other");
checkEqual(typeof ext.getOSLang(), "number", "OS language number");

ext.setLang(13);
checkEqual(ext.getProperty("lang"), "tw", "language code of entry 13");
checkThrows(function () { ext.setLang(108); }, STG_E_INVALIDPARAMETER, "setLang beyond the table");
checkThrows(function () { ext.setLang(-1); }, STG_E_INVALIDPARAMETER, "negative setLang");
checkEqual(ext.getProperty("lang"), "tw", "refused setLang changes nothing");

checkThrows(function () { ext.setInstallStatus(-1); }, STG_E_INVALIDPARAMETER, "status -1");
checkThrows(function () { ext.setInstallStatus(7); }, STG_E_INVALIDPARAMETER, "status 7");
ext.setInstallStatus(6);
check(host.logText().indexOf("EMSetInstallStatus: 6\r\n") >= 0, "status log");
ext.setChannel("beta");
check(host.logText().indexOf("EMSetChannel: beta\r\n") >= 0, "channel log");

checkEqual(ext.getOSVersion(), "10.0", "Windows 10 prefix");
checkEqual(ext.checkOS("Windows 10", "x64"), true, "Windows 10 on 64-bit");
checkEqual(ext.checkOS("Windows 11", "x86"), true, "unknown names require 6.1");
checkEqual(ext.checkOS("Windows 8.1", "X64"), true, "architecture compared without case");
checkEqual(ext.getProperty("OSBitNotSupport"), "", "64-bit system supports x64");
check(host.logText().indexOf("EMCheckOS Result : OS valid\r\n") >= 0, "checkOS log");

checkEqual(ext.getResumeMode(), 0, "no resume argument");
checkEqual(ext.isUninstallModeLaunch(), false, "plain start");
checkEqual(ext.getProperty("uninstallMode"), "", "no uninstall mode");
checkEqual(ext.getLastInstallError(), 0, "no installer ran");
finish();
