// arguments: RESUME=INSTALLING
// In a resumed run startRegApps starts the "regApp" programs of the recorded launch-on-exit key
// once, elevated, and removes the key named by the record's GUID; a GUID that is no GUID or not a
// whole component of that key removes and starts nothing.
var ext = window.external;
function logHas(line) { return host.logText().indexOf(line) >= 0; }
function waitForFile(path) {
  for (var i = 0; i < 300 && !ext.isFileExists(path); i++) host.sleep(100);
  return ext.isFileExists(path);
}
host.setTimeLimit(100);
var bin = ext.getCurrentPath();
var fixtures = bin.substring(0, bin.lastIndexOf("\\") + 1) + "install-fixtures\\";
var folder = tempFolder("launch");
check(ext.createDirectory(folder + "Program Files"), "program folder");
var program = folder + "Program Files\\probe.exe";
check(host.copyFile(fixtures + "installer.exe", program), "program copied");
var record = ext.getBaseRegKey() + "\\ResumeManager";
var guid = "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0";
var testKey = "HKEY_LOCAL_MACHINE\\Software\\HalvernLaunchTest";

function startWith(recordGuid, launchOnExit) {
  ext.setDataToReg(record, "folder", "C:\\resume", false);
  ext.setDataToReg(record, "guid", recordGuid, false);
  ext.setDataToReg(record, "launchOnExit", launchOnExit, false);
  ext.startRegApps();
}
function app(name) { return "\"" + program + "\" out=" + folder + name + ".txt"; }

// Refused records first: what they would start is left in place, and nothing of it runs.
var system = testKey + "\\Microsoft\\Apps", partial = testKey + "\\Apps\\x" + guid, sibling = testKey + "\\Apps\\" + guid;
ext.setDataToReg(system, "regApp1", app("system"), false);
ext.setDataToReg(partial, "regApp1", app("partial"), false);
ext.setDataToReg(sibling, "keep", "1", false);
startWith("Microsoft", "HalvernLaunchTest\\Microsoft\\Apps");
startWith(guid, "HalvernLaunchTest\\Apps\\x" + guid);
checkEqual(ext.getDataFromReg(system, "regApp1"), app("system"), "a GUID that is no GUID removes nothing");
checkEqual(ext.getDataFromReg(partial, "regApp1"), app("partial"), "part of a component removes nothing");
checkEqual(ext.getDataFromReg(sibling, "keep"), "1", "nor the key of that GUID beside it");

var apps = testKey + "\\" + guid;
ext.setDataToReg(apps, "regApp1", app("first") + " /quiet \"a b\"", false);
ext.setDataToReg(apps, "RegApp2", app("capital"), false);
startWith(guid, "HalvernLaunchTest\\" + guid);
checkEqual(ext.getDataFromReg(apps, "regApp1"), "", "the list is removed before the programs start");
check(logHas("EMStartRegApps: " + app("first") + " /quiet \"a b\" with result success\r\n"), "start log");
check(waitForFile(folder + "first.txt"), "regApp1 ran");
var recorded = host.readText(folder + "first.txt", "utf-16");
var tail = " out=" + folder + "first.txt /quiet a b";
check(recorded.indexOf(program) >= 0 && recorded.substring(recorded.length - tail.length) === tail,
      "three arguments after out=, the quotes not restored: " + recorded);
check(!ext.isFileExists(folder + "system.txt") && !ext.isFileExists(folder + "partial.txt") &&
      !ext.isFileExists(folder + "capital.txt"), "nothing else ran");

ext.deleteRegKey(record, false);
ext.deleteRegKey(system, false);
ext.deleteRegKey(testKey + "\\Microsoft", false);
ext.deleteRegKey(partial, false);
ext.deleteRegKey(sibling, false);
ext.deleteRegKey(testKey + "\\Apps", false);
ext.deleteRegKey(testKey, false);
finish();
