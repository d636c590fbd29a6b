// getCurrentPath, getDesktopPath, getTempPath and getResourceLocation: the folders the page
// works with.
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cwchar>

#include "core/CommandLine.h"
#include "core/CommonFolders.h"
#include "core/FrameworkCore.h"
#include "methods/ExternalMethods.h"

namespace stubframework {
namespace {

// The folder the user started the stub from: that of the "shortcut=" file when this process is
// a relaunched copy, otherwise that of the running executable.
std::wstring LaunchFolder() {
  std::wstring shortcut;
  if (core::GetShortcutPath(GetCommandLineW(), shortcut)) {
    size_t slash = shortcut.rfind(L'\\');
    if (slash != std::wstring::npos) return shortcut.substr(0, slash);
  }
  wchar_t path[MAX_PATH] = {};
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return L"";
  PathRemoveFileSpecW(path);
  return path;
}

}  // namespace

HRESULT ExternalMethods::GetCurrentPath(WORD flags, DISPPARAMS* params, VARIANT* result) {
  core::FrameworkLogDebug(core_, L"EMGetCurrentPath");
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {});
  if (FAILED(hr) || !result) return hr;
  std::wstring path = LaunchFolder();
  core::FrameworkLogDebug(core_, L"EMGetCurrentPath %s", path.c_str());
  SetResultText(result, path);
  return S_OK;
}

HRESULT ExternalMethods::GetDesktopPath(WORD flags, DISPPARAMS* params, VARIANT* result) {
  core::FrameworkLogDebug(core_, L"EMGetDesktopPath");
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {});
  if (FAILED(hr) || !result) return hr;
  wchar_t path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, path))) path[0] = L'\0';
  core::FrameworkLogDebug(core_, L"EMGetDesktopPath %s", path);
  SetResultText(result, path);
  return S_OK;
}

HRESULT ExternalMethods::GetTempPathMethod(WORD flags, DISPPARAMS* params, VARIANT* result) {
  core::FrameworkLogDebug(core_, L"EMGetTempPath");
  HRESULT hr = CheckArguments(flags, kFlagsMethodGet, params, {VT_BSTR});
  if (FAILED(hr) || !result) return hr;
  std::wstring name = ArgumentText(params, 0);
  if (name.empty()) name = core_->parameters->ProductId();
  // The download folder outlives the run, so that a later run resumes a kept download, and only
  // administrators may write it: a downloaded installer waits there for its install.
  std::wstring path;
  if (!utils::GetDownloadFolder(name, path)) path.clear();
  core::FrameworkLogDebug(core_, L"EMGetTempPath %s", path.c_str());
  SetResultText(result, path);
  return S_OK;
}

HRESULT ExternalMethods::GetResourceLocation(WORD flags, DISPPARAMS* params, VARIANT* result) {
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {});
  if (FAILED(hr) || !result) return hr;
  SetResultText(result, core_->external->GetProperty(L"resourceLocation"));
  return S_OK;
}

}  // namespace stubframework
