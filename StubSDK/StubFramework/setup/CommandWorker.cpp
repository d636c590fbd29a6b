#include "setup/CommandWorker.h"

#include <cwchar>
#include <cwctype>
#include <memory>
#include <vector>

#include "core/FrameworkCore.h"
#include "core/Registry.h"
#include "core/UniqueHandle.h"
#include "htmlui/ScriptCallback.h"
#include "methods/ExternalMethods.h"
#include "setup/InstallExe.h"
#include "setup/InstallMsi.h"
#include "setup/ProgressReporter.h"
#include "setup/ScriptWorker.h"
#include "setup/UninstallEntry.h"
#include "setup/WorkerSet.h"

namespace stubframework::setup {

namespace {

constexpr DWORD kCommandTotal = 150;
constexpr DWORD kCommandStepMs = 200;

bool IsGuid(const std::wstring& text) {
  static const size_t kGroupEnds[] = {8, 13, 18, 23};
  if (text.size() != 36) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    bool dash = false;
    for (size_t end : kGroupEnds) dash = dash || i == end;
    if (dash ? text[i] != L'-' : !iswxdigit(text[i])) return false;
  }
  return true;
}

std::wstring SystemFolder() {
  wchar_t folder[MAX_PATH] = {};
  UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(folder, length) : L"";
}

std::wstring Switches(const std::wstring& logPath) { return L"/qn /norestart /l*v \"" + logPath + L"\""; }

// Everything between the unmarshalled callback and the final call; returns the result.
Config_ErrorHandle RunCommand(core::FrameworkCore* core, const CommandRequest& request) {
  core::HtmlExternal* external = core->external;
  external->SetInstallCurrent(0);
  external->SetInstallTotal(kCommandTotal);
  if (request.commandLine.empty()) return Config_ErrorHandle::Failure;
  std::vector<wchar_t> buffer(request.commandLine.begin(), request.commandLine.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(request.application.empty() ? nullptr : request.application.c_str(), buffer.data(), nullptr,
                      nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    core::FrameworkLogDebug(core, L"Uninstall %s, CreateProcessW failed", request.commandLine.c_str());
    return Config_ErrorHandle::Failure;
  }
  utils::KernelHandle thread(process.hThread), child(process.hProcess);
  while (WaitForSingleObject(child.Get(), kCommandStepMs) == WAIT_TIMEOUT) {
    DWORD current = InstallProgressValue(external, L"installCurrent");
    if (current < InstallProgressValue(external, L"installTotal")) external->SetInstallCurrent(current + 1);
  }
  external->SetInstallCurrent(InstallProgressValue(external, L"installTotal"));
  DWORD exitCode = 0;
  GetExitCodeProcess(child.Get(), &exitCode);
  Config_ErrorHandle result = TransferInstallError(core, exitCode);
  core::FrameworkLogDebug(core, L"Uninstall %s, return %d, error handler %d", request.commandLine.c_str(),
                          static_cast<int>(exitCode), static_cast<int>(result));
  external->lastInstallError = static_cast<LONG>(exitCode);
  return result;
}

// The remove or repair command's worker: the command with progress steps; its log goes with an
// error report.
class CommandWorker : public ScriptWorker {
 public:
  CommandWorker(ExternalMethods* owner, CommandRequest request)
      : ScriptWorker(owner, L"UninstallThreadFunc", FinalCall::Result), request_(std::move(request)) {}

 protected:
  Config_ErrorHandle Work(htmlui::ScriptCallback&, ProgressRecord&) override {
    core::FrameworkCore* core = Core();
    Config_ErrorHandle result = RunCommand(core, request_);
    // Attached before the final call, so that an error report the page sends in answer has it.
    if (!request_.logPath.empty() && GetFileAttributesW(request_.logPath.c_str()) != INVALID_FILE_ATTRIBUTES)
      core->analytics->AddReportAttachment(request_.logPath);
    core::FrameworkLogError(core, L"UninstallThreadFunc result: %x", static_cast<unsigned>(result));
    return result;
  }

 private:
  CommandRequest request_;
};

// The request of a remove or repair: its log path, and the product code in braces (empty, with
// no log path, when the script's code is no GUID: the worker then answers Failure).
CommandRequest NewCommandRequest(ExternalMethods* owner, const wchar_t* tag, const wchar_t* prefix,
                                 const std::wstring& name, const std::wstring& code, std::wstring& product) {
  CommandRequest request;
  if (!NormaliseProductCode(code, product)) {
    core::FrameworkLogError(owner->Core(), L"%s: the product code is no GUID: %s", tag, code.c_str());
    product.clear();
    return request;
  }
  request.logPath = TimestampedLogPath(owner->Core(), prefix + CleanLogName(name) + L"_", L".log");
  return request;
}

}  // namespace

bool NormaliseProductCode(const std::wstring& code, std::wstring& normalised) {
  std::wstring wrapped = code.find(L'{') == std::wstring::npos ? L"{" + code + L"}" : code;
  if (wrapped.size() != 38 || wrapped.front() != L'{' || wrapped.back() != L'}' ||
      !IsGuid(wrapped.substr(1, 36)))
    return false;
  normalised = wrapped;
  return true;
}

std::wstring CleanLogName(const std::wstring& name) {
  std::wstring clean;
  for (wchar_t c : name)
    if (c >= 32 && !wcschr(L"\\/:*?\"<>|", c)) clean += c;
  for (size_t at = clean.find(L".."); at != std::wstring::npos; at = clean.find(L".."))
    clean.erase(at, 2);
  return clean;
}

Command MsiexecCommand(const std::wstring& systemFolder, const wchar_t* action, const std::wstring& code,
                       const std::wstring& logPath) {
  return {systemFolder + L"\\msiexec.exe",
          L"msiexec.exe " + std::wstring(action) + L" " + code + L" " + Switches(logPath)};
}

Command RemoveCommand(const std::wstring& systemFolder, const std::wstring& registered, bool force,
                      const std::wstring& code, const std::wstring& logPath) {
  if (!force && !registered.empty() && registered.find(L"MsiExec.exe") == std::wstring::npos)
    return {L"", registered + Switches(logPath)};
  return MsiexecCommand(systemFolder, L"/uninstall", code, logPath);
}

}  // namespace stubframework::setup

