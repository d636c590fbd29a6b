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

// The values of "key=value" lines.
function keyValues(text) {
  var values = {}, lines = text.split("\n");
  for (var i = 0; i < lines.length; i++) {
    var at = lines[i].indexOf("=");
    if (at > 0) values[lines[i].substring(0, at)] = lines[i].substring(at + 1).replace(/\r$/, "");
  }
  return values;
}

// How often part occurs in text.
function countOf(text, part) {
  var count = 0;
  for (var at = text.indexOf(part); at >= 0; at = text.indexOf(part, at + 1)) count++;
  return count;
}

// A Linux path as Wine shows it on drive Z:.
function windowsPath(path) { return "Z:" + path.replace(/\//g, "\\"); }

// The download test servers (host.testServers(), from servers.txt): base URLs of nginx and the
// fault server, and the docroot and the fault server's request log as Windows paths.
function testServers() {
  var values = keyValues(host.testServers());
  if (!values.nginx_port || !values.fault_port) {
    fail("no test servers: HALVERN_TEST_SERVERS is not set");
    finish();
  }
  return {nginx: "http://127.0.0.1:" + values.nginx_port + "/", fault: "http://127.0.0.1:" + values.fault_port + "/",
          docroot: windowsPath(values.docroot) + "\\", requestsLog: windowsPath(values.requests_log)};
}

// The installer service (host.installerService(), from service.txt): its answers file and request
// log as Windows paths.
function installerService() {
  var values = keyValues(host.installerService());
  if (!values.answers || !values.requests_log) {
    fail("no installer service: HALVERN_INSTALLER_SERVICE is not set");
    finish();
  }
  return {answers: windowsPath(values.answers), requestsLog: windowsPath(values.requests_log)};
}

// A fresh, empty folder of this run below the temporary folder, ending with a backslash.
function tempFolder(name) {
  var folder = window.external.getTempPath(name).replace(/\\?$/, "\\") + new Date().getTime() + "\\";
  check(window.external.createDirectory(folder), "folder " + folder + " made");
  return folder;
}

// The requests the fault server logged for tag: {number, target, range, ifRange}.
function faultRequests(servers, tag) {
  var found = [], lines = host.readText(servers.requestsLog).split("\n");
  for (var i = 0; i < lines.length; i++) {
    var fields = lines[i].replace(/\r$/, "").split("\t");
    if (fields.length >= 5 && fields[0] === tag)
      found.push({number: fields[1], target: fields[2], range: fields[3], ifRange: fields[4]});
  }
  return found;
}

// Runs the steps in order; each is called with the function that starts the next one.
function runSteps(steps) {
  var index = 0;
  function next() {
    if (index < steps.length) steps[index++](next);
    else finish();
  }
  next();
}

// external.download with a callback that checks the protocol as the page relies on it: on the
// script's thread, Running (10) reports with a total that stays once data arrived and a current
// that never falls (unless record.mayFall: a verified download fetches again what failed its
// verification; record.falls counts), then exactly one final call. done(result, record) gets the
// final result and what was seen.
function recordDownload(url, path, crc, isSecure, isResume, done) {
  var record = {reports: 0, total: -1, current: -1, finals: 0, falls: 0, mayFall: false, name: url};
  window.external.download(url, path, crc, isSecure, isResume, function (result, total, current) {
    if (record.finals > 0) {
      fail(url + ": a call after the final one: " + result);
      return;
    }
    if (result === 10) {
      // Until the transfer announces its size the reports show the reset values, 1 and 0.
      if (record.current > 0 && total !== record.total) fail(url + ": total changed from " + record.total + " to " + total);
      if (current < record.current) {
        record.falls++;
        if (!record.mayFall) fail(url + ": current fell from " + record.current + " to " + current);
      }
      record.reports++;
      record.total = total;
      record.current = current;
      if (record.onReport) record.onReport();
      return;
    }
    record.finals++;
    done(result, record);
  });
  return record;
}
