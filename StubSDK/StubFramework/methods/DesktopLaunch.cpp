#include "methods/DesktopLaunch.h"

#include <exdisp.h>
#include <shldisp.h>
#include <shlobj.h>
#include <shlwapi.h>

namespace stubframework {
namespace {

template <class T>
class ComPointer {
 public:
  ComPointer() = default;
  ~ComPointer() {
    if (pointer_) pointer_->Release();
  }
  ComPointer(const ComPointer&) = delete;
  ComPointer& operator=(const ComPointer&) = delete;
  T** out() { return &pointer_; }
  void** outVoid() { return reinterpret_cast<void**>(&pointer_); }
  T* operator->() const { return pointer_; }
  T* get() const { return pointer_; }

 private:
  T* pointer_ = nullptr;
};

// The view of the desktop window, through which Explorer starts programs for the user.
HRESULT FindDesktopView(ComPointer<IShellView>& view) {
  ComPointer<IShellWindows> windows;
  HRESULT hr = CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                windows.outVoid());
  if (FAILED(hr)) return hr;
  VARIANT location, root;
  VariantInit(&location);
  VariantInit(&root);
  long window = 0;
  ComPointer<IDispatch> desktop;
  if (windows->FindWindowSW(&location, &root, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, desktop.out()) != S_OK)
    return E_FAIL;
  ComPointer<IShellBrowser> browser;
  hr = IUnknown_QueryService(desktop.get(), SID_STopLevelBrowser, IID_IShellBrowser, browser.outVoid());
  if (FAILED(hr)) return hr;
  ComPointer<IShellView> active;
  hr = browser->QueryActiveShellView(active.out());
  if (FAILED(hr)) return hr;
  return active->QueryInterface(IID_IShellView, view.outVoid());
}

HRESULT ExecuteThroughView(IShellView* view, const std::wstring& file, const std::wstring& parameters) {
  ComPointer<IDispatch> background;
  HRESULT hr = view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.outVoid());
  if (FAILED(hr)) return hr;
  ComPointer<IShellFolderViewDual> folderView;
  hr = background->QueryInterface(IID_IShellFolderViewDual, folderView.outVoid());
  if (FAILED(hr)) return hr;
  ComPointer<IDispatch> application;
  hr = folderView->get_Application(application.out());
  if (FAILED(hr)) return hr;
  ComPointer<IShellDispatch2> shell;
  hr = application->QueryInterface(IID_IShellDispatch2, shell.outVoid());
  if (FAILED(hr)) return hr;
  AllowSetForegroundWindow(ASFW_ANY);
  BSTR fileText = SysAllocString(file.c_str());
  VARIANT arguments, empty;
  VariantInit(&empty);
  arguments.vt = VT_BSTR;
  arguments.bstrVal = SysAllocString(parameters.c_str());
  hr = shell->ShellExecute(fileText, arguments, empty, empty, empty);
  VariantClear(&arguments);
  SysFreeString(fileText);
  return hr;
}

}  // namespace

HRESULT LaunchAsDesktopUser(const std::wstring& file, const std::wstring& parameters) {
  // Nothing is opened from this elevated process itself: the handler would be the one the user's
  // own classes name, and it would run as administrator.
  ComPointer<IShellView> view;
  HRESULT hr = FindDesktopView(view);
  return SUCCEEDED(hr) ? ExecuteThroughView(view.get(), file, parameters) : hr;
}

}  // namespace stubframework
