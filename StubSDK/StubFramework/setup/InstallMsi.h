#pragma once
// Running a Windows Installer package on the install worker: the UI level and progress filter
// chosen from its parameters, the parameters cleaned of the switches only a command-line
// installer understands, the progress handler and the installer's own log.
#include <windows.h>
#include <msi.h>

#include <string>

#include "setup/Workflow.h"

namespace stubframework::core {
struct FrameworkCore;
}

namespace stubframework::setup {

struct MsiUiChoice {
  INSTALLUILEVEL level;
  DWORD filter;  // external-UI message filter of MsiProgressHandler
};

// True when the parameters, split as a command line, hold text as a whole argument (any case).
bool HasInstallerArgument(const std::wstring& parameters, const wchar_t* text);

// "/QN", "/QF" or "/QB!" as a whole argument (any case), checked in that order: none, full or
// basic without cancel; otherwise the default level and no external messages.
MsiUiChoice ChooseMsiUi(const std::wstring& parameters);

// The parameters without "/l...", "$LOGFILE$...", "/qn...", "/qf..." and "/qb!..." (any case, up
// to the next blank, with the blanks after them), each removed only where it begins an argument
// outside double quotes, so that property values such as URLs keep their text. Blanks at either
// end are dropped.
std::wstring StripMsiSwitches(const std::wstring& parameters);

// The external-UI handler: turns progress messages into "installTotal" and "installCurrent" of
// the HtmlExternal passed as context. The first reset message (script generation) is ignored,
// the second (execution) sets the total, later ones change nothing. Always returns 0.
INT CALLBACK MsiProgressHandler(LPVOID context, UINT messageType, LPCWSTR message);
// Starts the handler's count of reset messages again, before each install.
void ResetMsiProgressCounter();

// "<temp>\<product id>_log\" + name + "<UTC yyyymmddhhmmss>" + extension: where the installers'
// logs go. Empty when the folder cannot be made.
std::wstring TimestampedLogPath(core::FrameworkCore* core, const std::wstring& name, const wchar_t* extension);
// "<temp>\<product id>_log\log_<UTC yyyymmddhhmmss>.txt": the name an installer's log gets.
// Made once per install, since the clock moves on between two calls.
inline std::wstring InstallLogPath(core::FrameworkCore* core) { return TimestampedLogPath(core, L"log_", L".txt"); }

// Installs file with MsiInstallProductW, logging to logPath (no log when empty); stores the
// installer's answer in lastInstallError. UI level and handler are restored before it returns.
Config_ErrorHandle InstallMsi(core::FrameworkCore* core, const std::wstring& file, const std::wstring& parameters,
                              const std::wstring& logPath);

}  // namespace stubframework::setup
