#include "core/MainWindow.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <vector>
#include <cwchar>

#include "core/ComRef.h"
#include "core/FrameworkCore.h"
#include "core/UniqueHandle.h"
#include "core/WorkingFolders.h"
#include "htmlui/HtmlExternal.h"
#include "htmlui/MSHTMLClient.h"
#include "methods/LanguageTable.h"

namespace stubframework::core {
namespace {

ATOM g_windowClass = 0;

// The page's HTML document, hosted by its site.
class DocumentView final : public PageView {
 public:
  bool Open(HWND window, const wchar_t* pagePath, HtmlExternal* external) override {
    site_.Reset(new htmlui::MSHTMLClient(window, external));
    return site_->CreateDocument() && site_->LoadPage(pagePath);
  }
  void Resize() override {
    if (site_) site_->ResizeDocument();
  }
  // Offers a message to the document's accelerators first.
  bool TranslateAccelerator(MSG& message) override {
    if (!site_ || !site_->Document()) return false;
    utils::ComRef<IOleInPlaceActiveObject> active;
    if (FAILED(site_->Document()->QueryInterface(IID_IOleInPlaceActiveObject, active.OutVoid()))) return false;
    return active->TranslateAccelerator(&message) == S_OK;
  }
  void Close() override {
    if (!site_) return;
    site_->CloseDocument();
    site_->Detach();
    site_.Reset();
  }

 private:
  utils::ComRef<htmlui::MSHTMLClient> site_;
};

struct CreationParameters {
  const wchar_t* pagePath;
  HtmlExternal* external;
  bool* closeFlag;
  PageView* view;
};

struct WindowData {
  PageView* view;
  HtmlExternal* external;
  HWND focus;  // the control that had the focus when the window was last deactivated
  bool* closeFlag;
};

WindowData* DataOf(HWND window) {
  return reinterpret_cast<WindowData*>(GetWindowLongPtrW(window, 0));
}

// Releases what WM_CREATE built; runs once, whether the window is refused or destroyed.
void OnDestroy(HWND window) {
  WindowData* data = DataOf(window);
  if (!data) return;
  data->view->Close();
  data->external->SetWindow(nullptr);
  SetWindowLongPtrW(window, 0, 0);
  delete data;
}

LRESULT OnCreate(HWND window, const CREATESTRUCTW* create) {
  auto* parameters = static_cast<const CreationParameters*>(create->lpCreateParams);
  if (!parameters || !parameters->pagePath) return -1;
  auto* data = new WindowData{parameters->view, parameters->external, nullptr, parameters->closeFlag};
  SetWindowLongPtrW(window, 0, reinterpret_cast<LONG_PTR>(data));
  parameters->external->SetWindow(window);
  if (parameters->view->Open(window, parameters->pagePath, parameters->external)) return 0;
  OnDestroy(window);
  return -1;
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return OnCreate(window, reinterpret_cast<const CREATESTRUCTW*>(lParam));
    case WM_DESTROY:
      OnDestroy(window);
      return 0;
    case WM_SIZE:
      if (WindowData* data = DataOf(window)) data->view->Resize();
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        if (WindowData* data = DataOf(window)) {
          HWND focus = GetFocus();
          data->focus = focus == window ? nullptr : focus;
        }
      }
      break;
    case WM_SETFOCUS:
      if (WindowData* data = DataOf(window)) {
        if (data->focus) {
          SetFocus(data->focus);
          return 0;
        }
      }
      break;
    case WM_CLOSE:
      if (WindowData* data = DataOf(window)) {
        if (data->closeFlag) {
          *data->closeFlag = true;
          return 0;
        }
      }
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

bool RegisterWindowClass() {
  if (g_windowClass) return true;
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = WindowProcedure;
  windowClass.cbWndExtra = sizeof(WindowData*);
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = kWindowClassName;
  g_windowClass = RegisterClassExW(&windowClass);
  return g_windowClass != 0;
}

// Copies the installer log and the run's other logs for the user into "%TEMP%\<product>_log", as
// new files: the folder is the user's, so nothing there is overwritten, followed or read.
void PreserveLog(FrameworkCore* core) {
  const std::wstring& logPath = core->log->FilePath();
  if (logPath.empty()) return;
  std::wstring folder;
  if (!utils::GetTempSubfolder(core->parameters->ProductId() + L"_log", folder)) return;
  std::vector<std::wstring> logs = {logPath};
  std::wstring runLogs;
  if (utils::GetRunLogFolder(runLogs)) {
    WIN32_FIND_DATAW data;
    utils::FindHandle find(FindFirstFileW((runLogs + L"*").c_str(), &data));
    if (find.Valid()) {
      do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) logs.push_back(runLogs + data.cFileName);
      } while (FindNextFileW(find.Get(), &data));
    }
  }
  for (const std::wstring& log : logs)
    if (!utils::CopyAsNewFile(log, folder)) FrameworkLogError(core, L"log copy of %s not written to %s", log.c_str(), folder.c_str());
}

