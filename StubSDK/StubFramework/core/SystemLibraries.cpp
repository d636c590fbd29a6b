// The system libraries that are no known DLLs of Windows (bcrypt, crypt32, msi, urlmon, version,
// winhttp, wininet) are delay-loaded: imported at load time, each would be looked for first in the
// folder the stub was started from, a downloads folder say, and a copy planted there would run as
// administrator. MinGW's delay-load helper asks these hooks first on every first call; they load
// the library from the system folder only. Every program that links the framework links them,
// ahead of the runtime's empty defaults.
#include <windows.h>
#include <delayimp.h>

namespace {

// No exception, which a caller (a window procedure, a COM call) could swallow and go on without
// the call it made, and no other folder: the process ends at once, whatever its threads hold.
[[noreturn]] void EndRun(const DelayLoadInfo* info, UINT code) {
  OutputDebugStringA("system library not loaded from the system folder, the run ends: ");
  OutputDebugStringA(info->szDll);
  TerminateProcess(GetCurrentProcess(), code);
  ExitProcess(code);  // not reached: ending its own process, TerminateProcess does not return
}

FARPROC WINAPI NotifyHook(unsigned notification, PDelayLoadInfo info) {
  if (notification != dliNotePreLoadLibrary) return nullptr;
  // Never null: the helper would then load the library itself, from the program's folder first.
  HMODULE module = LoadLibraryExA(info->szDll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!module) EndRun(info, ERROR_MOD_NOT_FOUND);
  return reinterpret_cast<FARPROC>(module);
}

FARPROC WINAPI FailureHook(unsigned notification, PDelayLoadInfo info) {
  EndRun(info, notification == dliFailLoadLib ? ERROR_MOD_NOT_FOUND : ERROR_PROC_NOT_FOUND);
}

}  // namespace

extern "C" {
PfnDliHook __pfnDliNotifyHook2 = NotifyHook;
PfnDliHook __pfnDliFailureHook2 = FailureHook;
// The empty descriptor that ends the image's table of delay-load descriptors, which dlltool's
// libraries put in ".text$2": the linker sorts ".text$3" right after them. Nothing refers to it;
// the stub's link keeps it, and scripts/delay-import-directory.py points the table's directory
// entry at them.
extern const DWORD halvern_delay_import_table_end[8];
__attribute__((section(".text$3"), aligned(4))) const DWORD halvern_delay_import_table_end[8] = {};
}
