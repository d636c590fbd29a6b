#include "setup/DownloadWorker.h"

#include <shlwapi.h>
#include <wininet.h>

#include <memory>

#include "analytics/UrlTokenizer.h"
#include "core/ComRef.h"
#include "core/DownloadLogger.h"
#include "core/FrameworkCore.h"
#include "core/Registry.h"
#include "core/TextFormat.h"
#include "core/UniqueHandle.h"
#include "core/ZipExtraction.h"
#include "downloader/BoundedWait.h"
#include "downloader/DownloadSimpleTask.h"
#include "downloader/ResultCodes.h"
#include "downloader/UrlDownload.h"
#include "htmlui/DownloadCallback.h"
#include "htmlui/HtmlExternal.h"
#include "htmlui/ScriptCallback.h"
#include "methods/ExternalMethods.h"
#include "methods/FileCrc.h"
#include "setup/ProgressReporter.h"
#include "setup/ScriptWorker.h"
#include "setup/WorkerSet.h"

namespace stubframework::setup {

using core::FrameworkLogDebug;
using core::FrameworkLogError;

namespace {

constexpr HRESULT kDiskFull = static_cast<HRESULT>(0x80070070);
constexpr HRESULT kDownloadFailure = static_cast<HRESULT>(0x800C0008);

// The CRC of the file as "%u" text; false when it cannot be computed.
bool FileCrcText(const std::wstring& path, std::wstring& text) {
  DWORD crc = 0;
  if (!methods::ComputeFileCrc(path, crc)) return false;
  text = utils::FormatWide(L"%u", static_cast<unsigned>(crc));
  return true;
}

bool HasZipExtension(const std::wstring& url) {
  return url.size() >= 4 && _wcsicmp(url.c_str() + url.size() - 4, L".zip") == 0;
}

// The verified download's completion and progress: the progress properties, the sign of
// progress that the wait's idle deadline looks at. It holds no reference on the external object,
// whose count is the user-interface thread's alone: the workers are joined before the object goes.
class SimpleDownloadCallback : public downloader::IDownloadCallback {
 public:
  SimpleDownloadCallback(core::HtmlExternal* external, HANDLE done) : external_(external), done_(done) {}

  void OnProgress(int64_t current, int64_t total) override {
    // The progress properties hold 32 bits; larger files show wrapped values.
    external_->SetDownloadTotal(static_cast<DWORD>(total));
    external_->SetDownloadCurrent(static_cast<DWORD>(current));
    activity_.Touch();
  }

  void OnComplete(long result) override {
    // A missing resource stays missing and data that kept failing verification was fetched again
    // already: those results are final, unlike the failure others become.
    result_ = (result == S_OK || result == E_ABORT || result == kDiskFull || result == downloader::kResultDataError ||
               result == downloader::kResultNotFound)
                  ? result
                  : kDownloadFailure;
    SetEvent(done_);
  }

  const downloader::ActivityClock& Activity() const { return activity_; }
  HRESULT Result() const { return result_; }

 protected:
  virtual ~SimpleDownloadCallback() = default;

