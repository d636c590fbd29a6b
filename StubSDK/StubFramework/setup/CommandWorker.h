#pragma once
// Uninstall and repair: the script methods that build a Windows Installer command (or take the
// product's registered uninstaller) with a verbose log, and the command worker that runs it with
// progress steps and calls the page back once with the result alone.
#include <windows.h>

#include <string>

namespace stubframework::setup {

// What the remove and repair methods hand their worker.
struct CommandRequest {
  // The program to start; empty when the command line names it (a registered uninstaller).
  std::wstring application;
  // Empty when no command could be built: the worker then reports Failure.
  std::wstring commandLine;
  std::wstring logPath;
};

// A product code as Windows Installer takes it: "{" + code + "}" when it has no brace. True only
// for a GUID (hex digits in groups of 8-4-4-4-12, with or without its braces): the code goes
// into a command line and a registry path.
bool NormaliseProductCode(const std::wstring& code, std::wstring& normalised);

// The script's name as part of a log file name in the log folder: without path separators, "..",
// quotes or other characters that file names cannot hold.
std::wstring CleanLogName(const std::wstring& name);

struct Command {
  std::wstring application;  // empty: the command line names the program
  std::wstring commandLine;
};

// "msiexec.exe <action> <code> /qn /norestart /l*v "<log>"", run as msiexec.exe of the system
// folder, so that no msiexec.exe beside the stub or in its current folder is ever started.
Command MsiexecCommand(const std::wstring& systemFolder, const wchar_t* action, const std::wstring& code,
                       const std::wstring& logPath);

// The uninstall command: the registered uninstall string followed directly by the silent and log
// switches, unless force is set, the string is empty or it names "MsiExec.exe"; otherwise the
// Windows Installer command.
Command RemoveCommand(const std::wstring& systemFolder, const std::wstring& registered, bool force,
                      const std::wstring& code, const std::wstring& logPath);

}  // namespace stubframework::setup
