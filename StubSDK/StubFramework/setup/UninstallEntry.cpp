#include "setup/UninstallEntry.h"

#include <shlobj.h>

#include <cwchar>

#include "core/CommandLine.h"
#include "core/FrameworkCore.h"
#include "core/Registry.h"
#include "core/WorkingFolders.h"
#include "methods/ExternalMethods.h"

namespace stubframework::setup {

namespace {

// The folder of the stub copy, "<common application data>\Velmora\<product id>\", created; empty
// when it cannot be made or when a folder on the way below the common application-data folder is
// a link: any user may create folders there, and the elevated stub would copy itself wherever a
// link points.
std::wstring StubCopyFolder(const std::wstring& productId) {
  if (productId.empty() || productId == L"." || productId == L".." ||
      productId.find_first_of(L"\\/:") != std::wstring::npos)
    return L"";
  wchar_t common[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common))) return L"";
  std::wstring base = common;
  if (base.empty()) return L"";
  if (base.back() != L'\\') base += L'\\';
  std::wstring folder = base + L"Velmora\\" + productId + L"\\";
  int created = SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  if (created != ERROR_SUCCESS && created != ERROR_ALREADY_EXISTS && created != ERROR_FILE_EXISTS) return L"";
  if (utils::HasLinkBelow(folder, base.size())) return L"";
  return folder;
}

// Copies the running executable into folder under its own name. A file already there is removed
// first rather than written through, since it may be a link to another file.
bool CopyStub(const std::wstring& folder, std::wstring& copy) {
  std::wstring path = core::ModulePath();
  if (path.empty()) return false;
  copy = folder + path.substr(path.rfind(L'\\') + 1);
  if (_wcsicmp(copy.c_str(), path.c_str()) == 0) return true;  // running as the copy itself
  DeleteFileW(copy.c_str());
  return CopyFileW(path.c_str(), copy.c_str(), TRUE) != FALSE;
}

}  // namespace

std::wstring UninstallKeyPath(const std::wstring& code) {
  return L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + code;
}

std::wstring StubCommand(const std::wstring& stubPath, const wchar_t* mode) {
  return L"\"" + stubPath + L"\" " + mode + L" ";
}

}  // namespace stubframework::setup

namespace stubframework {

HRESULT ExternalMethods::SetUninstallRegistryFromStub(WORD flags, DISPPARAMS* params, VARIANT*) {
  core::FrameworkLogDebug(core_, L"SetUninstallRegistryFromStub");
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {VT_BSTR, VT_BOOL});
  if (FAILED(hr)) return hr;
  std::wstring code = ArgumentText(params, 0);
  bool view64 = Argument(params, 1).boolVal == VARIANT_TRUE;
  if (code.find(L'{') == std::wstring::npos) code = L"{" + code + L"}";
  // A separator would put the entry under another key.
  if (code.find_first_of(L"\\/") != std::wstring::npos) {
    core::FrameworkLogError(core_, L"SetUninstallRegistryFromStub: refused product code %s", code.c_str());
    return S_OK;
  }
  std::wstring folder = setup::StubCopyFolder(core_->parameters->ProductId());
  std::wstring copy;
  if (folder.empty() || !setup::CopyStub(folder, copy)) {
    core::FrameworkLogError(core_, L"SetUninstallRegistryFromStub: no stub copy in %s", folder.c_str());
    return S_OK;
  }
  const std::wstring key = setup::UninstallKeyPath(code);
  utils::WriteRegistryValue(key, L"UninstallString", setup::StubCommand(copy, L"/uninstall"), REG_EXPAND_SZ, view64);
  utils::WriteRegistryValue(key, L"ModifyPath", setup::StubCommand(copy, L"/modify"), REG_EXPAND_SZ, view64);
  utils::WriteRegistryValue(key, L"WindowsInstaller", L"0", REG_DWORD, view64);
  utils::WriteRegistryValue(key, L"DisplayIcon", copy, REG_SZ, view64);
  core::FrameworkLogDebug(core_, L"SetUninstallRegistryFromStub result: success");
  return S_OK;
}

}  // namespace stubframework