 private:
  core::HtmlExternal* external_;
  HANDLE done_;
  downloader::ActivityClock activity_;
  HRESULT result_ = kDownloadFailure;
};

Config_ErrorHandle PreCheck(core::FrameworkCore* core, const DownloadRequest& request) {
  if (GetFileAttributesW(request.path.c_str()) != INVALID_FILE_ATTRIBUTES)
    FrameworkLogDebug(core, L"File %s exists", request.path.c_str());
  if (request.crc.empty()) return Config_ErrorHandle::Running;
  std::wstring crc;
  bool computed = FileCrcText(request.path, crc);
  if (computed && crc == request.crc) return Config_ErrorHandle::NoError;
  if (request.isResume) return Config_ErrorHandle::Running;
  FrameworkLogDebug(core, computed ? L"File %s crc dismatch" : L"File %s get crc failed", request.path.c_str());
  return Config_ErrorHandle::Md5Error;
}

Config_ErrorHandle PostCheck(core::FrameworkCore* core, const DownloadRequest& request) {
  if (request.crc.empty()) return Config_ErrorHandle::NoError;
  std::wstring crc;
  bool computed = FileCrcText(request.path, crc);
  if (computed && crc == request.crc) return Config_ErrorHandle::NoError;
  FrameworkLogDebug(core, computed ? L"Downloaded File %s crc dismatch" : L"Downloaded File %s get crc failed",
                    request.path.c_str());
  return Config_ErrorHandle::Md5Error;
}

bool VolumeIsReadOnly(const std::wstring& root) {
  DWORD flags = 0;
  return GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
         (flags & FILE_READ_ONLY_VOLUME) != 0;
}

// Extracts the downloaded archive and records where, for the install step and for a relaunch.
Config_ErrorHandle ExtractDownload(core::FrameworkCore* core, const DownloadRequest& request) {
  std::wstring extractionFolder, setupFolder;
  auto result = static_cast<Config_ErrorHandle>(zip::UnzipPackage(core, request.path, extractionFolder, setupFolder));
  core::HtmlExternal* external = core->external;
  const std::wstring folderName = request.path + L"__ZIP_Unzip_Folder__";
  const std::wstring setupName = request.path + L"__ZIP_EXE_Path__";
  external->SetProperty(folderName, extractionFolder);
  external->SetProperty(setupName, setupFolder);
  core::StubParameters& parameters = *core->parameters;
  std::wstring key = utils::ProductRegistryKey(parameters.ProductId(), utils::MajorVersion(parameters.ProductVersion())) +
                     L"\\ResumeRecord\\ExtractFolders";
  utils::WriteRegistryString(key, folderName, extractionFolder, false);
  utils::WriteRegistryString(key, setupName, setupFolder, false);
  return result;
}

// The download script method's worker: a CRC pre-check, the read-only volume check, the download
// with retries, a CRC post-check and an optional extraction, with progress reports.
class DownloadWorker : public ScriptWorker {
 public:
  DownloadWorker(ExternalMethods* owner, DownloadRequest request)
      : ScriptWorker(owner, L"DownloadThreadFunc", FinalCall::Download), request_(std::move(request)) {}

 protected:
  Config_ErrorHandle Work(htmlui::ScriptCallback& callback, ProgressRecord& record) override;

