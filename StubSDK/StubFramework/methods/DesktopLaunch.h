#pragma once
// Opening files and addresses as the signed-in desktop user: the installer runs elevated, and
// what it opens for the user must not inherit that.
#include <windows.h>

#include <string>

namespace stubframework {

// Starts file with parameters through the desktop shell, as the signed-in user. Negative when no
// shell window is reachable or the shell refused: nothing is opened then.
HRESULT LaunchAsDesktopUser(const std::wstring& file, const std::wstring& parameters);

}  // namespace stubframework
