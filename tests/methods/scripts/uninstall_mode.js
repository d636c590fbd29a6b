// arguments: /UNINSTALL RESUME=downloading
var ext = window.external;
checkEqual(ext.isUninstallModeLaunch(), true, "/UNINSTALL on the command line");
checkEqual(ext.getProperty("uninstallMode"), "uninstall", "uninstall mode");
checkEqual(ext.getProperty("defaultOption"), "uninstall", "default option");
checkEqual(ext.getResumeMode(), 1, "RESUME=downloading in any case");
finish();
