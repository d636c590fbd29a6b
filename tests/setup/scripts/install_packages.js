// install through the page's API: Windows Installer packages built by wixl, installed into the
// test prefix for real, the test installer program and a file no installer takes. Only what the
// pinned publisher signed runs: unsigned, another publisher's, and changed files are refused
// with Failure before anything starts. Each install
// ends with exactly one final callback, after which the progress properties read 1 and 0.
var bin = window.external.getCurrentPath();
var fixtures = bin.substring(0, bin.lastIndexOf("\\") + 1) + "install-fixtures\\";
var uninstallKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
var runs = [
  { file: "install-good.msi", parameters: "A=1 /qn", result: 0, code: 0,
    logged: "InstallMsi " + fixtures + "install-good.msi, parameter: A=1\r\n",
    product: "{4D1E6A2B-7C3F-4B8E-9A51-2E6F0C8D3B71}", name: "Halvern Install Good" },
  { file: "install-fail.msi", parameters: "/qn", result: 4, code: 1603,
    product: "{7B2C4E6A-8D0F-4A1C-9E3B-5D7F9A1C3E52}", name: "" },
  { file: "install-reboot.msi", parameters: "/QN", result: 11, code: 3010 },
  { file: "installer.exe", parameters: "exit=3010 /qn", result: 11, code: 3010 },
  { file: "installer.exe", parameters: "exit=1618 /qn", result: 13, code: 1618 },
  { file: "notes.txt", parameters: "/qn", result: 2, code: 1618,
    logged: "Install fail, install path : " + fixtures + "notes.txt, install result : 2\r\n" }
];
var refusedFiles = ["installer-unsigned.exe", "installer-other.exe", "installer-changed.exe", "setup-unsigned.zip",
                    "install-good-unsigned.msi", "install-good-other.msi"];
for (var i = 0; i < refusedFiles.length; ++i)
  runs.push({ file: refusedFiles[i], parameters: "exit=0 /qn", result: 4, code: 1618, refused: true });
var finals = [];
var refusals = 0;

function run(index) {
  if (index === runs.length) {
    checkEqual(finals.join(","), "0,4,11,11,13,2,4,4,4,4,4,4", "one final result per install");
    check(host.logText().indexOf("notes.txt\" ") < 0, "nothing started for the text file");
    finish();
    return;
  }
  var r = runs[index];
  window.external.install(fixtures + r.file, r.parameters, 0, function (result, total, current) {
    if (result === 10) return;
    finals.push(result);
    checkEqual(result, r.result, r.file + " result");
    checkEqual(window.external.getLastInstallError(), r.code, r.file + " last install error");
    checkEqual(window.external.getProperty("installTotal") + "/" + window.external.getProperty("installCurrent"), "1/0",
               r.file + " progress reset");
    if (r.logged) check(host.logText().indexOf(r.logged) >= 0, r.file + " log: " + r.logged);
    if (r.refused) {
      ++refusals;
      checkEqual(host.logText().split(" refused: ").length - 1, refusals, r.file + " refused");
      check(host.logText().indexOf(r.file + "\" exit=0") < 0, r.file + " never started");
    }
    if (r.product)
      checkEqual(window.external.getDataFromReg(uninstallKey + r.product, "DisplayName"), r.name, r.file + " registered");
    run(index + 1);
  });
}
run(0);