void RemoveExtractionFolders(FrameworkCore* core) {
  for (const auto& entry : core->parameters->properties.Snapshot()) {
    if (entry.first.find(L"__ZIP_Unzip_Folder__") == std::wstring::npos) continue;
    // The value may come from script: only folders this run made are ever deleted.
    if (utils::IsRunFolder(entry.second)) utils::DeleteFolderTree(entry.second);
  }
}

}  // namespace

void RunMessageLoop(const std::wstring& folder, HtmlExternal* external, PageView* view) {
  wchar_t page[MAX_PATH] = {};
  if (!PathCombineW(page, folder.c_str(), L"Load.html")) return;
  if (!RegisterWindowClass()) return;
  bool closeFlag = false;
  DocumentView document;
  CreationParameters parameters = {page, external, &closeFlag, view ? view : &document};
  HWND window = CreateWindowExW(WS_EX_APPWINDOW, MAKEINTATOM(g_windowClass), nullptr,
                                WS_POPUP | WS_VISIBLE, 0, 0, 0, 0, nullptr, nullptr,
                                GetModuleHandleW(nullptr), &parameters);
  if (!window) return;
  while (!closeFlag) {
    MSG message;
    if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (closeFlag) break;
      WaitMessage();
      continue;
    }
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));  // keep it visible to outer loops
      break;
    }
    if (!parameters.view->TranslateAccelerator(message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  // Workers call into the page: stop and join them while it is still there.
  if (external->GetMethods()) StopFrameworkWorkers(external->GetMethods()->Core());
  DestroyWindow(window);
}

bool RequestClose(HWND window) {
  if (!window || !g_windowClass ||
      static_cast<ATOM>(GetClassLongW(window, GCW_ATOM)) != g_windowClass)
    return false;
  WindowData* data = DataOf(window);
  if (!data || !data->closeFlag) return false;
  *data->closeFlag = true;
  return true;
}

RECT PlaceWindow(const WindowMetrics& metrics, int width, int height) {
  const RECT& ref = metrics.reference;
  const RECT& work = metrics.workArea;
  // The page may ask for any int: scale in 64 bits and keep each size between nothing and the
  // work area's, so the window stays on its monitor and no later sum overflows.
  LONG workWidth = std::max<LONG>(work.right - work.left, 0);
  LONG workHeight = std::max<LONG>(work.bottom - work.top, 0);
  auto scaled = [&metrics](int size, LONG limit) {
    return static_cast<LONG>(std::clamp<long long>(static_cast<long long>(size) * metrics.dpi / 96, 0, limit));
  };
  RECT outer = {0, 0, scaled(width, workWidth), scaled(height, workHeight)};
  AdjustWindowRectEx(&outer, metrics.style, FALSE, metrics.exStyle);
  LONG w = std::min(outer.right - outer.left, workWidth);
  LONG h = std::min(outer.bottom - outer.top, workHeight);
  LONG x = std::min<LONG>((ref.left + ref.right + w) / 2, work.right) - w;
  if (x < work.left) x = work.left;
  LONG y = std::min<LONG>((ref.top + ref.bottom + h) / 2, work.bottom) - h;
  if (y < work.top) y = work.top;
  return RECT{x, y, x + w, y + h};
}

WindowMetrics MeasureWindow(HWND window) {
  WindowMetrics metrics;
  HDC screen = GetDC(nullptr);
  metrics.dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  metrics.style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
  metrics.exStyle = static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE));
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof(monitor);
  HWND owner = GetWindow(window, GW_OWNER);
  if (owner) {
    GetWindowRect(owner, &metrics.reference);
    GetMonitorInfoW(MonitorFromRect(&metrics.reference, MONITOR_DEFAULTTONEAREST), &monitor);
    metrics.workArea = monitor.rcWork;
  } else {
    POINT cursor = {};
    GetCursorPos(&cursor);
    GetMonitorInfoW(MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST), &monitor);
    metrics.workArea = monitor.rcWork;
    metrics.reference = monitor.rcWork;
  }
  return metrics;
}

