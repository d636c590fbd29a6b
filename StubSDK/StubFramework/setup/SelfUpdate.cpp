#include "setup/SelfUpdate.h"

#include <windows.h>
#include <wininet.h>

#include <cwchar>
#include <memory>

#include "analytics/UrlTokenizer.h"
#include "core/ComRef.h"
#include "core/CommandLine.h"
#include "core/DownloadLogger.h"
#include "core/FrameworkCore.h"
#include "core/TextFormat.h"
#include "core/WorkingFolders.h"
#include "downloader/UrlDownload.h"
#include "downloader/VerifyFileWithMeta.h"
#include "htmlui/DownloadCallback.h"
#include "htmlui/HtmlExternal.h"
#include "htmlui/ScriptCallback.h"
#include "methods/ExternalMethods.h"
#include "setup/DownloadWorker.h"
#include "setup/ProgressReporter.h"
#include "setup/ScriptWorker.h"
#include "setup/WorkerSet.h"

namespace stubframework::setup {

using core::FrameworkLogDebug;
using core::FrameworkLogError;

namespace {

struct UpdateRequest {
  bool self = true;  // the self-update; otherwise the installer list's
  std::wstring url;
  std::wstring path;  // the list file
  bool isSecure = true;
  bool isResume = true;
};

// The download of one worker with its progress reports; NoError only with the whole file there.
Config_ErrorHandle DownloadWithReports(core::FrameworkCore* core, htmlui::ScriptCallback& callback,
                                       const UpdateRequest& request, const std::wstring& target,
                                       ProgressRecord& record) {
  ReporterArgs args;
  args.external = core->external;
  args.callback = &callback;
  args.record = &record;
  args.item = request.url;
  ReporterThread reporter;
  reporter.Start(DownloadProgressReporter, &args);
  Config_ErrorHandle result = DownloadFile(core, request.url, target, request.isSecure, request.isResume);
  if (result == Config_ErrorHandle::NoError) {
    DeleteUrlCacheEntryW(request.url.c_str());
    core->external->SetDownloadCurrent(ReadProgressProperty(core->external, L"downloadTotal"));
    reporter.AwaitReported();
  } else {
    record.status = static_cast<LONG>(result);
  }
  reporter.Join();
  return result;
}

// The self-update hands over to the launcher only with a whole, verified new stub, put into
// the launcher's working root and named to it there; the fact stays in this process's memory.
// A process the stub's launcher did not start has no launcher to hand over to and downloads
// nothing.
Config_ErrorHandle UpdateSelf(core::FrameworkCore* core, htmlui::ScriptCallback& callback, const UpdateRequest& request,
                              ProgressRecord& record) {
  std::wstring exe = core::ModulePath(), root;
  size_t slash = exe.find_last_of(L'\\');
  std::wstring name = core::UpdateStubName(request.url, exe.substr(slash + 1));
  if (exe.empty() || slash == std::wstring::npos || name.empty()) {
    FrameworkLogError(core, L"SelfUpdateThreadFunc: no file name in %s", request.url.c_str());
    return Config_ErrorHandle::Failure;
  }
  if (!utils::GetWorkingRoot(root) || !utils::WorkingRootIsShared()) {
    FrameworkLogError(core, L"SelfUpdateThreadFunc: not started by the stub's launcher, nothing to hand over to");
    return Config_ErrorHandle::Failure;
  }
  std::wstring target = root + name;
  Config_ErrorHandle result = DownloadWithReports(core, callback, request, target, record);
  if (result == Config_ErrorHandle::NoError && !core::WriteUpdateHandOver(name)) {
    FrameworkLogError(core, L"SelfUpdateThreadFunc: the hand-over to the launcher could not be written");
    result = Config_ErrorHandle::Failure;
  }
  if (result == Config_ErrorHandle::NoError) {
    core->parameters->exitCode = core::kSelfUpdateExitCode;
  } else {
    if (result != Config_ErrorHandle::Abort)
      FrameworkLogError(core, L"Download fail, download path : %s, download result : %x", target.c_str(),
                        static_cast<int>(result));
    DeleteFileW(target.c_str());
  }
  FrameworkLogDebug(core, L"Download %s finished.", request.url.c_str());
  return result;
}

Config_ErrorHandle UpdateList(core::FrameworkCore* core, htmlui::ScriptCallback& callback, const UpdateRequest& request,
                              ProgressRecord& record) {
  if (request.path.empty()) {
    FrameworkLogError(core, L"UpdateInstallerListThreadFunc: no local path for %s", request.url.c_str());
    return Config_ErrorHandle::Failure;
  }
  if (!core->workers->Closing()) core->external->SetStopRequested(false);
  std::wstring temp = InstallerListTempPath(request.path);
  Config_ErrorHandle result = DownloadWithReports(core, callback, request, temp, record);
  if (result == Config_ErrorHandle::NoError) {
    if (!MoveFileExW(temp.c_str(), request.path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      FrameworkLogError(core, L"Update installerlist: moving %s failed: %lu", temp.c_str(), GetLastError());
      return Config_ErrorHandle::Failure;
    }
  }
  if (result == Config_ErrorHandle::NoError)
    FrameworkLogDebug(core, L"Update installerlist %s finished to %s", request.url.c_str(), request.path.c_str());
  return result;
}

// The self-update's and the installer list's worker.
class UpdateWorker : public ScriptWorker {
 public:
  UpdateWorker(ExternalMethods* owner, UpdateRequest request)
      : ScriptWorker(owner, request.self ? L"SelfUpdateThreadFunc" : L"UpdateInstallerListThreadFunc",
                     FinalCall::Download),
        request_(std::move(request)) {}

 protected:
  Config_ErrorHandle Work(htmlui::ScriptCallback& callback, ProgressRecord& record) override {
    return request_.self ? UpdateSelf(Core(), callback, request_, record)
                         : UpdateList(Core(), callback, request_, record);
  }

 private:
  UpdateRequest request_;
};

}  // namespace

std::wstring InstallerListTempPath(const std::wstring& path) {
  size_t dot = path.rfind(L'.');
  size_t slash = path.find_last_of(L"\\/");
  if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) return path + L"__NEW_FILE__";
  return path.substr(0, dot) + L"__NEW_FILE__" + path.substr(dot);
}

}  // namespace stubframework::setup

