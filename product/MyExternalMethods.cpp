#include "product/MyExternalMethods.h"

#include <msi.h>

#include <climits>
#include <cwchar>
#include <new>

#include "core/ComValue.h"
#include "core/FrameworkCore.h"
#include "core/LockedFile.h"
#include "core/StubParameters.h"
#include "core/UniqueHandle.h"
#include "methods/LanguageTable.h"
#include "product/ProductAnalytics.h"
#include "product/ProductDetection.h"
#include "product/TrackingThread.h"
#include "product/WebView2Runtime.h"
#include "setup/InstallExe.h"

namespace myexternalmethods {

using stubframework::ExternalMethods;
using stubframework::ScriptMethod;
using stubframework::core::FrameworkLogDebug;
using stubframework::core::FrameworkLogError;


std::array<int, 3> VersionFields(const std::wstring& version) {
  std::array<int, 3> fields = {0, 0, 0};
  const wchar_t* position = version.c_str();
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) {
      if (*position != L'.') break;
      ++position;
    }
    wchar_t* end = nullptr;
    long long value = wcstoll(position, &end, 10);
    if (end == position) break;
    fields[i] = static_cast<int>(value < INT_MIN ? INT_MIN : value > INT_MAX ? INT_MAX : value);
    position = end;
  }
  return fields;
}

bool IsSameOrNewerVersion(const std::wstring& installed, const std::wstring& package) {
  return VersionFields(installed) >= VersionFields(package);
}

MyExternalMethods::MyExternalMethods(stubframework::core::FrameworkCore* core) : ExternalMethods(core) {}

MyExternalMethods::~MyExternalMethods() {
  releaseTrackEvent(analyticsState);
  delete analyticsState;
  delete trackingProperties;
}

void MyExternalMethods::SetupProductLayer() {
  auto* properties = new (std::nothrow) TrackingProperties;
  if (!properties) return;
  properties->application = L"Halvern";
  properties->stubVersion = stubframework::core::kProductVersion;
  properties->deviceBits = OsBitsText();
  properties->deviceOs = OsDisplayName();
  properties->deviceOsVersion = OsVersionText();
  properties->deviceLang =
      stubframework::methods::kLanguages[stubframework::methods::LanguageNumberFromLangId(GetUserDefaultUILanguage())]
          .code;
  delete trackingProperties;
  trackingProperties = properties;
}

void MyExternalMethods::RegisterProductMethods() {
  Register(L"minimizedWindow", &MyExternalMethods::MinimizedWindow);
  Register(L"prepareInstall", static_cast<ScriptMethod>(&MyExternalMethods::PrepareInstall));
  Register(L"getOSVersionAndBuildNumber", static_cast<ScriptMethod>(&MyExternalMethods::GetOSVersionAndBuildNumber));
  Register(L"downloadAndInstallWV2RT", static_cast<ScriptMethod>(&MyExternalMethods::DownloadAndInstallWV2RT));
  Register(L"trackingByAnalyticsSDK", static_cast<ScriptMethod>(&MyExternalMethods::TrackingByAnalyticsSDKMethod));
  Register(L"setTrackingProperty", static_cast<ScriptMethod>(&MyExternalMethods::SetTrackingPropertyMethod));
}

void MyExternalMethods::SetPropertyAsScript(const std::wstring& name, const std::wstring& value) {
  stubframework::utils::Bstr valueText(value), nameText(name);
  VARIANT arguments[2];  // the last script argument first
  arguments[0].vt = VT_BSTR;
  arguments[0].bstrVal = valueText.Get();
  arguments[1].vt = VT_BSTR;
  arguments[1].bstrVal = nameText.Get();
  DISPPARAMS params = {arguments, nullptr, 2, 0};
  SetPropertyMethod(kFlagsMethod, &params, nullptr);
}

