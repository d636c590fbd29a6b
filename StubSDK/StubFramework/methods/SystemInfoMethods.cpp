// Script methods for the user's language, the Windows version, the way the stub was started and
// the run's language, channel and status.
#include "core/FrameworkCore.h"
#include "core/Registry.h"
#include "core/TextFormat.h"
#include "methods/ExternalMethods.h"
#include "methods/LanguageTable.h"
#include "methods/SystemInfo.h"

namespace stubframework {

HRESULT ExternalMethods::GetOSLang(WORD flags, DISPPARAMS* params, VARIANT* result) {
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {});
  if (FAILED(hr) || !result) return hr;
  SetResultInt(result, methods::LanguageNumberFromLangId(GetUserDefaultUILanguage()));
  return S_OK;
}

HRESULT ExternalMethods::GetLanguageByID(WORD flags, DISPPARAMS* params, VARIANT* result) {
  HRESULT hr = CheckArguments(flags, kFlagsMethodGet, params, {VT_I4});
  if (FAILED(hr) || !result) return hr;
  SetResultInt(result, methods::LanguageNumberFromLangId(static_cast<WORD>(Argument(params, 0).lVal & 0xFFFF)));
  return S_OK;
}

HRESULT ExternalMethods::GetParsedInstallLanguage(WORD flags, DISPPARAMS* params, VARIANT* result) {
  HRESULT hr = CheckArguments(flags, kFlagsMethodGet, params, {VT_BSTR});
  if (FAILED(hr) || !result) return hr;
  SetResultInt(result, methods::LanguageNumberFromCode(ArgumentText(params, 0)));
  return S_OK;
}

HRESULT ExternalMethods::SetLang(WORD flags, DISPPARAMS* params, VARIANT*) {
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {VT_I4});
  if (FAILED(hr)) return hr;
  // The table has no entry outside 0..107.
  return methods::SetInstallLanguage(*core_->parameters, Argument(params, 0).lVal) ? S_OK : STG_E_INVALIDPARAMETER;
}

HRESULT ExternalMethods::GetOSVersion(WORD flags, DISPPARAMS* params, VARIANT* result) {
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {});
  if (FAILED(hr) || !result) return hr;
  OSVERSIONINFOEXW info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  std::wstring text = L"0.0";
  if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info)))
    text = utils::FormatWide(L"%lu.%lu", info.dwMajorVersion, info.dwMinorVersion);
  SetResultText(result, text);
  return S_OK;
}

HRESULT ExternalMethods::CheckOS(WORD flags, DISPPARAMS* params, VARIANT* result) {
  core::FrameworkLogDebug(core_, L"EMCheckOS");
  HRESULT hr = CheckArguments(flags, kFlagsMethodGet, params, {VT_BSTR, VT_BSTR});
  if (FAILED(hr) || !result) return hr;
  bool valid;
  if (_wcsicmp(ArgumentText(params, 1).c_str(), L"x64") == 0 && core_->parameters->architecture == L"86") {
    core_->external->SetProperty(L"OSBitNotSupport", L"true");
    valid = false;
  } else {
    valid = OsAtLeast(ArgumentText(params, 0));
  }
  SetResultBool(result, valid);
  core::FrameworkLogDebug(core_, L"EMCheckOS Result : %s", valid ? L"OS valid" : L"OS invalid");
  return S_OK;
}

HRESULT ExternalMethods::SetChannel(WORD flags, DISPPARAMS* params, VARIANT*) {
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {VT_BSTR});
  if (FAILED(hr)) return hr;
  std::wstring channel = ArgumentText(params, 0);
  core::FrameworkLogDebug(core_, L"EMSetChannel: %s", channel.c_str());
  core_->parameters->channel = channel;
  utils::WriteRegistryString(core_->parameters->registryKey, L"channel", channel, false);
  return S_OK;
}

HRESULT ExternalMethods::SetInstallStatusMethod(WORD flags, DISPPARAMS* params, VARIANT*) {
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {VT_I4});
  if (FAILED(hr)) return hr;
  LONG status = Argument(params, 0).lVal;
  if (static_cast<ULONG>(status) > 6) return STG_E_INVALIDPARAMETER;
  core::FrameworkLogDebug(core_, L"EMSetInstallStatus: %d", static_cast<int>(status));
  methods::SetInstallStatus(*core_->parameters, status);
  return S_OK;
}

HRESULT ExternalMethods::GetLastInstallError(WORD flags, DISPPARAMS* params, VARIANT* result) {
  core::FrameworkLogDebug(core_, L"EMGetLastInstallError");
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {});
  if (FAILED(hr) || !result) return hr;
  LONG error = core_->external->lastInstallError;
  result->vt = VT_UI4;
  result->ulVal = static_cast<ULONG>(error);
  core::FrameworkLogDebug(core_, L"EMGetLastInstallError ErrorCode: %ld", error);
  return S_OK;
}

HRESULT ExternalMethods::GetResumeModeMethod(WORD flags, DISPPARAMS* params, VARIANT* result) {
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {});
  if (FAILED(hr) || !result) return hr;
  SetResultInt(result, GetResumeMode());
  return S_OK;
}

HRESULT ExternalMethods::IsUninstallModeLaunch(WORD flags, DISPPARAMS* params, VARIANT* result) {
  core::FrameworkLogDebug(core_, L"EMIsUninstallModeLaunch");
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {});
  if (FAILED(hr) || !result) return hr;
  std::wstring mode = UninstallModeFromCommandLine(GetCommandLineW());
  if (!mode.empty()) {
    core_->external->SetProperty(L"uninstallMode", mode);
    core_->external->SetProperty(L"defaultOption", mode);
  }
  SetResultBool(result, !mode.empty());
  core::FrameworkLogDebug(core_, L"EMIsUninstallModeLaunch result: %s", mode.empty() ? L"false" : L"true");
  return S_OK;
}

}  // namespace stubframework