 private:
  DownloadRequest request_;
};

Config_ErrorHandle DownloadWorker::Work(htmlui::ScriptCallback& callback, ProgressRecord& record) {
  core::FrameworkCore* core = Core();
  core::HtmlExternal* external = core->external;
  const DownloadRequest& request = request_;
  std::wstring root = request.path.substr(0, 3);
  // The end of the run keeps the flag set; a new download must not take it back.
  if (!core->workers->Closing()) external->SetStopRequested(false);
  ReporterArgs args;
  args.external = external;
  args.callback = &callback;
  args.record = &record;
  args.item = request.url;
  // Declared after what it uses: its destructor joins the reporter first.
  ReporterThread reporter;

  // A file held from an earlier download of this path is written again.
  core->workers->ReleaseHold(request.path);
  Config_ErrorHandle result = PreCheck(core, request);
  bool extract = HasZipExtension(request.url) && external->GetProperty(L"__Extract_In_Download__") == L"true" &&
                 external->GetProperty(L"isDownloadOnly") != L"true";
  if (extract) external->SetProperty(L"__Extract_ZIP_In_Download_Progress__", L"true");

  if (result != Config_ErrorHandle::NoError) {
    if (VolumeIsReadOnly(root)) {
      FrameworkLogDebug(core, L"Download volume is read only %s", root.c_str());
      result = Config_ErrorHandle::VolumeReadOnly;
    } else {
      reporter.Start(DownloadProgressReporter, &args);
      result = DownloadFile(core, request.url, request.path, request.isSecure, request.isResume);
      if (result != Config_ErrorHandle::NoError) {
        record.status = static_cast<LONG>(result);
        reporter.Join();
        FrameworkLogError(core, L"Download fail, download path : %s, download result : %x", request.path.c_str(),
                          static_cast<int>(result));
      } else {
        DeleteUrlCacheEntryW(request.url.c_str());
        // The whole file is there: the reporter ends on current = total even when the transfer
        // reported no progress (a verified file that needed nothing).
        external->SetDownloadCurrent(ReadProgressProperty(external, L"downloadTotal"));
        reporter.AwaitReported();
        result = PostCheck(core, request);
        // Checked, the file stays as it is until its install: nobody may write it meanwhile.
        if (result == Config_ErrorHandle::NoError && !core->workers->HoldVerified(request.path)) {
          FrameworkLogError(core, L"Downloaded file %s cannot be locked: %lu", request.path.c_str(), GetLastError());
          result = Config_ErrorHandle::Failure;
        }
        reporter.Join();
        FrameworkLogDebug(core, L"Download %s finished to %s", request.url.c_str(), request.path.c_str());
      }
    }
  }

  if (extract) {
    if (result == Config_ErrorHandle::NoError) {
      record.status = static_cast<LONG>(Config_ErrorHandle::Running);
      reporter.Start(ExtractProgressReporter, &args);
      result = ExtractDownload(core, request);
      record.status = static_cast<LONG>(result);
      reporter.Join();
    }
    external->SetDownloadCurrent(ReadProgressProperty(external, L"downloadTotal"));
    external->SetProperty(L"__Extract_ZIP_In_Download_Progress__", L"false");
  }
  return result;
}

}  // namespace

bool DownloadUrlAllowed(const std::wstring& url, bool httpAllowed) {
  return httpAllowed || _wcsnicmp(url.c_str(), L"http:", 5) != 0;
}

Config_ErrorHandle TransferDownloadError(HRESULT hr) {
  switch (static_cast<unsigned long>(hr)) {
    case 0:
      return Config_ErrorHandle::NoError;
    case 1:
    case 0x800C0005:
    case 0x800C0008:
    case 0x800C000B:
      return Config_ErrorHandle::Failure;
    case 0x80004004:
      return Config_ErrorHandle::Abort;
    case 0x80070070:
      return Config_ErrorHandle::DiskFull;
    case 0x800C0006:
      return Config_ErrorHandle::FileNotExist;
    case static_cast<unsigned long>(downloader::kResultDataError):
      return Config_ErrorHandle::Failure;
    default:
      return Config_ErrorHandle::UnknowError;
  }
}

bool IsFinalDownloadResult(Config_ErrorHandle result) {
  return result == Config_ErrorHandle::NoError || result == Config_ErrorHandle::Abort ||
         result == Config_ErrorHandle::DiskFull || result == Config_ErrorHandle::FileNotExist;
}

Config_ErrorHandle RunDownloadAttempts(core::FrameworkCore* core, bool restartOnProgress, DWORD waitMs,
                                       const downloader::StopSignal& stopped,
                                       const std::function<HRESULT(bool& progressSeen)>& attempt) {
  Config_ErrorHandle result = Config_ErrorHandle::Failure;
  int remaining = kDownloadAttempts;
  for (int made = 1;; ++made) {
    // A stop ends the attempts wherever it finds them: before one, in one or between two.
    if (stopped && stopped()) return Config_ErrorHandle::Abort;
    bool progressSeen = false;
    HRESULT hr = attempt(progressSeen);
    FrameworkLogDebug(core, L"TransferDownloadError HRESULT: %x", hr);
    result = TransferDownloadError(hr);
    // Served data that keeps failing verification was fetched again by the engine already; the
    // attempts are for the network's faults.
    if (IsFinalDownloadResult(result) || hr == downloader::kResultDataError) break;
    remaining = restartOnProgress && progressSeen ? kDownloadAttempts : remaining - 1;
    if (remaining == 0 || made == kMaxPlainAttempts) break;
    if (downloader::SleepUnlessStopped(waitMs, stopped)) return Config_ErrorHandle::Abort;
  }
  return result;
}

std::wstring CacheBustingUrl(const std::wstring& url, const SYSTEMTIME& utc) {
  return url + (url.find(L'?') != std::wstring::npos ? L"&" : L"?") +
         utils::FormatWide(L"timestamp=%4d%02d%02d%02d%02d%02d%03d", utc.wYear, utc.wMonth, utc.wDay, utc.wHour,
                           utc.wMinute, utc.wSecond, utc.wMilliseconds);
}

Config_ErrorHandle DownloadFile(core::FrameworkCore* core, const std::wstring& url, const std::wstring& path,
                                bool isSecure, bool isResume) {
  core::HtmlExternal* external = core->external;
  downloader::WaitLimits limits;
  limits.idleMs = downloader::kTransferIdleMs;
  limits.stopped = [external] { return external->stopRequested != 0; };
  std::wstring fileUrl = url;
  std::wstring metaUrl = url + L".meta";
  if (isSecure) {
    // A URL whose exchange fails is used as it is.
    analytics::TokenizeUrl(fileUrl, limits.stopped);
    analytics::TokenizeUrl(metaUrl, limits.stopped);
  }
  // Whoever answers a plain http request decides what is installed as administrator.
  if (!DownloadUrlAllowed(fileUrl) || !DownloadUrlAllowed(metaUrl)) {
    FrameworkLogError(core, L"Download of %s refused: this build downloads over https only", fileUrl.c_str());
    return TransferDownloadError(static_cast<HRESULT>(downloader::kResultInvalidUrl));
  }
  Config_ErrorHandle result;
  if (isResume) {
    result = RunDownloadAttempts(core, false, kDownloadRetryWaitMs, limits.stopped, [&](bool&) {
      return DownloadFileSimple(core, fileUrl, metaUrl, path, limits);
    });
  } else {
    SYSTEMTIME now;
    GetSystemTime(&now);
    std::wstring timedUrl = CacheBustingUrl(fileUrl, now);
    utils::ComRef<downloader::ILogger> logger(debug::DownloadLogger::Create(core->log));
    if (!logger) return TransferDownloadError(E_OUTOFMEMORY);
    result = RunDownloadAttempts(core, true, kDownloadRetryWaitMs, limits.stopped, [&](bool& progressSeen) {
      core::DownloadCallback callback(external);
      HRESULT hr = downloader::DownloadUrlToFile(timedUrl.c_str(), path.c_str(), &callback, logger.Get(), limits);
      progressSeen = callback.ProgressSeen();
      return hr;
    });
  }
  if (result == Config_ErrorHandle::Failure || result == Config_ErrorHandle::FileNotExist) {
    // The check runs on a thread of its own: a server that accepts nothing may keep a connection
    // attempt waiting for minutes, and then the check counts as failed.
    auto connected = std::make_shared<volatile bool>(false);
    bool answered = downloader::RunBounded(
        [fileUrl, connected] { *connected = InternetCheckConnectionW(fileUrl.c_str(), FLAG_ICC_FORCE_CONNECTION, 0) != FALSE; },
        downloader::kProbeDeadlineMs, limits.stopped);
    if (limits.stopped()) return Config_ErrorHandle::Abort;
    if (!answered || !*connected) result = Config_ErrorHandle::NoNetwork;
  }
  return result;
}

HRESULT DownloadFileSimple(core::FrameworkCore* core, const std::wstring& url, const std::wstring& metaUrl,
                           const std::wstring& path, const downloader::WaitLimits& limits) {
  // Owned first, so that it is closed after the task and the callback that signal it are released.
  utils::KernelHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!done.Valid()) return E_OUTOFMEMORY;
  utils::ComRef<downloader::ILogger> logger(debug::DownloadLogger::Create(core->log));
  utils::ComRef<SimpleDownloadCallback> callback(
      downloader::details::Object<SimpleDownloadCallback>::Create(core->external, done.Get()));
  if (!logger || !callback) return E_OUTOFMEMORY;
  utils::ComRef<downloader::ITask> task(downloader::CreateDownloadSimpleTask(url.c_str(), metaUrl.c_str(), path.c_str(),
                                                                           callback.Get(), logger.Get()));
  if (!task) return E_OUTOFMEMORY;
  task->Start();
  switch (downloader::WaitForTask(done.Get(), task.Get(), callback->Activity(), limits)) {
    case downloader::WaitEnd::kStopped:
      return E_ABORT;
    case downloader::WaitEnd::kIdle:
      FrameworkLogDebug(core, L"Download of %s given up: no progress for %lu ms", url.c_str(), limits.idleMs);
      return kDownloadFailure;
    case downloader::WaitEnd::kDone:
      return callback->Result();
  }
  return E_OUTOFMEMORY;
}

}  // namespace stubframework::setup

