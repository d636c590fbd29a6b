// startProgram, runApplication, executeCommand, startRegApps, restartSystem, runAfterReboot and
// undoRunAfterReboot: what the page starts at the end of an installation, and the restart of
// Windows with the stub's one-time relaunch after it.
#include "methods/LaunchMethods.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <cwchar>
#include <cwctype>
#include <vector>

#include "core/CommandLine.h"
#include "core/CommonFolders.h"
#include "core/FrameworkCore.h"
#include "core/Registry.h"
#include "core/StubParameters.h"
#include "core/UniqueHandle.h"
#include "methods/DesktopLaunch.h"
#include "methods/ExternalMethods.h"
#include "setup/ResumeManager.h"

namespace stubframework {
namespace methods {

const wchar_t kRunOnceKey[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

namespace {

RestartWindowsFunction g_restartWindows = ExitWindowsEx;

bool IsGuidText(const std::wstring& text) {
  if (text.size() != 36) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? text[i] != L'-' : !iswxdigit(text[i])) return false;
  }
  return true;
}

// CreateProcessW may write into the command line it is given.
bool CreateDetachedProcess(const wchar_t* application, const std::wstring& commandLine, STARTUPINFOW& startup) {
  std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
  writable.push_back(L'\0');
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(application, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  utils::KernelHandle thread(process.hThread), child(process.hProcess);
  return true;
}

bool EnableShutdownPrivilege() {
  utils::KernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.Out())) return false;
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  // AdjustTokenPrivileges also succeeds for a privilege the token does not hold, and says so
  // only through the last error.
  bool enabled = LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid) &&
                 AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr) &&
                 GetLastError() == ERROR_SUCCESS;
  return enabled;
}

}  // namespace

std::wstring RunOnceValueName(const std::wstring& productId, const std::wstring& productVersion) {
  return productId + L"_" + utils::MajorVersion(productVersion);
}

std::wstring RunOnceCommand(const std::wstring& stubCopy, const std::wstring& resumeValue) {
  return L"\"" + stubCopy + L"\" RESUME=" + resumeValue;
}

bool LaunchOnExitKeys(const std::wstring& launchOnExit, const std::wstring& guid, std::wstring& appsKey,
                      std::wstring& parentKey) {
  appsKey = L"Software\\" + launchOnExit;
  if (!IsGuidText(guid)) return false;
  size_t at = appsKey.find(guid);
  if (at == std::wstring::npos || at == 0 || appsKey[at - 1] != L'\\') return false;
  size_t end = at + guid.size();
  if (end != appsKey.size() && appsKey[end] != L'\\') return false;
  parentKey = appsKey.substr(0, at - 1);
  return true;
}

std::vector<std::wstring> CollectRegApps(const std::wstring& subkey) {
  std::vector<std::wstring> commandLines;
  utils::RegistryKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, key.Out()) != ERROR_SUCCESS)
    return commandLines;
  for (DWORD index = 0;; ++index) {
    wchar_t name[50];
    DWORD nameLength = 50;
    if (RegEnumValueW(key.Get(), index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    if (wcsncmp(name, L"regApp", 6) != 0) continue;
    wchar_t data[1001] = {};  // 2000 bytes of data and a terminator of our own
    DWORD size = 2000;
    DWORD type = 0;
    if (SHGetValueW(key.Get(), nullptr, name, &type, data, &size) == ERROR_SUCCESS && type == REG_SZ)
      commandLines.emplace_back(data, wcsnlen(data, size / sizeof(wchar_t)));
  }
  return commandLines;
}

bool SplitRegApp(const std::wstring& commandLine, std::wstring& file, std::wstring& parameters) {
  // CommandLineToArgvW answers an empty command line with the running program's path.
  if (commandLine.find_first_not_of(L" \t") == std::wstring::npos) return false;
  std::vector<std::wstring> arguments = core::SplitCommandLine(commandLine);
  if (arguments.empty() || arguments[0].empty()) return false;
  file = arguments[0];
  parameters.clear();
  for (size_t i = 1; i < arguments.size(); ++i) parameters += L" " + arguments[i];
  return true;
}

RestartWindowsFunction SetRestartWindowsFunction(RestartWindowsFunction function) {
  RestartWindowsFunction previous = g_restartWindows;
  g_restartWindows = function;
  return previous;
}

}  // namespace methods

HRESULT ExternalMethods::StartProgram(WORD flags, DISPPARAMS* params, VARIANT*) {
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {VT_BSTR, VT_BSTR});
  if (FAILED(hr)) return hr;
  HRESULT started = LaunchAsDesktopUser(ArgumentText(params, 0), ArgumentText(params, 1));
  if (FAILED(started))
    core::FrameworkLogError(core_, L"EMStartProgram %s: the desktop shell did not start it: %x",
                            ArgumentText(params, 0).c_str(), static_cast<unsigned>(started));
  return S_OK;
}