namespace stubframework {

HRESULT ExternalMethods::RemoveProgram(WORD flags, DISPPARAMS* params, VARIANT*) {
  core::FrameworkLogDebug(core_, L"EMRemoveProgram");
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {VT_BSTR, VT_BOOL, VT_BSTR, VT_DISPATCH});
  if (FAILED(hr)) return hr;
  bool force = Argument(params, 1).boolVal == VARIANT_TRUE;
  std::wstring product;
  setup::CommandRequest request = setup::NewCommandRequest(this, L"EMRemoveProgram", L"remove_",
                                                           ArgumentText(params, 0), ArgumentText(params, 2), product);
  if (!product.empty()) {
    std::wstring registered;
    if (!force) utils::ReadRegistryValue(setup::UninstallKeyPath(product), L"UninstallString", registered);
    setup::Command command = setup::RemoveCommand(setup::SystemFolder(), registered, force, product, request.logPath);
    if (command.application.empty())
      core::FrameworkLogDebug(core_, L"EMRemoveProgram  uninstallstring : %s", registered.c_str());
    request.application = command.application;
    request.commandLine = command.commandLine;
  }
  return setup::ScriptWorker::Start(std::make_unique<setup::CommandWorker>(this, std::move(request)),
                                    L"EMRemoveProgram", Argument(params, 3).pdispVal);
}

HRESULT ExternalMethods::RepairProgram(WORD flags, DISPPARAMS* params, VARIANT*) {
  core::FrameworkLogDebug(core_, L"ZSRepairProgram");
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {VT_BSTR, VT_BSTR, VT_DISPATCH});
  if (FAILED(hr)) return hr;
  std::wstring product;
  setup::CommandRequest request = setup::NewCommandRequest(this, L"ZSRepairProgram", L"repair_",
                                                           ArgumentText(params, 0), ArgumentText(params, 1), product);
  if (!product.empty()) {
    setup::Command command = setup::MsiexecCommand(setup::SystemFolder(), L"/f", product, request.logPath);
    request.application = command.application;
    request.commandLine = command.commandLine;
  }
  return setup::ScriptWorker::Start(std::make_unique<setup::CommandWorker>(this, std::move(request)),
                                    L"ZSRepairProgram", Argument(params, 2).pdispVal);
}

}  // namespace stubframework
