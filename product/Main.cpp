// Entry point of the Halvern installer stub.
#include <windows.h>

#include "core/FrameworkCore.h"
#include "product/MyExternalMethods.h"

namespace {

stubframework::core::FrameworkCore* g_core = nullptr;

// A crash (an access violation, say) is no C++ exception: catch (...) never sees it. It leaves its
// trace in the log, and the process ends with the exception code.
LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* info) {
  if (g_core && g_core->log) g_core->log->LogUnhandledException(info->ExceptionRecord);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  using namespace stubframework::core;
  FrameworkCore* core = CreateFrameworkCore();
  if (!core) return 0;
  g_core = core;
  SetUnhandledExceptionFilter(OnUnhandledException);
  core->parameters->externalProperties[L"propertyName1"] = L"propertyValue1";

  auto* methods = new myexternalmethods::MyExternalMethods(core);
  // Placeholder: the product layer set-up and the product analytics start arrive with their issues.
  methods->RegisterProductMethods();

  bool abnormalEnd = false;
  try {
    RunFrameworkCore(core, methods);
  } catch (...) {
    abnormalEnd = true;
  }
  // Placeholder: the product analytics exit event (with abnormalEnd) arrives with its issue.
  (void)abnormalEnd;

  // Workers still running are stopped while a crash among them can still be logged; the log goes
  // with the core.
  StopFrameworkWorkers(core);
  g_core = nullptr;
  ReleaseFrameworkCore(core);
  delete methods;
  return 0;
}
