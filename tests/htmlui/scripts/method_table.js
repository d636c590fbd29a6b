// page scripts: ../tools/page-bridge/method-table.js
// The stub registers exactly the methods of the table the pages are checked against, and each
// accepts the call form and argument count the table gives: called in its form with one
// argument too many, every method refuses the count (a wrong form would be refused first, with
// DISP_E_MEMBERNOTFOUND), so nothing runs.
var names = host.methodNames().split(";"), listed = [];
for (var name in MethodTable) if (MethodTable.hasOwnProperty(name)) listed.push(name);
checkEqual(names.join(";"), listed.sort().join(";"), "registered names");
for (var i = 0; i < listed.length; i++) {
  var entry = MethodTable[listed[i]], args = [];
  for (var n = 0; n <= entry.args; n++) args.push(String(n));
  var call = "window.external." + listed[i] + "(" + args.join(", ") + ")";
  checkThrows(new Function(entry.flags === 3 ? "return " + call + ";" : call + ";"), DISP_E_BADPARAMCOUNT,
              listed[i] + " with " + args.length + " arguments");
}
finish();
