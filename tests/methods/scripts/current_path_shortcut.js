// arguments: Shortcut=C:\Other\setup.exe shortcut=C:\Users\A\Downloads\setup.exe shortcut=C:\Third\setup.exe
// getCurrentPath in a relaunched copy: the folder of the first "shortcut=" file (case-sensitive).
checkEqual(window.external.getCurrentPath(), "C:\\Users\\A\\Downloads", "launch folder");
check(host.logText().indexOf("EMGetCurrentPath C:\\Users\\A\\Downloads\r\n") >= 0, "getCurrentPath log");
finish();
