// Script methods that act on the main window and show the system's modal dialogs.
#include <shlobj.h>
#include <shobjidl.h>

#include "core/ComRef.h"
#include "core/FrameworkCore.h"
#include "core/MainWindow.h"
#include "methods/DesktopLaunch.h"
#include "methods/ExternalMethods.h"

namespace stubframework {
namespace {

// The folder the user confirms in the file dialog or the legacy folder browser; false when the
// user cancels or nothing can be shown.
bool AskForFolder(HWND owner, const std::wstring& initialFolder, std::wstring& folder) {
  utils::ComRef<IFileOpenDialog> dialog;
  if (SUCCEEDED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                 dialog.OutVoid()))) {
    bool chosen = false;
    FILEOPENDIALOGOPTIONS options = 0;
    if (SUCCEEDED(dialog->GetOptions(&options))) {
      dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
      utils::ComRef<IShellItem> start;
      if (SUCCEEDED(SHCreateItemFromParsingName(initialFolder.c_str(), nullptr, IID_IShellItem, start.OutVoid())))
        dialog->SetFolder(start.Get());
      utils::ComRef<IShellItem> result;
      if (SUCCEEDED(dialog->Show(owner)) && SUCCEEDED(dialog->GetResult(result.Out()))) {
        wchar_t* name = nullptr;
        if (SUCCEEDED(result->GetDisplayName(SIGDN_DESKTOPABSOLUTEPARSING, &name))) {
          folder = name;
          CoTaskMemFree(name);
          chosen = true;
        }
      }
    }
    return chosen;
  }
  BROWSEINFOW browse = {};
  browse.hwndOwner = owner;
  browse.ulFlags = BIF_NEWDIALOGSTYLE;
  PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&browse);
  if (!item) return false;
  wchar_t path[MAX_PATH] = {};
  bool converted = SHGetPathFromIDListW(item, path) != FALSE;
  CoTaskMemFree(item);
  if (converted) folder = path;
  return converted;
}

}  // namespace

HRESULT ExternalMethods::CloseWindow(WORD flags, DISPPARAMS* params, VARIANT*) {
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {});
  if (FAILED(hr)) return hr;
  core::FrameworkLogDebug(core_, L"ZSClose");
  core::RequestClose(window_);
  return S_OK;
}

HRESULT ExternalMethods::DragWindow(WORD flags, DISPPARAMS* params, VARIANT*) {
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {});
  if (FAILED(hr)) return hr;
  core::FrameworkLogDebug(core_, L"ZSDragWindow");
  // Returns when the user releases the mouse button.
  if (window_) SendMessageW(window_, WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0);
  return S_OK;
}

HRESULT ExternalMethods::HideWindow(WORD flags, DISPPARAMS* params, VARIANT*) {
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {});
  if (FAILED(hr)) return hr;
  if (window_) ShowWindow(window_, SW_HIDE);
  core::FrameworkLogDebug(core_, L"EMHideWindow");
  return S_OK;
}

HRESULT ExternalMethods::ShowWindowMethod(WORD flags, DISPPARAMS* params, VARIANT*) {
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {});
  if (FAILED(hr)) return hr;
  if (window_) ShowWindow(window_, SW_SHOW);
  core::FrameworkLogDebug(core_, L"EMShowWindow");
  return S_OK;
}

HRESULT ExternalMethods::MinimizedWindow(WORD flags, DISPPARAMS* params, VARIANT*) {
  core::FrameworkLogDebug(core_, L"EMMinimizedWindow");
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {});
  if (FAILED(hr)) return hr;
  if (window_) ShowWindow(window_, SW_SHOWMINIMIZED);
  return S_OK;
}

HRESULT ExternalMethods::TerminateWindow(WORD flags, DISPPARAMS* params, VARIANT*) {
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {});
  if (FAILED(hr)) return hr;
  ExitProcess(0);
}

HRESULT ExternalMethods::SetWindowSize(WORD flags, DISPPARAMS* params, VARIANT*) {
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {VT_I4, VT_I4});
  if (FAILED(hr)) return hr;
  int width = Argument(params, 0).lVal;
  int height = Argument(params, 1).lVal;
  core::FrameworkLogDebug(core_, L"ZSWindowSize: %d", width);
  core::ResizeWindow(core_->external, width, height);
  return S_OK;
}

HRESULT ExternalMethods::MessageBoxMethod(WORD flags, DISPPARAMS* params, VARIANT*) {
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {VT_BSTR, VT_BSTR});
  if (FAILED(hr)) return hr;
  std::wstring text = ArgumentText(params, 0);
  std::wstring caption = ArgumentText(params, 1);
  core::FrameworkLogDebug(core_, L"ZSMessageBox: %s %s", text.c_str(), caption.c_str());
  MessageBoxW(window_, text.c_str(), caption.c_str(), MB_OK);
  return S_OK;
}

HRESULT ExternalMethods::ConfirmMessageBox(WORD flags, DISPPARAMS* params, VARIANT* result) {
  core::FrameworkLogDebug(core_, L"EMConfirmMessageBox");
  HRESULT hr = CheckArguments(flags, kFlagsMethodGet, params, {VT_BSTR, VT_BSTR});
  if (FAILED(hr)) return hr;
  int answer = MessageBoxW(window_, ArgumentText(params, 0).c_str(), ArgumentText(params, 1).c_str(), MB_OKCANCEL);
  if (!result) return S_OK;
  SetResultBool(result, answer != IDCANCEL);
  core::FrameworkLogDebug(core_, L"EMConfirmMessageBox Result : %s", answer == IDCANCEL ? L"Cancel Close" : L"Close");
  return S_OK;
}

HRESULT ExternalMethods::SelectFolder(WORD flags, DISPPARAMS* params, VARIANT* result) {
  core::FrameworkLogDebug(core_, L"EMSelectFolder");
  HRESULT hr = CheckArguments(flags, kFlagsMethodGet, params, {VT_BSTR});
  if (FAILED(hr) || !result) return hr;
  std::wstring initialFolder = ArgumentText(params, 0);
  std::wstring folder = initialFolder;
  AskForFolder(window_, initialFolder, folder);
  core::FrameworkLogDebug(core_, L"EMSelectFolder args %s, Result %s", initialFolder.c_str(), folder.c_str());
  SetResultText(result, folder);
  return S_OK;
}

HRESULT ExternalMethods::OpenPage(WORD flags, DISPPARAMS* params, VARIANT* result) {
  core::FrameworkLogDebug(core_, L"EMOpenPage");
  HRESULT hr = CheckArguments(flags, kFlagsMethodGet, params, {VT_BSTR});
  if (FAILED(hr) || !result) return hr;
  std::wstring url = ArgumentText(params, 0);
  bool opened = SUCCEEDED(LaunchAsDesktopUser(url, L""));
  core::FrameworkLogDebug(core_, L"ZSOpenPage: %s, result: %s", url.c_str(), opened ? L"success" : L"fail");
  SetResultBool(result, opened);
  return S_OK;
}

}  // namespace stubframework
