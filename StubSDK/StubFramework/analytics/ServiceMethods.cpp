#include <windows.h>
#include <wininet.h>

#include <memory>

#include "analytics/ServiceDocuments.h"
#include "analytics/ServiceRequest.h"
#include "core/FrameworkCore.h"
#include "core/TextFormat.h"
#include "core/UniqueHandle.h"
#include "methods/ExternalMethods.h"

namespace stubframework {
namespace {

struct ActivityReport {
  core::FrameworkCore* core;
  std::wstring activity;
  std::string body;
};

DWORD WINAPI TrackUserActivityTreadFunc(void* parameter) {
  std::unique_ptr<ActivityReport> report(static_cast<ActivityReport*>(parameter));
  core::FrameworkCore* core = report->core;
  HRESULT apartment = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (!analytics::SendToService(report->body.data(), report->body.size(), L"/v1/logUserActivity", L"POST"))
    core::FrameworkLogError(core, L"TrackUserActivityTreadFunc track activity:%s failed!", report->activity.c_str());
  report.reset();
  if (SUCCEEDED(apartment)) CoUninitialize();
  // The last use of the core: the end of the run may release it once no activity is counted.
  core->analytics->ActivityEnded();
  return 0;
}

}  // namespace

HRESULT ExternalMethods::TrackUserActivity(WORD flags, DISPPARAMS* params, VARIANT* result) {
  core::FrameworkLogDebug(core_, L"EMTrackUserActivity");
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {VT_BSTR});
  if (FAILED(hr)) return hr;
  std::wstring activity = ArgumentText(params, 0);
  // Built here, on the user-interface thread, where the parameters' getters may fill members.
  std::string body = utils::WideToUtf8(analytics::BuildUserActivityDocument(*core_->parameters, activity));
  auto* report = new ActivityReport{core_, activity, body};
  core_->analytics->ActivityStarted();
  utils::KernelHandle thread(CreateThread(nullptr, 0, TrackUserActivityTreadFunc, report, 0, nullptr));
  if (!thread.Valid()) {
    delete report;
    core_->analytics->ActivityEnded();
  }
  return S_OK;
}

HRESULT ExternalMethods::IsInEmbargoedCountry(WORD flags, DISPPARAMS* params, VARIANT* result) {
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {});
  if (FAILED(hr)) return hr;
  std::string body = utils::WideToUtf8(analytics::BuildRegionRestrictionsDocument(*core_->parameters));
  std::wstring answer = analytics::QueryEmbargo(body.data(), body.size());
  std::wstring country = analytics::ElementContent(answer, L"country");
  std::wstring embargo = analytics::ElementContent(answer, L"isEmbargo");
  core_->external->SetProperty(L"Country", country);
  if (!result) return S_OK;
  SetResultBool(result, embargo == L"true");
  core::FrameworkLogDebug(core_, L"EMIsInEmbargoedCountry:Result: %s Country: %s", embargo.c_str(), country.c_str());
  return S_OK;
}

HRESULT ExternalMethods::IsInternetConnected(WORD flags, DISPPARAMS* params, VARIANT* result) {
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {});
  if (FAILED(hr) || !result) return hr;
  DWORD state = 0;
  bool connected = InternetGetConnectedState(&state, 0) != FALSE;
  SetResultBool(result, connected);
  core::FrameworkLogDebug(core_, L"EMIsInternetConnected: %s", connected ? L"connected" : L"disconnected");
  return S_OK;
}

}  // namespace stubframework