namespace stubframework {

HRESULT ExternalMethods::IsSkipSelfUpdate(WORD flags, DISPPARAMS* params, VARIANT* result) {
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {});
  if (FAILED(hr) || !result) return hr;
  bool skip = core::HasArgument(GetCommandLineW(), L"update=0");
  core::FrameworkLogDebug(core_, L"EMIsSkipUpdate Result: %s", skip ? L"skipUpdate" : L"update");
  SetResultBool(result, skip);
  return S_OK;
}

HRESULT ExternalMethods::IsNeedSelfUpdate(WORD flags, DISPPARAMS* params, VARIANT* result) {
  HRESULT hr = CheckArguments(flags, kFlagsMethodGet, params, {VT_BSTR});
  if (FAILED(hr) || !result) return hr;
  bool need = !utils::VerifyFileWithMeta(core::ModulePath(), ArgumentText(params, 0) + L".meta");
  core::FrameworkLogDebug(core_, L"EMIsNeedSelfUpdate Result: %s", need ? L"need update" : L"not need update");
  SetResultBool(result, need);
  return S_OK;
}

HRESULT ExternalMethods::IsSilentLaunchStub(WORD flags, DISPPARAMS* params, VARIANT* result) {
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {});
  if (FAILED(hr) || !result) return hr;
  bool silent = false;
  for (const std::wstring& argument : core::SplitCommandLine(GetCommandLineW()))
    silent = silent || _wcsicmp(argument.c_str(), L"/QN") == 0;
  core::FrameworkLogDebug(core_, L"EMIsSilentLaunchStub Result: %s", silent ? L"launch silently" : L"launch normal");
  SetResultBool(result, silent);
  return S_OK;
}

HRESULT ExternalMethods::SelfUpdate(WORD flags, DISPPARAMS* params, VARIANT*) {
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {VT_BSTR, VT_DISPATCH});
  if (FAILED(hr)) return hr;
  setup::UpdateRequest request;
  request.url = ArgumentText(params, 0);
  return setup::ScriptWorker::Start(std::make_unique<setup::UpdateWorker>(this, std::move(request)), L"ZSUpdateSelf",
                                    Argument(params, 1).pdispVal);
}

HRESULT ExternalMethods::UpdateInstallerList(WORD flags, DISPPARAMS* params, VARIANT*) {
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {VT_BSTR, VT_BSTR, VT_BOOL, VT_BOOL, VT_DISPATCH});
  if (FAILED(hr)) return hr;
  setup::UpdateRequest request;
  request.self = false;
  request.url = ArgumentText(params, 0);
  request.path = ArgumentText(params, 1);
  VARIANT_BOOL isSecure = Argument(params, 2).boolVal;
  VARIANT_BOOL isResume = Argument(params, 3).boolVal;
  request.isSecure = isSecure == VARIANT_TRUE;
  request.isResume = isResume == VARIANT_TRUE;
  core::FrameworkLogDebug(core_, L"EMUpdateInstallerList %s %s %d %d", request.url.c_str(), request.path.c_str(),
                          isSecure, isResume);
  hr = setup::ScriptWorker::Start(std::make_unique<setup::UpdateWorker>(this, std::move(request)),
                                  L"EMUpdateInstallerList", Argument(params, 4).pdispVal);
  if (SUCCEEDED(hr)) core::FrameworkLogDebug(core_, L"EMUpdateInstallerList -- Finish");
  return hr;
}

HRESULT ExternalMethods::InitDownloadSize(WORD flags, DISPPARAMS* params, VARIANT*) {
  core::FrameworkLogDebug(core_, L"EMInitDownloadSize");
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {VT_BSTR, VT_BSTR, VT_BOOL});
  if (FAILED(hr)) return hr;
  std::wstring url = ArgumentText(params, 0);
  std::wstring temp = ArgumentText(params, 1) + L".temp";
  if (Argument(params, 2).boolVal == VARIANT_TRUE) analytics::TokenizeUrl(url);
  utils::ComRef<downloader::ILogger> logger(debug::DownloadLogger::Create(core_->log));
  if (logger) {
    // The probe's own flag: a download running on a worker meanwhile goes on. The page waits for
    // the call: a server that does not answer is given up.
    core::DownloadCallback callback(core_->external, true);
    downloader::WaitLimits limits;
    limits.idleMs = downloader::kProbeDeadlineMs;
    downloader::DownloadUrlToFile(url.c_str(), temp.c_str(), &callback, logger.Get(), limits);
  }
  DeleteFileW(temp.c_str());
  return S_OK;
}

}  // namespace stubframework
