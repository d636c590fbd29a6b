#include "setup/InstallWorker.h"

#include <objbase.h>

#include <cwchar>
#include <memory>

#include "core/CommandLine.h"
#include "core/FrameworkCore.h"
#include "core/LockedFile.h"
#include "htmlui/ScriptCallback.h"
#include "methods/ExternalMethods.h"
#include "setup/InstallExe.h"
#include "setup/InstallMsi.h"
#include "setup/ProgressReporter.h"
#include "setup/ResumeManager.h"
#include "setup/ScriptWorker.h"
#include "setup/WorkerSet.h"

namespace stubframework::setup {

namespace {

constexpr wchar_t kFallbackGuid[] = L"9C744C24-0382-430A-AF86-F520008F5C6F";

void ReplaceFirst(std::wstring& text, const std::wstring& what, const std::wstring& with) {
  size_t at = text.find(what);
  if (at != std::wstring::npos) text.replace(at, what.size(), with);
}

struct InstallRequest {
  long long estimatedTime = 0;
  std::wstring parameters;  // already assembled
  std::wstring file;
};

enum class InstallerKind { None, Msi, Exe, Zip };

InstallerKind KindOf(const std::wstring& file) {
  size_t dot = file.rfind(L'.');
  if (dot == std::wstring::npos || file.find(L'\\', dot) != std::wstring::npos) return InstallerKind::None;
  const wchar_t* extension = file.c_str() + dot;
  if (_wcsicmp(extension, L".msi") == 0) return InstallerKind::Msi;
  if (_wcsicmp(extension, L".exe") == 0) return InstallerKind::Exe;
  if (_wcsicmp(extension, L".zip") == 0) return InstallerKind::Zip;
  return InstallerKind::None;
}

Config_ErrorHandle RunInstaller(core::FrameworkCore* core, InstallerKind kind, const InstallRequest& request,
                                const std::wstring& parameters, const std::wstring& logPath) {
  switch (kind) {
    case InstallerKind::Msi: return InstallMsi(core, request.file, parameters, logPath);
    case InstallerKind::Zip: return InstallZip(core, request.file, parameters, request.estimatedTime);
    default: return InstallExe(core, request.file, parameters, request.estimatedTime);
  }
}

// The install script method's worker: one installer run with progress reports, its logs kept
// for the error report.
class InstallWorker : public ScriptWorker {
 public:
  InstallWorker(ExternalMethods* owner, InstallRequest request)
      : ScriptWorker(owner, L"InstallThreadFunc", FinalCall::Install), request_(std::move(request)) {}

 protected:
  Config_ErrorHandle Work(htmlui::ScriptCallback& callback, ProgressRecord& record) override {
    Config_ErrorHandle result = Install(callback, record);
    if (result != Config_ErrorHandle::NoError && result != Config_ErrorHandle::Abort)
      core::FrameworkLogError(Core(), L"Install fail, install path : %s, install result : %x", request_.file.c_str(),
                              static_cast<unsigned>(result));
    return result;
  }

 private:
  Config_ErrorHandle Install(htmlui::ScriptCallback& callback, ProgressRecord& record);

