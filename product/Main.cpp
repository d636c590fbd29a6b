// Entry point of the Halvern installer stub.
#include <windows.h>

#include <atomic>
#include <new>

#include "core/FrameworkCore.h"
#include "product/MyExternalMethods.h"
#include "product/ProductAnalytics.h"
#include "product/TrackingThread.h"

namespace {

stubframework::core::FrameworkCore* g_core = nullptr;
// The method object while the run is on: a crash then ends the run abnormally.
std::atomic<myexternalmethods::MyExternalMethods*> g_runMethods{nullptr};

// A crash (an access violation, say) is no C++ exception: catch (...) never sees it. It leaves its
// trace in the log, and the process ends with the exception code.
LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* info) {
  if (g_core && g_core->log) g_core->log->LogUnhandledException(info->ExceptionRecord);
  if (auto* methods = g_runMethods.exchange(nullptr)) {
    myexternalmethods::FinishProductAnalytics(methods->analyticsState, methods->trackingProperties, true);
    myexternalmethods::releaseTrackEvent(methods->analyticsState);
  }
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  // Libraries load from System32 only: nothing planted in the working folder or beside the stub
  // is ever loaded by the elevated process.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  using namespace stubframework::core;
  FrameworkCore* core = CreateFrameworkCore();
  if (!core) return 0;
  g_core = core;
  SetUnhandledExceptionFilter(OnUnhandledException);
  core->parameters->externalProperties[L"propertyName1"] = L"propertyValue1";

  auto* methods = new myexternalmethods::MyExternalMethods(core);
  methods->SetupProductLayer();
  methods->analyticsState = new (std::nothrow) myexternalmethods::ProductAnalyticsState;
  myexternalmethods::StartProductAnalytics(methods->analyticsState, methods->trackingProperties);
  methods->RegisterProductMethods();

  bool abnormalEnd = false;
  g_runMethods = methods;
  try {
    RunFrameworkCore(core, methods);
  } catch (...) {
    abnormalEnd = true;
  }
  if (g_runMethods.exchange(nullptr))
    myexternalmethods::FinishProductAnalytics(methods->analyticsState, methods->trackingProperties, abnormalEnd);

  // Workers still running are stopped while a crash among them can still be logged; the log goes
  // with the core.
  StopFrameworkWorkers(core);
  g_core = nullptr;
  ReleaseFrameworkCore(core);
  delete methods;
  return 0;
}
