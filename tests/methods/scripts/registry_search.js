// searchRegKey: product codes joined by ";;" under the Uninstall key, keys found at any depth by
// the end of their path, the top key never matching itself, no search below a key that has the
// value, and the registry view.
var ext = window.external;
var uninstall = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
var codeA = "{7D3F0A52-1B9C-4E6A-8F21-A1A1A1A1A1A1}";  // never created
var codeB = "{7D3F0A52-1B9C-4E6A-8F21-B2B2B2B2B2B2}";  // two levels below Uninstall
var codeC = "{7D3F0A52-1B9C-4E6A-8F21-C3C3C3C3C3C3}";  // in a key named "X" + code
var codeD = "{7D3F0A52-1B9C-4E6A-8F21-D4D4D4D4D4D4}";  // in a key named code + "X"
var codeE = "{7D3F0A52-1B9C-4E6A-8F21-E5E5E5E5E5E5}";  // without DisplayName
var codeF = "{7D3F0A52-1B9C-4E6A-8F21-F6F6F6F6F6F6}";  // in the 32-bit view only
var own = "HKCU\\Software\\HalvernRegistrySearchTest";

// [key, view64] pairs, leaves first, so that deleteRegKey can remove them in this order.
var keys = [
  [uninstall + "\\HalvernVendor\\" + codeB, true], [uninstall + "\\HalvernVendor", true],
  [uninstall + "\\X" + codeC, true], [uninstall + "\\" + codeD + "X", true], [uninstall + "\\" + codeE, true],
  [uninstall + "\\" + codeF, false],
  [own + "\\" + codeA, false], [own + "\\Parent\\" + codeB, false], [own + "\\Parent", false], [own, false]
];
function removeKeys() {
  for (var i = 0; i < keys.length; i++) ext.deleteRegKey(keys[i][0], keys[i][1]);
}
removeKeys();
ext.setDataToReg(uninstall + "\\HalvernVendor\\" + codeB, "DisplayName", "Product B", true);
ext.setDataToReg(uninstall + "\\X" + codeC, "DisplayName", "Product C", true);
ext.setDataToReg(uninstall + "\\" + codeD + "X", "DisplayName", "Product D", true);
ext.setDataToReg(uninstall + "\\" + codeE, "Publisher", "Velmora", true);
ext.setDataToReg(uninstall + "\\" + codeF, "DisplayName", "Product F", false);
ext.setDataToReg(own + "\\" + codeA, "DisplayName", "Top A", false);
ext.setDataToReg(own + "\\Parent", "DisplayName", "Parent", false);
ext.setDataToReg(own + "\\Parent\\" + codeB, "DisplayName", "Below parent", false);

checkEqual(ext.searchRegKey(true, uninstall, codeA + ";;" + codeB, "DisplayName"), true,
           "second code two levels below Uninstall, empty item ignored");
checkEqual(ext.searchRegKey(true, uninstall, codeA, "DisplayName"), false, "absent code");
checkEqual(ext.searchRegKey(true, uninstall, codeC.toLowerCase(), "DisplayName"), true,
           "X followed by the code, any case");
checkEqual(ext.searchRegKey(true, uninstall, codeD, "DisplayName"), false, "the code followed by X");
checkEqual(ext.searchRegKey(true, uninstall, codeE, "DisplayName"), false, "key without the value");
checkEqual(ext.searchRegKey(true, uninstall, codeE, "Publisher"), true, "another value name");
checkEqual(ext.searchRegKey(true, uninstall, ";;", "DisplayName"), false, "only empty items");
checkEqual(ext.searchRegKey(true, uninstall, codeF, "DisplayName"), false, "32-bit key in the 64-bit view");
checkEqual(ext.searchRegKey(false, uninstall, codeF, "DisplayName"), true, "32-bit key in the 32-bit view");
checkEqual(ext.searchRegKey(false, own + "\\" + codeA, codeA, "DisplayName"), false, "the top key itself");
checkEqual(ext.searchRegKey(false, own, codeB, "DisplayName"), false, "not searched below a key with the value");
checkEqual(ext.searchRegKey(false, own, "parent", "DisplayName"), true, "the key with the value");
checkEqual(ext.searchRegKey(true, "HKXX\\Software", codeB, "DisplayName"), false, "unknown root");

check(host.logText().indexOf("EMSearchRegKey 1 " + uninstall + " " + codeA + ";;" + codeB + " DisplayName\r\n") >= 0,
      "searchRegKey log");
checkThrows(function () { var v = ext.searchRegKey("true", uninstall, codeB, "DisplayName"); }, DISP_E_TYPEMISMATCH,
            "view as text");
removeKeys();
finish();
