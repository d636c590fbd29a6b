// The tracker dialog's own COM code driven by a product-analytics page, which this scenario is:
// it defines trackEvent, and the dialog's window.external is its way back (PostJSMessage).
// Events are handed over as the tracking thread hands them (host.deliverEvent); every line
// goes to the product analytics log.
var tracker = host.trackerPage();
var received = [];
function trackEvent(json) {
  received.push(json);
  // An event may be acknowledged inside trackEvent.
  if (json === "acknowledged inside") tracker.PostJSMessage("eventTracked");
  return "handled " + json;
}

function logged(text) { return host.analyticsLog().indexOf(text) >= 0; }

// A call to the page's trackEvent, acknowledged afterwards.
host.deliverEvent("{\"event\":\"first\"}");
checkEqual(received.join("|"), "{\"event\":\"first\"}", "trackEvent called with the event text");
checkEqual(host.pendingAcknowledgements(), 1, "pending after the call");
check(logged("calling JS 'trackEvent' begins"), "begins logged");
check(logged("calling JS 'trackEvent' success"), "success logged");
check(logged("vaArgsRet:\nhandled {\"event\":\"first\"}"), "trackEvent's value logged");
check(logged("calling JS 'trackEvent' ends"), "ends logged");
tracker.PostJSMessage("eventTracked");
checkEqual(host.pendingAcknowledgements(), 0, "acknowledged");
host.deliverEvent("acknowledged inside");
checkEqual(host.pendingAcknowledgements(), 0, "acknowledged inside trackEvent");

// The lookup finds PostJSMessage in any case; the text is what counts, exactly.
tracker.postjsmessage("JS DEBUG: 100% done");
check(logged("JS DEBUG: 100% done"), "debug text logged literally");
tracker.PostJSMessage("js debug: lower case");
check(!logged("js debug: lower case"), "another prefix ignored");
host.deliverEvent("second");
tracker.PostJSMessage("eventtracked");
checkEqual(host.pendingAcknowledgements(), 1, "eventtracked in lower case acknowledges nothing");
tracker.PostJSMessage("eventTracked");

// Invoke: one positional argument, a method call; no other member.
checkThrows(function () { tracker.PostJSMessage(); }, DISP_E_BADPARAMCOUNT, "PostJSMessage without an argument");
checkThrows(function () { tracker.PostJSMessage("a", "b"); }, DISP_E_BADPARAMCOUNT, "PostJSMessage with two");
var unknown = 0;
try {
  tracker.SendMessage("eventTracked");
} catch (e) {
  unknown = e.number;
}
check(unknown !== 0, "another name is no member");
checkEqual(host.pendingAcknowledgements(), 0, "nothing acknowledged by another name");

// A page without a document, without trackEvent, whose trackEvent fails, or whose document
// throws: nothing is pending, and the log says which.
var cases = [["none", "calling JS 'trackEvent' failed, m_spHtmlDoc is NULL, errorCode: "],
             ["other", "CallJScriptFunct failed, errorCode: "],
             ["failing", "calling JS 'trackEvent' failed, errorCode: "],
             ["throw", "calling JS 'trackEvent' exception, errorCode: "]];
for (var i = 0; i < cases.length; i++) {
  host.deliverEvent("lost " + cases[i][0], cases[i][0]);
  checkEqual(host.pendingAcknowledgements(), 0, cases[i][0] + ": pending");
  check(logged(cases[i][1]), cases[i][0] + ": " + cases[i][1]);
}
checkEqual(received.length, 3, "calls that reached this page's trackEvent");
finish();
