#pragma once
// Facts about the running system and the way the stub was started.
#include <windows.h>

#include <string>

namespace stubframework {

struct OsVersion {
  DWORD major = 0;
  DWORD minor = 0;
  DWORD build = 0;
};

// The version fields of this process's environment block, which compatibility shims leave alone.
// Zeros when they cannot be read.
OsVersion ReadOsVersionFromProcess();

// The (major, minor) a minimum-OS name requires; unknown names require 6.1.
OsVersion MinimumOsVersion(const std::wstring& minimumOs);

// True when running is at least the version minimumOs names.
bool OsAtLeast(const std::wstring& minimumOs, const OsVersion& running);
bool OsAtLeast(const std::wstring& minimumOs);

// "uninstall", "modify" or empty: the first argument (the program path included) that contains
// "/uninstall" or else "/modify", ignoring ASCII case.
std::wstring UninstallModeFromCommandLine(const std::wstring& commandLine);

}  // namespace stubframework
