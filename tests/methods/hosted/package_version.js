// Needs: msi (a package with ProductVersion 3.14.159.26), text (a text file), missing (no file).
var ext = window.external;
checkEqual(ext.getFileVersion(".msi", msi), "3.14.159.26", "ProductVersion");
checkEqual(ext.getFileVersion(".MSI", msi), "3.14.159.26", "extension in any case");
checkEqual(ext.getFileVersion(".msi", text), "", "text file");
checkEqual(ext.getFileVersion(".msi", missing), "", "missing file");
checkEqual(ext.getFileVersion(".exe", msi), "", "a package has no version resource");
check(host.logText().indexOf("EMGetMSIFileVersion args " + msi + ", Result 3.14.159.26\r\n") >= 0,
      "getFileVersion log");
finish();
