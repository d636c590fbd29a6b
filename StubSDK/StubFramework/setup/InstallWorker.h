#pragma once
// The install script method and its worker: the installer's parameters with the stub's own
// additions and placeholders, the per-installation GUID kept in the resume record, one installer
// run with progress reports and exactly one final callback.
#include <windows.h>

#include <string>

namespace stubframework::setup {

// The stub's pass-through arguments, a blank and the script's parameters, with " /qn" added when
// the stub's own command line holds an argument "/QN" (any case).
std::wstring AssembleInstallParameters(const std::wstring& passthrough, const std::wstring& scriptParameters,
                                       const std::wstring& stubCommandLine);

// True when the parameters hold a whole argument "/QN" or "/V/QN" (any case): the installer then
// shows no window of its own and the stub's window stays.
bool IsSilentInstall(const std::wstring& parameters);

constexpr size_t kLaunchOnExitNotFound = std::wstring::npos;

// The value after the first "LAUNCHONEXIT=" (case-sensitive) up to the first blank outside its
// own double quotes, so that a quoted path with blanks stays whole. Returns
// where the value starts, or kLaunchOnExitNotFound (value unchanged).
size_t ExtractLaunchOnExit(const std::wstring& text, std::wstring& value);

// The parameters with their placeholders filled in: "$LOGFILE$" (first one, only for programs and
// ZIP packages, whose installers take a log path) by the quoted log path, "$STUBPATH$" (first
// one) by the quoted stub path, and "$GUID$" in the LAUNCHONEXIT= value by guid. launchOnExit
// is the substituted value, empty without LAUNCHONEXIT=.
struct InstallParameters {
  std::wstring text;
  std::wstring launchOnExit;
};
InstallParameters SubstituteInstallPlaceholders(const std::wstring& parameters, bool takesLogFile,
                                                const std::wstring& logPath, const std::wstring& stubPath,
                                                const std::wstring& guid);

// A new GUID without braces, or a fixed one when none can be made.
std::wstring NewInstallGuid();

}  // namespace stubframework::setup