HRESULT ExternalMethods::RunApplication(WORD flags, DISPPARAMS* params, VARIANT* result) {
  core::FrameworkLogDebug(core_, L"EMRunApplication");
  HRESULT hr = CheckArguments(flags, kFlagsMethodGet, params, {VT_BSTR});
  if (FAILED(hr) || !result) return hr;
  std::wstring commandLine = ArgumentText(params, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  bool started = methods::CreateDetachedProcess(nullptr, commandLine, startup);
  core::FrameworkLogDebug(core_, L"EMRunApplication: %s, result: %s", commandLine.c_str(),
                          started ? L"success" : L"fail");
  SetResultBool(result, started);
  return S_OK;
}

HRESULT ExternalMethods::ExecuteCommand(WORD flags, DISPPARAMS* params, VARIANT* result) {
  core::FrameworkLogDebug(core_, L"EMExecuteCommand");
  HRESULT hr = CheckArguments(flags, kFlagsMethodGet, params, {VT_BSTR});
  if (FAILED(hr) || !result) return hr;
  std::wstring command = ArgumentText(params, 0);
  // By its full path: a bare "cmd.exe" is looked for in the program's and the current folder first.
  wchar_t system[MAX_PATH] = {};
  UINT length = GetSystemDirectoryW(system, MAX_PATH);
  bool started = false;
  if (length > 0 && length < MAX_PATH) {
    std::wstring shell = std::wstring(system, length) + L"\\cmd.exe";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    // Hidden console, output discarded.
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    started = methods::CreateDetachedProcess(shell.c_str(), L"cmd.exe /c " + command, startup);
  }
  core::FrameworkLogDebug(core_, L"EMExecuteCommand: %s, result: %s", command.c_str(), started ? L"success" : L"fail");
  SetResultBool(result, started);
  return S_OK;
}

HRESULT ExternalMethods::StartRegApps(WORD flags, DISPPARAMS* params, VARIANT*) {
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {});
  if (FAILED(hr)) return hr;
  core::FrameworkLogDebug(core_, L"EMStartRegApps");
  // Outside a resumed run this clears the record: there is nothing to continue.
  setup::ResumeManager record(GetResumeMode() != 0, core_->parameters);
  std::wstring appsKey, parentKey;
  if (!record.loaded || !methods::LaunchOnExitKeys(record.launchOnExit, record.guid, appsKey, parentKey))
    return S_OK;
  std::vector<std::wstring> commandLines = methods::CollectRegApps(appsKey);
  // Removed before anything starts, so that the programs start once only.
  {
    utils::RegistryKey parent;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, parentKey.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, parent.Out()) ==
        ERROR_SUCCESS)
      SHDeleteKeyW(parent.Get(), record.guid.c_str());
  }
  for (const std::wstring& commandLine : commandLines) {
    std::wstring file, parameters;
    bool started = false;
    if (methods::SplitRegApp(commandLine, file, parameters)) {
      SHELLEXECUTEINFOW execute = {};
      execute.cbSize = sizeof(execute);
      execute.fMask = SEE_MASK_NOCLOSEPROCESS;
      execute.lpVerb = L"runas";
      execute.lpFile = file.c_str();
      execute.lpParameters = parameters.c_str();
      execute.nShow = SW_SHOW;
      started = ShellExecuteExW(&execute) != FALSE;
      utils::KernelHandle process(execute.hProcess);
    }
    core::FrameworkLogDebug(core_, L"EMStartRegApps: %s with result %s", commandLine.c_str(),
                            started ? L"success" : L"failed");
  }
  return S_OK;
}

HRESULT ExternalMethods::RestartSystem(WORD flags, DISPPARAMS* params, VARIANT*) {
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {VT_BSTR, VT_BSTR});
  if (FAILED(hr)) return hr;
  std::wstring text = ArgumentText(params, 0);
  std::wstring caption = ArgumentText(params, 1);
  core::FrameworkLogDebug(core_, L"EMRestartSystem: %s %s", text.c_str(), caption.c_str());
  if (MessageBoxW(window_, text.c_str(), caption.c_str(), MB_OKCANCEL) == IDOK && methods::EnableShutdownPrivilege())
    methods::g_restartWindows(EWX_REBOOT | EWX_FORCEIFHUNG | EWX_RESTARTAPPS, SHTDN_REASON_MAJOR_APPLICATION);
  return S_OK;
}

HRESULT ExternalMethods::RunAfterReboot(WORD flags, DISPPARAMS* params, VARIANT*) {
  core::FrameworkLogDebug(core_, L"EMRunAfterReboot");
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {VT_BSTR});
  if (FAILED(hr)) return hr;
  std::wstring resumeValue = ArgumentText(params, 0);
  core::StubParameters& parameters = *core_->parameters;
  std::wstring copy;
  if (!utils::PlaceStubCopy(parameters.ProductId(), copy)) {
    core::FrameworkLogError(core_, L"EMRunAfterReboot: no stub copy in %s", copy.c_str());
    return S_OK;
  }
  utils::WriteRegistryString(methods::kRunOnceKey,
                             methods::RunOnceValueName(parameters.ProductId(), parameters.ProductVersion()),
                             methods::RunOnceCommand(copy, resumeValue), true);
  core::FrameworkLogDebug(core_, L"EMRunAfterReboot %s", resumeValue.c_str());
  return S_OK;
}

HRESULT ExternalMethods::UndoRunAfterReboot(WORD flags, DISPPARAMS* params, VARIANT*) {
  core::FrameworkLogDebug(core_, L"EMUndoRunAfterReboot");
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {});
  if (FAILED(hr)) return hr;
  HKEY root;
  std::wstring subkey;
  utils::RegistryKey key;
  if (utils::RegistryRoot(methods::kRunOnceKey, root, subkey) &&
      RegOpenKeyExW(root, subkey.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, key.Out()) == ERROR_SUCCESS) {
    core::StubParameters& parameters = *core_->parameters;
    RegDeleteValueW(key.Get(), methods::RunOnceValueName(parameters.ProductId(), parameters.ProductVersion()).c_str());
  }
  return S_OK;
}

}  // namespace stubframework
