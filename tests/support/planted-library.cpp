// A DLL planted beside a program under a system library's name: loaded at all, it ends the
// process at once with the exit code of that name (PlantedLibraries.h), or 70 under another name.
#include <windows.h>

#include <cwchar>

#include "support/PlantedLibraries.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(instance, path, MAX_PATH);
  const wchar_t* name = wcsrchr(path, L'\\') ? wcsrchr(path, L'\\') + 1 : path;
  UINT code = 70;
  for (const auto& library : testsupport::kPlantedLibraries) {
    size_t length = wcslen(library.name);
    if (_wcsnicmp(name, library.name, length) == 0 && _wcsicmp(name + length, L".dll") == 0) code = library.exitCode;
  }
  TerminateProcess(GetCurrentProcess(), code);
  return FALSE;
}
