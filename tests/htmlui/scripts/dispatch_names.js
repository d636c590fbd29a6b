// Method names resolve to their 1-based position in code-unit order; case matters unless the
// engine asks without regard to case; unknown names fail.
var fdexNameCaseInsensitive = 8;
var names = host.methodNames().split(";");
function position(name) {
  for (var i = 0; i < names.length; i++) if (names[i] === name) return i + 1;
  return -1;
}
checkEqual(names.length, 71, "framework and product methods");
var sorted = names.slice(0).sort();
checkEqual(sorted.join(";"), names.join(";"), "table order is code-unit order");
check(names[position("checkOS")] === "closeWindow", "checkOS sorts before closeWindow");

checkEqual(host.dispIdOf("download", 0), position("download"), "download's DISPID");
checkEqual(host.dispIdOf("getProperty", 0), position("getProperty"), "getProperty's DISPID");
checkEqual(host.dispIdOf("Download", 0), -1, "Download without case-insensitive lookup");
checkEqual(host.dispIdOf("Download", fdexNameCaseInsensitive), position("download"),
           "Download with case-insensitive lookup");
checkEqual(host.dispIdOf("noSuchMethod", 0), -1, "unknown name");
// A method's name followed by a NUL and more is another name (the host passes the whole counted
// name; Wine's JScript would cut it at the NUL itself).
checkEqual(host.dispIdOf("getProperty\u0000junk", 0), -1, "a method name followed by a NUL");
checkEqual(host.dispIdOf("Download\u0000", fdexNameCaseInsensitive), -1, "also without regard to case");

// Every name is built: a call reaches the method itself, which answers a wrong form with its own
// error rather than E_NOTIMPL.
checkThrows(function () { window.external.getMachineId(1); }, DISP_E_BADPARAMCOUNT, "getMachineId with an argument");
finish();
