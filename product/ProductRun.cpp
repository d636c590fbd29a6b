#include "product/ProductRun.h"

#include <new>

#include "product/ProductAnalytics.h"
#include "product/TrackingThread.h"

namespace myexternalmethods {

bool ProductRun::Start(bool productAnalytics) {
  using namespace stubframework::core;
  core = CreateFrameworkCore();
  if (!core) return false;
  core->parameters->externalProperties[L"propertyName1"] = L"propertyValue1";
  methods = new MyExternalMethods(core);
  methods->SetupProductLayer();
  if (productAnalytics) {
    methods->analyticsState = new (std::nothrow) ProductAnalyticsState;
    StartProductAnalytics(methods->analyticsState, methods->trackingProperties);
    const std::wstring& refused = Settings().refusedSettings;
    if (!refused.empty())
      FrameworkLogError(core, L"productanalytics.ini ignored: its folder may be written by others than administrators: %s",
                        refused.c_str());
    analyticsPending_ = true;
  }
  methods->RegisterProductMethods();
  return true;
}

void ProductRun::Run(stubframework::core::PageView* view) {
  try {
    stubframework::core::RunFrameworkCore(core, methods, view);
  } catch (...) {
    abnormalEnd_ = true;
  }
}

void ProductRun::Finish() {
  if (analyticsPending_.exchange(false))
    FinishProductAnalytics(methods->analyticsState, methods->trackingProperties, abnormalEnd_);
  // Workers still running are stopped while a crash among them can still be logged; the log goes
  // with the core.
  stubframework::core::StopFrameworkWorkers(core);
  stubframework::core::FrameworkCore* released = core;
  core = nullptr;
  stubframework::core::ReleaseFrameworkCore(released);
  delete methods;
  methods = nullptr;
}

void ProductRun::FinishAfterCrash() {
  if (!analyticsPending_.exchange(false)) return;
  FinishProductAnalytics(methods->analyticsState, methods->trackingProperties, true);
  releaseTrackEvent(methods->analyticsState);
}

}  // namespace myexternalmethods
