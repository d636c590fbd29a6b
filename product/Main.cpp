// Entry point of the Halvern installer stub.
#include <windows.h>

#include "product/ProductRun.h"

namespace {

myexternalmethods::ProductRun g_run;

// A crash (an access violation, say) is no C++ exception: catch (...) never sees it. It leaves its
// trace in the log, and the process ends with the exception code.
LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* info) {
  if (stubframework::core::FrameworkCore* core = g_run.core)
    if (core->log) core->log->LogUnhandledException(info->ExceptionRecord);
  g_run.FinishAfterCrash();
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  // Libraries load from System32 only: nothing planted in the working folder or beside the stub
  // is ever loaded by the elevated process. Its imports are known DLLs, which come from there
  // anyway; the other system libraries are delay-loaded from there (core/SystemLibraries.cpp).
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!g_run.Start()) return 0;
  SetUnhandledExceptionFilter(OnUnhandledException);
  g_run.Run();
  g_run.Finish();
  return 0;
}