RECT ComputeWindowRect(HWND window, int width, int height) {
  return PlaceWindow(MeasureWindow(window), width, height);
}

void ResizeWindow(HtmlExternal* external, int width, int height) {
  HWND window = external->Window();
  if (!window) return;
  RECT rect = ComputeWindowRect(window, width, height);
  int w = rect.right - rect.left;
  int h = rect.bottom - rect.top;
  if (w == external->lastWidth && h == external->lastHeight) return;
  external->lastWidth = w;
  external->lastHeight = h;
  SetWindowPos(window, nullptr, rect.left, rect.top, w, h,
               SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
}

void EnsureDefaultSize(HtmlExternal* external) {
  RECT client;
  if (external->Window() && GetClientRect(external->Window(), &client) &&
      (client.right == 0 || client.bottom == 0))
    ResizeWindow(external, 400, 200);
}

int SettleFinalStatus(int status, const std::wstring& uninstallOption) {
  if (status >= 4) return status;
  int settled = status == 0 ? 3 : status;
  if (wcsncmp(uninstallOption.c_str(), L"Modify", 6) == 0) return settled + 70;
  if (wcsncmp(uninstallOption.c_str(), L"Repair", 6) == 0) return settled + 80;
  if (wcsncmp(uninstallOption.c_str(), L"Remove", 6) == 0) return settled + 90;
  return settled;
}

void RunUserInterface(FrameworkCore* core, HtmlExternal* external, PageView* view) {
  StubParameters& parameters = *core->parameters;
  // The window comes up meanwhile: a service that does not answer keeps nobody waiting.
  core->analytics->BeginStartReport();

  if (core->resources->loaded) {
    CoInitialize(nullptr);
    RunMessageLoop(core->resources->folder, external, view);
    CoUninitialize();
  } else {
    methods::SetInstallStatus(parameters, 2);
  }

  int status = parameters.Status();
  std::wstring uninstallOption = parameters.properties.Get(L"uninstallOption");
  if (status < 4) methods::SetInstallStatus(parameters, SettleFinalStatus(status, uninstallOption));

  // The service hears of the end after the start.
  core->analytics->AwaitStartReport();
  core->analytics->ReportEnd();

  if (status == 2) {
    for (const auto& entry : parameters.properties.Snapshot())
      FrameworkLogDebug(core, L"Property %s: %s\n", entry.first.c_str(), entry.second.c_str());
    core->log->Close();
    core->analytics->AddReportAttachment(core->log->FilePath());
    core->analytics->ReportError();
  }

  PreserveLog(core);
  RemoveExtractionFolders(core);
}

}  // namespace stubframework::core
