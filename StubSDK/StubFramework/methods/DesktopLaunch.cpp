#include "methods/DesktopLaunch.h"

#include <exdisp.h>
#include <shldisp.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "core/ComRef.h"
#include "core/ComValue.h"

namespace stubframework {
namespace {

using utils::Bstr;
using utils::ComRef;
using utils::Variant;

// The view of the desktop window, through which Explorer starts programs for the user.
HRESULT FindDesktopView(ComRef<IShellView>& view) {
  ComRef<IShellWindows> windows;
  HRESULT hr = CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                windows.OutVoid());
  if (FAILED(hr)) return hr;
  VARIANT location, root;
  VariantInit(&location);
  VariantInit(&root);
  long window = 0;
  ComRef<IDispatch> desktop;
  if (windows->FindWindowSW(&location, &root, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, desktop.Out()) != S_OK)
    return E_FAIL;
  ComRef<IShellBrowser> browser;
  hr = IUnknown_QueryService(desktop.Get(), SID_STopLevelBrowser, IID_IShellBrowser, browser.OutVoid());
  if (FAILED(hr)) return hr;
  ComRef<IShellView> active;
  hr = browser->QueryActiveShellView(active.Out());
  if (FAILED(hr)) return hr;
  return active->QueryInterface(IID_IShellView, view.OutVoid());
}

HRESULT ExecuteThroughView(IShellView* view, const std::wstring& file, const std::wstring& parameters) {
  ComRef<IDispatch> background;
  HRESULT hr = view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.OutVoid());
  if (FAILED(hr)) return hr;
  ComRef<IShellFolderViewDual> folderView;
  hr = background->QueryInterface(IID_IShellFolderViewDual, folderView.OutVoid());
  if (FAILED(hr)) return hr;
  ComRef<IDispatch> application;
  hr = folderView->get_Application(application.Out());
  if (FAILED(hr)) return hr;
  ComRef<IShellDispatch2> shell;
  hr = application->QueryInterface(IID_IShellDispatch2, shell.OutVoid());
  if (FAILED(hr)) return hr;
  AllowSetForegroundWindow(ASFW_ANY);
  Bstr fileText(file);
  Variant arguments, empty;
  arguments.Get()->vt = VT_BSTR;
  arguments.Get()->bstrVal = SysAllocString(parameters.c_str());
  return shell->ShellExecute(fileText.Get(), *arguments, *empty, *empty, *empty);
}

}  // namespace

HRESULT LaunchAsDesktopUser(const std::wstring& file, const std::wstring& parameters) {
  // Nothing is opened from this elevated process itself: the handler would be the one the user's
  // own classes name, and it would run as administrator.
  ComRef<IShellView> view;
  HRESULT hr = FindDesktopView(view);
  return SUCCEEDED(hr) ? ExecuteThroughView(view.Get(), file, parameters) : hr;
}

}  // namespace stubframework
