#include "setup/InstallWorker.h"

#include <objbase.h>

#include <cwchar>
#include <vector>

#include "core/CommandLine.h"

namespace stubframework::setup {

namespace {

constexpr wchar_t kFallbackGuid[] = L"9C744C24-0382-430A-AF86-F520008F5C6F";

void ReplaceFirst(std::wstring& text, const std::wstring& what, const std::wstring& with) {
  size_t at = text.find(what);
  if (at != std::wstring::npos) text.replace(at, what.size(), with);
}

}  // namespace

std::wstring AssembleInstallParameters(const std::wstring& passthrough, const std::wstring& scriptParameters,
                                       const std::wstring& stubCommandLine) {
  std::wstring parameters = passthrough + L" " + scriptParameters;
  if (core::HasArgument(stubCommandLine, L"/QN")) parameters += L" /qn";
  return parameters;
}

bool IsSilentInstall(const std::wstring& parameters) {
  // Argument 0 of a command line is parsed as a program path: give it one of its own.
  std::vector<std::wstring> arguments = core::SplitCommandLine(L"installer " + parameters);
  for (size_t i = 1; i < arguments.size(); ++i)
    if (_wcsicmp(arguments[i].c_str(), L"/QN") == 0 || _wcsicmp(arguments[i].c_str(), L"/V/QN") == 0) return true;
  return false;
}

size_t ExtractLaunchOnExit(const std::wstring& text, std::wstring& value) {
  static const std::wstring kKey = L"LAUNCHONEXIT=";
  size_t key = text.find(kKey);
  if (key == std::wstring::npos) return kLaunchOnExitNotFound;
  size_t start = key + kKey.size();
  size_t quote = text.rfind(L'"');
  if (quote == std::wstring::npos || quote < start) quote = start;
  size_t end = text.find(L' ', quote);
  if (end == std::wstring::npos) end = text.size();
  value = text.substr(start, end - start);
  return start;
}

InstallParameters SubstituteInstallPlaceholders(const std::wstring& parameters, bool takesLogFile,
                                                const std::wstring& logPath, const std::wstring& stubPath,
                                                const std::wstring& guid) {
  InstallParameters result{parameters, L""};
  if (takesLogFile) ReplaceFirst(result.text, L"$LOGFILE$", L"\"" + logPath + L"\"");
  ReplaceFirst(result.text, L"$STUBPATH$", L"\"" + stubPath + L"\"");
  std::wstring value;
  if (ExtractLaunchOnExit(result.text, value) != kLaunchOnExitNotFound) {
    result.launchOnExit = value;
    ReplaceFirst(result.launchOnExit, L"$GUID$", guid);
    ReplaceFirst(result.text, value, result.launchOnExit);
  }
  return result;
}

std::wstring NewInstallGuid() {
  GUID guid;
  wchar_t text[40] = {};
  if (FAILED(CoCreateGuid(&guid)) || StringFromGUID2(guid, text, 40) != 39) return kFallbackGuid;
  return std::wstring(text + 1, 36);
}

}  // namespace stubframework::setup
