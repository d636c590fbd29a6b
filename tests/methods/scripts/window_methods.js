// Window and dialog methods. The script host runs without a main window, so window commands act
// on no window; the modal boxes are real and answered the way a user answers them.
var ext = window.external;
function logHas(line) { return host.logText().indexOf(line) >= 0; }

host.answerDialog("ok");
checkEqual(ext.confirmMessageBox("Continue?", "Halvern"), true, "OK confirms");
check(logHas("EMConfirmMessageBox Result : Close\r\n"), "log of OK");
host.answerDialog("escape");
checkEqual(ext.confirmMessageBox("Continue?", "Halvern"), false, "Escape cancels");
check(logHas("EMConfirmMessageBox Result : Cancel Close\r\n"), "log of Escape");
host.answerDialog("close");
checkEqual(ext.confirmMessageBox("Continue?", "Halvern"), false, "the close button cancels");
// The box is shown even when the value is not used.
host.answerDialog("cancel");
checkThrows(function () { ext.confirmMessageBox("x", "y"); }, DISP_E_MEMBERNOTFOUND, "confirm as a statement");

host.answerDialog("ok");
ext.messageBox("Disk full", "Halvern Setup");
check(logHas("ZSMessageBox: Disk full Halvern Setup\r\n"), "message box log");

host.answerDialog("cancel");
checkEqual(ext.selectFolder("C:\\windows\\"), "C:\\windows\\", "cancelled picker keeps the initial folder");
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
