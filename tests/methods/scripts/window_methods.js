// Window and dialog methods. The script host runs without a main window, so window commands act
// on no window; the modal boxes are real and answered the way a user answers them.
var ext = window.external;
function logHas(line) { return host.logText().indexOf(line) >= 0; }

// host.answerDialog(answer, call) answers only the box that call shows, and only while it runs.
checkEqual(host.answerDialog("ok", function () { return ext.confirmMessageBox("Continue?", "Halvern"); }), true, "OK confirms");
check(logHas("EMConfirmMessageBox Result : Close\r\n"), "log of OK");
checkEqual(host.answerDialog("escape", function () { return ext.confirmMessageBox("Continue?", "Halvern"); }), false,
           "Escape cancels");
check(logHas("EMConfirmMessageBox Result : Cancel Close\r\n"), "log of Escape");
checkEqual(host.answerDialog("close", function () { return ext.confirmMessageBox("Continue?", "Halvern"); }), false,
           "the close button cancels");

// A call refused before any box appears: the answer armed for it ends with it, and the next box
// gets its own answer.
var refusedRan = false;
host.answerDialog("cancel", function () {
  refusedRan = true;
  checkThrows(function () { ext.confirmMessageBox("x", "y"); }, DISP_E_MEMBERNOTFOUND, "confirm as a statement");
});
check(refusedRan, "the refused call ran under its answer");
checkEqual(host.answerDialog("ok", function () { return ext.confirmMessageBox("After the refusal", "Halvern"); }), true,
           "the box after a refused call gets the answer armed for it");

host.answerDialog("ok", function () { ext.messageBox("Disk full", "Halvern Setup"); });
check(logHas("ZSMessageBox: Disk full Halvern Setup\r\n"), "message box log");

// Only the cancelled picker: Wine's folder picker stays open when OK is pressed on it, so a
// scenario that confirmed a folder would never return.
checkEqual(host.answerDialog("cancel", function () { return ext.selectFolder("C:\\windows\\"); }), "C:\\windows\\",
           "cancelled picker keeps the initial folder");
check(logHas("EMSelectFolder args C:\\windows\\, Result C:\\windows\\\r\n"), "picker log");

ext.setWindowSize(600, 400);
check(logHas("ZSWindowSize: 600\r\n"), "size log shows the width only");
checkThrows(function () { ext.setWindowSize(600, "400"); }, DISP_E_TYPEMISMATCH, "size as text");
ext.closeWindow();
ext.closeWindow();
ext.hideWindow();
ext.showWindow();
ext.minimizedWindow();
check(logHas("EMHideWindow\r\n") && logHas("EMShowWindow\r\n") && logHas("EMMinimizedWindow\r\n"), "window logs");

// The desktop shell accepts the request and reports its failure to the user, not to the caller.
var opened = ext.openPage("C:\\no\\such\\page.html");
checkEqual(typeof opened, "boolean", "openPage answers a bool");
check(logHas("ZSOpenPage: C:\\no\\such\\page.html, result: " + (opened ? "success" : "fail") + "\r\n"), "openPage log");
finish();
