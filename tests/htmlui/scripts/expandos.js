// Script-created properties of window.external: create, read, overwrite, delete, revive, and a
// stored function called through the object.
var ext = window.external;
var fdexNameCaseInsensitive = 8;
ext.foo = 5;
checkEqual(ext.foo, 5, "expando reads back");
var id = host.dispIdOf("foo", 0);
check((id & 0x80000000) !== 0, "expando DISPID has the high bit set");
ext.foo = "text";
checkEqual(ext.foo, "text", "expando overwritten");

check(delete ext.foo, "deleting an expando succeeds");
checkEqual(host.dispIdOf("foo", 0), -1, "deleted expando is unknown");
// The engine turns the refused lookup into undefined.
checkEqual(typeof ext.foo, "undefined", "reading a deleted expando");
ext.foo = 7;
checkEqual(ext.foo, 7, "revived expando");
checkEqual(host.dispIdOf("foo", 0), id, "revived in the same slot");

ext.second = true;
check(host.dispIdOf("second", 0) === (id | 1), "next expando takes the next slot");

var calls = [];
ext.record = function (a, b) { calls.push(a + "," + b); return a + b; };
checkEqual(ext.record(2, 3), 5, "stored function's result");
checkEqual(calls.join("|"), "2,3", "stored function received its arguments");

// Methods cannot be deleted and keep working.
check(!(delete ext.getProperty), "delete of a method reports false");
ext.setProperty("afterDelete", "yes");
checkEqual(ext.getProperty("afterDelete"), "yes", "method still works after delete");
// A name is exactly its characters, up to its length: one with a NUL inside is a name of its own.
// Wine's JScript cuts a name at its first NUL before it asks the object, so the host asks the
// object with the whole counted name here, looking it up and then reading or assigning it.
ext.x = "plain";
host.putMember("x\u0000y", "inner");
checkEqual(ext.x, "plain", "x is not overwritten through x\\0y");
checkEqual(host.getMember("x\u0000y"), "inner", "x\\0y reads back");
check(host.dispIdOf("x\u0000y", 0) !== host.dispIdOf("x", 0), "x\\0y has a slot of its own");
checkEqual(host.dispIdOf("x\u0000z", 0), -1, "x\\0z was never created");
checkEqual(host.dispIdOf("X\u0000Y", fdexNameCaseInsensitive), host.dispIdOf("x\u0000y", 0),
           "the whole name compared without regard to case");
checkEqual(host.dispIdOf("\u0000", 0), -1, "a lone NUL is not the empty name");
finish();
