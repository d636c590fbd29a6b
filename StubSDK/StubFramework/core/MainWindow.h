#pragma once
// The run of the user interface: the borderless "HTMLUI" window hosting the page, its message
// loop and placement rule, then the end-of-run work (final status, failure report, log copy,
// clean-up of extraction folders).
#include <windows.h>

#include <string>

namespace stubframework::core {

class HtmlExternal;
struct FrameworkCore;

// What fills the main window: the page's HTML document, or another view of the same pages (a
// page author's bridge to a browser). The window and its loop stay the same, so everything the
// script does to the window acts alike in either. Called on the user-interface thread only.
class PageView {
 public:
  virtual ~PageView() = default;
  // Shows pagePath in window, whose external object is external; false refuses the window.
  virtual bool Open(HWND window, const wchar_t* pagePath, HtmlExternal* external) = 0;
  // The window's client area changed.
  virtual void Resize() {}
  // True when the view consumed the message (its accelerators).
  virtual bool TranslateAccelerator(MSG& message) { return false; }
  // The window is going away; Open may not have succeeded.
  virtual void Close() = 0;
};

// The run's user interface in view (the page's HTML document when null), then the end-of-run
// work.
void RunUserInterface(FrameworkCore* core, HtmlExternal* external, PageView* view = nullptr);

// Creates the window for folder + "Load.html" and pumps messages until it is closed.
void RunMessageLoop(const std::wstring& folder, HtmlExternal* external, PageView* view = nullptr);

// Asks the main window to close, as WM_CLOSE does; false when window is not the main window.
bool RequestClose(HWND window);

// What the placement rule needs to know about the screen and the window.
struct WindowMetrics {
  int dpi = 96;
  DWORD style = WS_POPUP;
  DWORD exStyle = 0;
  RECT reference = {};  // the owner's rectangle, or the work area of the cursor's monitor
  RECT workArea = {};
};

// Centres a client area of width x height logical (96-DPI) pixels on the reference rectangle,
// scaled to the DPI; the outer size is kept between 0 and the work area's, and the window inside
// the work area's left and top edges.
RECT PlaceWindow(const WindowMetrics& metrics, int width, int height);
WindowMetrics MeasureWindow(HWND window);
RECT ComputeWindowRect(HWND window, int width, int height);

// Applies the placement rule when the outer size changes; a move alone is never applied.
void ResizeWindow(HtmlExternal* external, int width, int height);
// 400 x 200 when the page has not sized the window yet.
void EnsureDefaultSize(HtmlExternal* external);

// The final status for a run that ended with status and the property "uninstallOption": statuses
// below 4 (0 becoming 3) get 70, 80 or 90 for "Modify", "Repair" or "Remove".
int SettleFinalStatus(int status, const std::wstring& uninstallOption);

}  // namespace stubframework::core
