#include "setup/UninstallEntry.h"

#include "core/CommonFolders.h"
#include "core/FrameworkCore.h"
#include "core/Registry.h"
#include "methods/ExternalMethods.h"

namespace stubframework::setup {

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
  // Users may read and run the copy but not write beside it: the uninstall entry starts it as
  // administrator.
  std::wstring copy;
  if (!utils::PlaceStubCopy(core_->parameters->ProductId(), copy)) {
    core::FrameworkLogError(core_, L"SetUninstallRegistryFromStub: no stub copy in %s", copy.c_str());
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