HRESULT MyExternalMethods::PrepareInstall(WORD flags, DISPPARAMS* params, VARIANT* result) {
  FrameworkLogDebug(Core(), L"EMPrepareInstall");
  HRESULT hr = CheckArguments(flags, kFlagsMethodGet, params, {VT_BSTR});
  if (FAILED(hr)) return hr;
  std::wstring msiPath = ArgumentText(params, 0);

  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  MsiInfo info;
  // Windows Installer opens only a package a pinned publisher signed, held as it was checked.
  stubframework::utils::FileHandle held(stubframework::utils::OpenLockedForUse(msiPath));
  UINT error = held.Valid() && stubframework::setup::MayInstall(Core(), msiPath, held.Get())
                   ? GetMsiInfo(msiPath, info)
                   : static_cast<UINT>(ERROR_INSTALL_PACKAGE_REJECTED);
  if (error != ERROR_SUCCESS) {
    FrameworkLogError(Core(), L"Prepare Install error: GetMsiInfo fail error code : %d", static_cast<int>(error));
    if (result) {
      SetResultInt(result, 2);
      FrameworkLogDebug(Core(), L"EMPrepareInstall args %s, GetMsiInfo fail, Result %d", msiPath.c_str(), 2);
    }
    return S_OK;
  }
  std::wstring version = info.version + L".0";
  std::wstring pid = info.pid;
  std::wstring vid = info.vid;

  bool newer = false;
  wchar_t related[40] = {};
  bool found = false;
  for (const wchar_t* upgradeCode : stubframework::definition::kUpgradeCodes)
    if (!found) found = MsiEnumRelatedProductsW(upgradeCode, 0, 0, related) == ERROR_SUCCESS;
  wchar_t installedVersion[40] = {};
  DWORD length = 40;
  wchar_t packageName[260] = {};
  DWORD nameLength = 260;
  if (found &&
      MsiGetProductInfoW(related, INSTALLPROPERTY_VERSIONSTRING, installedVersion, &length) == ERROR_SUCCESS &&
      MsiGetProductInfoW(related, INSTALLPROPERTY_PACKAGENAME, packageName, &nameLength) == ERROR_SUCCESS) {
    newer = IsSameOrNewerVersion(installedVersion, version);
    if (newer) {
      FrameworkLogDebug(Core(), L"Newer Halvern has been installed: product version : %s", installedVersion);
      std::wstring program;
      if (FindInstalledProgram(related, program)) {
        FrameworkLogDebug(Core(), L"Installed Halvern start program : %s", program.c_str());
        SetPropertyAsScript(L"startProgram", program);
      }
      ReadInstalledProductInfo(related, version, pid, vid);
    }
  }

  SetPropertyAsScript(L"version", version);
  FrameworkLogDebug(Core(), L"Set Halvern product version : %s", version.c_str());
  if (trackingProperties) trackingProperties->msiBuildNumber = version;
  SetPropertyAsScript(L"pid", pid);
  FrameworkLogDebug(Core(), L"Set Halvern pid : %s", pid.c_str());
  SetPropertyAsScript(L"vid", vid);
  FrameworkLogDebug(Core(), L"Set Halvern vid : %s", vid.c_str());
  if (result) {
    SetResultInt(result, newer ? 1 : 0);
    FrameworkLogDebug(Core(), L"EMPrepareInstall args %s, is Halvern newer installed %d", msiPath.c_str(),
                      newer ? 1 : 0);
  }
  return S_OK;
}

HRESULT MyExternalMethods::GetOSVersionAndBuildNumber(WORD flags, DISPPARAMS* params, VARIANT* result) {
  HRESULT hr = CheckCall(flags, kFlagsMethod, params, 0);
  if (FAILED(hr) || !result) return hr;
  SetResultText(result, OsVersionText());
  return S_OK;
}

HRESULT MyExternalMethods::DownloadAndInstallWV2RT(WORD flags, DISPPARAMS* params, VARIANT* result) {
  HRESULT hr = CheckCall(flags, kFlagsMethod, params, 0);
  if (FAILED(hr) || !result) return hr;
  SetResultBool(result, EnsureWebView2Runtime(Core(), kWebView2BootstrapperUrl));
  return S_OK;
}

HRESULT MyExternalMethods::TrackingByAnalyticsSDKMethod(WORD flags, DISPPARAMS* params, VARIANT*) {
  FrameworkLogDebug(Core(), L"EMTrackingByAnalyticsSDK");
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {VT_BSTR, VT_BSTR});
  if (FAILED(hr)) return hr;
  TrackingByAnalyticsSDK(Core(), analyticsState, trackingProperties, ArgumentText(params, 0), ArgumentText(params, 1));
  return S_OK;
}

HRESULT MyExternalMethods::SetTrackingPropertyMethod(WORD flags, DISPPARAMS* params, VARIANT*) {
  FrameworkLogDebug(Core(), L"EMSetTrackingProperty");
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {VT_I4, VT_BSTR});
  if (FAILED(hr)) return hr;
  SetTrackingProperty(Core(), trackingProperties, Argument(params, 0).lVal, ArgumentText(params, 1));
  return S_OK;
}

}  // namespace myexternalmethods
