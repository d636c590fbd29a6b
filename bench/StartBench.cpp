// The stub's start as its page sees it, for bench/whole-job.sh: from the process's creation to
// the page's first script call. It starts exactly as the stub does (ProductRun: the launcher and
// its copy without run=1, the framework core with the UI package appended to this image extracted,
// the product layer and analytics; then the start report and the main window), and its page view
// stands in for the HTML engine: where the engine would load Load.html, it makes the page's first
// kind of call at once, getProperty("resourceLocation") by name through the external object, and
// closes the window. What the engine itself takes to load and run the page is not in the figure.
//
// Appends to the file that HALVERN_START_TIMES names (see StartTimes.h), FILETIME ticks:
//   ui <created> <entry> <started> <opened> <called>   the user-interface process: its creation,
//       its entry point, ProductRun started (core, package, analytics), the view opened (start
//       report sent, window created) and the first call returned
//   launcher <created>                                 the process started without run=1
// Exits with 1 when the first call fails or returns no package folder.
#include <windows.h>
#include <dispex.h>

#include "StartTimes.h"
#include "core/MainWindow.h"
#include "htmlui/HtmlExternal.h"
#include "product/ProductRun.h"

namespace {

class FirstCallView final : public stubframework::core::PageView {
 public:
  bool Open(HWND window, const wchar_t*, stubframework::core::HtmlExternal* external) override {
    opened = starttimes::Now();
    // As the engine calls a method: the name's id, then the call with the value used.
    BSTR name = SysAllocString(L"getProperty");
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = external->GetDispID(name, fdexNameCaseSensitive, &id);
    SysFreeString(name);
    VARIANT argument;
    argument.vt = VT_BSTR;
    argument.bstrVal = SysAllocString(L"resourceLocation");
    DISPPARAMS params = {&argument, nullptr, 1, 0};
    VARIANT result;
    VariantInit(&result);
    if (SUCCEEDED(hr))
      hr = external->InvokeEx(id, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params, &result,
                              nullptr, nullptr);
    called = starttimes::Now();
    succeeded = SUCCEEDED(hr) && result.vt == VT_BSTR && SysStringLen(result.bstrVal) > 0;
    VariantClear(&result);
    VariantClear(&argument);
    PostMessageW(window, WM_CLOSE, 0, 0);
    return true;
  }
  void Close() override {}

  unsigned long long opened = 0;
  unsigned long long called = 0;
  bool succeeded = false;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  unsigned long long entry = starttimes::Now();
  // As the stub's entry point.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  myexternalmethods::ProductRun run;
  char line[256];
  if (!run.Start()) {
    snprintf(line, sizeof line, "launcher %llu", starttimes::ProcessCreated());
    return starttimes::AppendLine(line) ? 0 : 1;
  }
  unsigned long long started = starttimes::Now();
  FirstCallView view;
  run.Run(&view);
  snprintf(line, sizeof line, "ui %llu %llu %llu %llu %llu", starttimes::ProcessCreated(), entry, started, view.opened,
           view.called);
  bool recorded = view.succeeded && starttimes::AppendLine(line);
  // The end of the run is not measured, and its analytics closing pause (5 s) would only
  // lengthen the series.
  ExitProcess(recorded ? 0 : 1);
}
