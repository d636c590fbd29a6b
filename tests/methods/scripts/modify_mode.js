// arguments: /Modify
checkEqual(window.external.isUninstallModeLaunch(), true, "/Modify on the command line");
checkEqual(window.external.getProperty("uninstallMode"), "modify", "modify mode");
finish();
