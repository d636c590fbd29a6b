#pragma once
// What the launch and reboot methods compute before they start anything: the one-time relaunch
// after a restart, the launch-on-exit programs an installed package registered, and the call that
// restarts Windows.
#include <windows.h>

#include <string>
#include <vector>

namespace stubframework::methods {

// The machine's one-time start list after the next logon (64-bit view).
extern const wchar_t kRunOnceKey[];

// productId + "_" + the major version of productVersion.
std::wstring RunOnceValueName(const std::wstring& productId, const std::wstring& productVersion);

// The relaunch command: the stub copy in double quotes, then " RESUME=" and resumeValue. The file
// the user started is not named: the user's programs can replace it before the next logon.
std::wstring RunOnceCommand(const std::wstring& stubCopy, const std::wstring& resumeValue);

// The keys of a launch-on-exit list below HKEY_LOCAL_MACHINE: appsKey = "Software\" + launchOnExit
// holds the programs, and the subkey guid of parentKey is removed once they are started. The record
// naming them is writable by any program of the user, so only a GUID (36 characters, hex digits in
// 8-4-4-4-12 groups) that is a whole component of appsKey where it first occurs is accepted:
// anything else could name a key of the system for removal. False when refused.
bool LaunchOnExitKeys(const std::wstring& launchOnExit, const std::wstring& guid, std::wstring& appsKey,
                      std::wstring& parentKey);

// The REG_SZ values under HKEY_LOCAL_MACHINE\subkey (32-bit view) whose names begin with "regApp"
// (case-sensitive), in enumeration order. A name of 50 characters or more ends the enumeration.
std::vector<std::wstring> CollectRegApps(const std::wstring& subkey);

// A launch-on-exit command line as the elevation request takes it: the program, and a blank before
// each further argument without the argument's own quotes. False for a command line that names no
// program (the system would take the running program for it).
bool SplitRegApp(const std::wstring& commandLine, std::wstring& file, std::wstring& parameters);

// The call restartSystem makes once the user agreed and the shutdown privilege is enabled
// (ExitWindowsEx unless replaced). Returns the previous one; test hosts put a recorder here.
using RestartWindowsFunction = BOOL(WINAPI*)(UINT flags, DWORD reason);
RestartWindowsFunction SetRestartWindowsFunction(RestartWindowsFunction function);

}  // namespace stubframework::methods