  InstallRequest request_;
};

Config_ErrorHandle InstallWorker::Install(htmlui::ScriptCallback& callback, ProgressRecord& record) {
  core::FrameworkCore* core = Core();
  const InstallRequest& request = request_;
  InstallerKind kind = KindOf(request.file);
  if (kind == InstallerKind::None) return Config_ErrorHandle::FileNotExist;
  // The package stays as it was checked until its installer has finished with it.
  utils::FileHandle held(utils::OpenLockedForUse(request.file));
  if (!held.Valid()) {
    core::FrameworkLogError(core, L"Install %s: the file cannot be locked for its install: %lu", request.file.c_str(),
                            GetLastError());
    return Config_ErrorHandle::FileNotExist;
  }
  core->workers->ReleaseHold(request.file);
  // A program runs its own check in InstallExe; a package is Windows Installer's to run, as SYSTEM.
  if (kind == InstallerKind::Msi && !MayInstall(core, request.file, held.Get())) return Config_ErrorHandle::Failure;

  std::wstring logPath = InstallLogPath(core);
  std::wstring secondaryLogPath =
      logPath.empty() ? L"" : logPath.substr(0, logPath.rfind(L'\\') + 1) + L"log.txt.xml";
  std::wstring stubPath;
  core::GetShortcutPath(GetCommandLineW(), stubPath);
  // A run that continues an installation keeps its GUID; a fresh one starts the record afresh.
  ResumeManager resume(Owner()->GetResumeMode() != 0, core->parameters);
  std::wstring guid = resume.loaded ? resume.guid : NewInstallGuid();
  InstallParameters parameters =
      SubstituteInstallPlaceholders(request.parameters, kind != InstallerKind::Msi, logPath, stubPath, guid);
  if (request.parameters.find(L"LAUNCHONEXIT=") != std::wstring::npos)
    resume.WriteLaunchOnExit(parameters.launchOnExit);
  resume.WriteGuid(guid);

  ReporterArgs args;
  args.external = core->external;
  args.callback = &callback;
  args.record = &record;
  args.item = request.file;
  ReporterThread reporter;
  reporter.Start(ExtractProgressReporter, &args);
  Config_ErrorHandle result = RunInstaller(core, kind, request, parameters.text, logPath);
  if (result == Config_ErrorHandle::NoError) reporter.AwaitReported();
  reporter.Join();

  for (const std::wstring& path : {logPath, secondaryLogPath})
    if (!path.empty() && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
      core->analytics->AddReportAttachment(path);
  return result;
}

}  // namespace

std::wstring AssembleInstallParameters(const std::wstring& passthrough, const std::wstring& scriptParameters,
                                       const std::wstring& stubCommandLine) {
  std::wstring parameters = passthrough + L" " + scriptParameters;
  if (core::HasArgument(stubCommandLine, L"/QN")) parameters += L" /qn";
  return parameters;
}

bool IsSilentInstall(const std::wstring& parameters) {
  return HasInstallerArgument(parameters, L"/QN") || HasInstallerArgument(parameters, L"/V/QN");
}

size_t ExtractLaunchOnExit(const std::wstring& text, std::wstring& value) {
  static const std::wstring kKey = L"LAUNCHONEXIT=";
  size_t key = text.find(kKey);
  if (key == std::wstring::npos) return kLaunchOnExitNotFound;
  size_t start = key + kKey.size();
  // The value ends at the first blank outside its own quotes, so a quoted path with blanks stays
  // whole and a later quoted argument is no part of it.
  bool quoted = false;
  size_t end = start;
  for (; end < text.size() && (quoted || text[end] != L' '); ++end)
    if (text[end] == L'"') quoted = !quoted;
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

namespace stubframework {

HRESULT ExternalMethods::Install(WORD flags, DISPPARAMS* params, VARIANT*) {
  core::FrameworkLogDebug(core_, L"EMInstall");
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {VT_BSTR, VT_BSTR, VT_I4, VT_DISPATCH});
  if (FAILED(hr)) return hr;
  setup::InstallRequest request;
  request.file = ArgumentText(params, 0);
  std::wstring scriptParameters = ArgumentText(params, 1);
  request.estimatedTime = Argument(params, 2).lVal;
  request.parameters =
      setup::AssembleInstallParameters(core_->parameters->passthroughArguments, scriptParameters, GetCommandLineW());
  core::FrameworkLogDebug(core_, L"EMInstall params %ld, %s, %s", static_cast<long>(request.estimatedTime),
                          scriptParameters.c_str(), request.file.c_str());
  bool silent = setup::IsSilentInstall(request.parameters);
  hr = setup::ScriptWorker::Start(std::make_unique<setup::InstallWorker>(this, std::move(request)), L"EMInstall",
                                  Argument(params, 3).pdispVal);
  if (FAILED(hr)) return hr;
  // An installer that is not silent shows a window of its own. The worker's final call reaches
  // the page only once this call has returned, so nothing can show the window in between.
  if (!silent && window_ && !core_->workers->Closing()) ShowWindow(window_, SW_HIDE);
  core::FrameworkLogDebug(core_, L"EMInstall -- Finish");
  return S_OK;
}

}  // namespace stubframework
