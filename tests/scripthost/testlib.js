// Shared helpers of the script tests: checks that stop the run with exit code 1 and a message,
// and the HRESULTs the script API answers with (as the script engine reports them).
var DISP_E_MEMBERNOTFOUND = 0x80020003 | 0;
var DISP_E_BADPARAMCOUNT = 0x8002000E | 0;
var DISP_E_TYPEMISMATCH = 0x80020005 | 0;
var DISP_E_UNKNOWNNAME = 0x80020006 | 0;
var E_NOTIMPL = 0x80004001 | 0;
var STG_E_INVALIDPARAMETER = 0x80030057 | 0;

var failures = 0;

function fail(message) {
  failures++;
  host.log("FAIL: " + message);
}

function check(condition, message) {
  if (!condition) fail(message);
}

function checkEqual(actual, expected, message) {
  if (actual !== expected) fail(message + ": expected [" + expected + "] but got [" + actual + "]");
}

// Runs f and checks that it throws the given HRESULT.
function checkThrows(f, hresult, message) {
  try {
    f();
  } catch (e) {
    if ((e.number | 0) !== hresult)
      fail(message + ": expected error 0x" + (hresult >>> 0).toString(16) + " but got 0x" + (e.number >>> 0).toString(16));
    return;
  }
  fail(message + ": no error");
}

// Ends the run: 0 when every check passed.
function finish() {
  host.exit(failures === 0 ? 0 : 1);
}
