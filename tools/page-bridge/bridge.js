// The browser side of the page bridge, sent ahead of every page's own scripts: window.external
// becomes a proxy whose calls run on the native side's user-interface thread as the HTML engine
// would make them there. The method table (MethodTable, in the same function scope) gives each
// method the flags the engine uses at the pages' call sites. Script functions handed to a method
// stay here under a number; the native side calls them back through a long poll, and each
// call's end is reported with the next poll, so callbacks keep their order and pacing.
var DISP_E_UNKNOWNNAME = -2147352570;
// The engine's script reads a member that is not there as undefined, and calling it fails with
// 0x800A01B6 ("Object doesn't support this property or method"); here that call is a TypeError,
// which gets the engine's number.
var NOT_SUPPORTED = -2146827850;
Object.defineProperty(TypeError.prototype, "number", {
  configurable: true,
  get: function () { return /is not a function/.test(this.message) ? NOT_SUPPORTED : undefined; }
});
var base = "/" + location.pathname.split("/")[1] + "/__bridge__/";
var held = [];  // page functions and objects handed to the native side, by number

function send(endpoint, body) {
  var request = new XMLHttpRequest();
  request.open("POST", base + endpoint, false);
  request.setRequestHeader("Content-Type", "application/json");
  request.send(JSON.stringify(body));
  if (request.status !== 200) throw new Error("page bridge: " + endpoint + " answered " + request.status);
  return JSON.parse(request.responseText);
}

var hello = send("hello", {title: document.title});
var generation = hello.generation;
var methods = {};
(hello.methods || []).forEach(function (name) { methods[name] = true; });

function showWindow(state) {
  if (!state) return;
  document.documentElement.setAttribute("data-bridge-window",
      !state.visible ? "hidden" : state.minimized ? "minimized" : "normal");
}
showWindow(hello.window);

function encode(value) {
  if (value === undefined) return {$undefined: 1};
  if (value === null || typeof value === "string" || typeof value === "boolean" || typeof value === "number")
    return value;
  var id = held.indexOf(value);
  if (id < 0) {
    id = held.length;
    held.push(value);
  }
  return {$fn: id};
}

function decode(value) {
  if (value === null || typeof value !== "object") return value;
  if (value.$undefined) return undefined;
  if (typeof value.$fn === "number") return held[value.$fn];
  return {};  // a native object the page cannot reach through the bridge
}

// Throws what the engine's script sees: an Error whose number is the HRESULT.
function perform(body) {
  body.generation = generation;
  var answer = send("call", body);
  if (answer.window) showWindow(answer.window);
  if (!answer.ok) {
    var error = new Error(answer.message);
    error.number = answer.hresult;
    error.description = answer.message;
    throw error;
  }
  return decode(answer.value);
}

function method(name) {
  return function () {
    var args = Array.prototype.slice.call(arguments).map(encode);
    var entry = Object.prototype.hasOwnProperty.call(MethodTable, name) ? MethodTable[name] : null;
    return perform({op: "call", name: name, flags: entry ? entry.flags : 3, args: args});
  };
}

var external = new Proxy({}, {
  get: function (target, name) {
    if (typeof name !== "string") return undefined;
    if (Object.prototype.hasOwnProperty.call(methods, name)) return method(name);
    try {
      return perform({op: "get", name: name});
    } catch (error) {
      if (error.number === DISP_E_UNKNOWNNAME) return undefined;
      throw error;
    }
  },
  set: function (target, name, value) {
    if (typeof name !== "string") return false;
    perform({op: "put", name: name, value: encode(value)});
    return true;
  },
  deleteProperty: function (target, name) {
    return typeof name === "string" && perform({op: "delete", name: name}) === true;
  },
  has: function (target, name) {
    return typeof name === "string" && (Object.prototype.hasOwnProperty.call(methods, name) ||
                                        external[name] !== undefined);
  }
});
Object.defineProperty(window, "external", {value: external, configurable: true});

function poll(done, failed) {
  var request = new XMLHttpRequest();
  request.open("POST", base + "poll", true);
  request.setRequestHeader("Content-Type", "application/json");
  request.onload = function () {
    if (request.status !== 200) return;
    var answer = JSON.parse(request.responseText);
    if (answer.stale) return;  // another page has taken over, or the window has gone
    if (!answer.event) return poll();
    var event = answer.event, ok = true;
    try {
      held[event.fn].apply(window, event.args.map(decode));
    } catch (error) {
      ok = false;
      setTimeout(function () { throw error; });  // reported as the page's own error
    }
    poll(event.id, !ok);
  };
  request.send(JSON.stringify({generation: generation, title: document.title, done: done, failed: !!failed}));
}

if (document.readyState === "loading")
  document.addEventListener("DOMContentLoaded", function () { poll(); });
else
  poll();