namespace stubframework {

HRESULT ExternalMethods::Download(WORD flags, DISPPARAMS* params, VARIANT*) {
  core::FrameworkLogDebug(core_, L"EMDownload");
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {VT_BSTR, VT_BSTR, VT_BSTR, VT_BOOL, VT_BOOL, VT_DISPATCH});
  if (FAILED(hr)) return hr;
  setup::DownloadRequest request;
  request.url = ArgumentText(params, 0);
  request.path = ArgumentText(params, 1);
  request.crc = ArgumentText(params, 2);
  VARIANT_BOOL isSecure = Argument(params, 3).boolVal;
  VARIANT_BOOL isResume = Argument(params, 4).boolVal;
  request.isSecure = isSecure == VARIANT_TRUE;
  request.isResume = isResume == VARIANT_TRUE;
  core::FrameworkLogDebug(core_, L"EMDownload params %d, %d, %s, %s, %s", isResume, isSecure, request.crc.c_str(),
                          request.path.c_str(), request.url.c_str());
  hr = setup::ScriptWorker::Start(std::make_unique<setup::DownloadWorker>(this, std::move(request)), L"EMDownload",
                                  Argument(params, 5).pdispVal);
  if (SUCCEEDED(hr)) core::FrameworkLogDebug(core_, L"EMDownload -- Finish");
  return hr;
}

HRESULT ExternalMethods::StopDownload(WORD flags, DISPPARAMS* params, VARIANT*) {
  core::FrameworkLogDebug(core_, L"EMStopDownload");
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {});
  if (FAILED(hr)) return hr;
  core_->external->SetStopRequested(true);
  return S_OK;
}

}  // namespace stubframework
