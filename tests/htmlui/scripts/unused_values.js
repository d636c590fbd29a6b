// page scripts: ../tools/page-bridge/method-table.js
// Every method that returns a value, called as a plain statement: the engine then passes no
// result slot (flags 1). Those that take arguments accept only flags 3 and refuse the call form;
// the others return without writing a result, which would end the run here.
var called = 0;
for (var name in MethodTable) {
  if (!MethodTable.hasOwnProperty(name)) continue;
  var entry = MethodTable[name];
  if (entry.flags !== 3 && !entry.value) continue;
  var args = [];
  for (var n = 0; n < entry.args; n++) args.push("\"x\"");
  var statement = new Function("window.external." + name + "(" + args.join(", ") + ");");
  if (entry.flags === 3) checkThrows(statement, DISP_E_MEMBERNOTFOUND, name + " as a statement");
  else statement();
  called++;
}
check(called > 0, "value-returning methods in the table");
finish();
