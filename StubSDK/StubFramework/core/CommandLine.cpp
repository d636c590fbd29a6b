#include "core/CommandLine.h"

#include <windows.h>
#include <shellapi.h>

#include <cwchar>

namespace stubframework::core {
namespace {

// The value of key="..." anywhere in the raw command line, up to the next double quote.
std::wstring QuotedValue(const std::wstring& commandLine, const std::wstring& key) {
  std::wstring marker = key + L"=\"";
  size_t start = commandLine.find(marker);
  if (start == std::wstring::npos) return L"";
  start += marker.size();
  size_t end = commandLine.find(L'"', start);
  return commandLine.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
}

}  // namespace

std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine) {
  std::vector<std::wstring> arguments;
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(commandLine.c_str(), &count);
  if (!argv) return arguments;
  for (int i = 0; i < count; ++i) arguments.emplace_back(argv[i]);
  LocalFree(argv);
  return arguments;
}

bool HasArgument(const std::wstring& commandLine, const std::wstring& text) {
  std::vector<std::wstring> arguments = SplitCommandLine(commandLine);
  for (size_t i = 1; i < arguments.size(); ++i)
    if (_wcsicmp(arguments[i].c_str(), text.c_str()) == 0) return true;
  return false;
}

std::wstring GetCommandLineValue(const std::wstring& commandLine, const std::wstring& key) {
  std::vector<std::wstring> arguments = SplitCommandLine(commandLine);
  std::wstring prefix = key + L"=";
  for (size_t i = 1; i < arguments.size(); ++i)
    if (arguments[i].compare(0, prefix.size(), prefix) == 0) return arguments[i].substr(prefix.size());
  return L"";
}

std::wstring PassthroughArguments(const std::wstring& commandLine) {
  std::wstring arguments = QuotedValue(commandLine, L"passthrough");
  std::wstring extra = QuotedValue(commandLine, L"passthro");
  if (!extra.empty()) arguments += L" " + extra;
  return arguments;
}

bool CheckRelaunch(const std::wstring&, const std::wstring&) {
  // Placeholder: the launcher and self-update relaunch arrive with the command-line issue.
  return true;
}

bool GetShortcutPath(const std::wstring& commandLine, std::wstring& path) {
  const std::wstring prefix = L"shortcut=";
  for (const std::wstring& argument : SplitCommandLine(commandLine)) {
    if (argument.compare(0, prefix.size(), prefix) == 0) {
      path = argument.substr(prefix.size());
      return true;
    }
  }
  return false;
}

}  // namespace stubframework::core
