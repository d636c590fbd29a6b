#pragma once
// The product's entry in the system's list of installed programs: a copy of the stub under the
// common application-data folder, started by the list with "/uninstall" or "/modify".
#include <string>

namespace stubframework::setup {

// "HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\" + code.
std::wstring UninstallKeyPath(const std::wstring& code);

// The stub copy's command for the entry: the path in double quotes (a path with blanks would
// otherwise start a program planted at its first blank), then " <mode> ".
std::wstring StubCommand(const std::wstring& stubPath, const wchar_t* mode);

}  // namespace stubframework::setup
