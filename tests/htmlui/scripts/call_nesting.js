// Calls that re-enter the page through window.external nest on the user-interface thread's stack.
// Their depth is bounded: a deeper call fails as a script exception, and the process lives on.
var ext = window.external;
var STACK_OVERFLOW = 0x800703E9 | 0;  // HRESULT_FROM_WIN32(ERROR_STACK_OVERFLOW)

var deepest = 0;
var refusedAt = 0;
var refusal = 0;
ext.descend = function (level) {
  deepest = level;
  try {
    ext.descend(level + 1);
  } catch (e) {
    if (!refusedAt) {
      refusedAt = level + 1;
      refusal = e.number | 0;
    }
  }
};
// Far deeper than the stack of the user-interface thread could take without the bound.
ext.descend(1);
checkEqual(deepest, 200, "nesting reached through the external object");
checkEqual(refusedAt, 201, "first call refused");
checkEqual(refusal, STACK_OVERFLOW, "error of the refused call");

// The bound counts nesting, not calls: after the recursion unwound the full depth is there again,
// and methods called at the deepest level count like expandos.
deepest = 0;
refusedAt = 0;
ext.descend(1);
checkEqual(deepest, 200, "second recursion");
// nestMethod(first) runs level 200 at nesting depth 201 - first and calls a method from there.
var methodAtDepth = "";
ext.nestMethod = function (level) {
  if (level < 200) return ext.nestMethod(level + 1);
  try {
    var value = ext.getProperty("nested");
  } catch (e) {
    methodAtDepth = "refused";
    return;
  }
  methodAtDepth = "called";
};
ext.nestMethod(1);
checkEqual(methodAtDepth, "refused", "a method called one level too deep");
ext.nestMethod(2);
checkEqual(methodAtDepth, "called", "a method at the deepest level");
finish();
