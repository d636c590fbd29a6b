#pragma once
// Opening files and addresses as the signed-in desktop user: the installer runs elevated, and
// what it opens for the user must not inherit that.
#include <windows.h>

#include <string>

namespace stubframework {

// Starts file with parameters through the desktop shell, falling back to ShellExecuteW when no
// shell window is reachable. Negative on failure.
HRESULT LaunchAsDesktopUser(const std::wstring& file, const std::wstring& parameters);

}  // namespace stubframework
