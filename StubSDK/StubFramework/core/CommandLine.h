#pragma once
// The command-line keys the stub reads.
#include <string>
#include <vector>

namespace stubframework::core {

// The command line split as CommandLineToArgvW splits it; argument 0 is the program path.
std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine);

// True when an argument after argument 0 equals text, ignoring case ("run=1", "update=0", ...).
bool HasArgument(const std::wstring& commandLine, const std::wstring& text);

// The value of the first argument after argument 0 that begins with key + "=" (case-sensitive).
std::wstring GetCommandLineValue(const std::wstring& commandLine, const std::wstring& key);

// passthrough="..." followed by a blank and passthro="..." when that is not empty.
std::wstring PassthroughArguments(const std::wstring& commandLine);

// True = continue as the user-interface process.
bool CheckRelaunch(const std::wstring& productCode, const std::wstring& majorVersion);

// The value of the first argument, the program path included, that begins with "shortcut="
// (case-sensitive): the stub file the user started when this process is its relaunched copy.
bool GetShortcutPath(const std::wstring& commandLine, std::wstring& path);

}  // namespace stubframework::core
