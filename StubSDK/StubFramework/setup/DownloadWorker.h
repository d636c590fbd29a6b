#pragma once
// The download script method's worker and the download routine it shares with the self-update:
// a CRC pre-check, the read-only volume check, the download with retries (verified and resumable,
// or plain with a cache-busting timestamp), a CRC post-check, an optional extraction of a ZIP
// download and progress reports, run as a script worker (setup/ScriptWorker.h).
#include <windows.h>
#include <objbase.h>

#include <functional>
#include <string>

#include "ProductDefinition.h"
#include "downloader/BoundedWait.h"
#include "setup/Workflow.h"

namespace stubframework::core {
struct FrameworkCore;
}

namespace stubframework::setup {

// What the download method hands its worker.
struct DownloadRequest {
  bool isResume = false;
  bool isSecure = false;
  std::wstring crc;  // expected CRC-32 as unsigned decimal text; empty = no check
  std::wstring path;
  std::wstring url;
};

// Whether a download from url may start: https always, plain http only where httpAllowed (the
// product definition's profile allows it only in the builds against the loopback servers); any
// other scheme is left to the engine, which refuses it.
bool DownloadUrlAllowed(const std::wstring& url, bool httpAllowed = definition::kAllowHttpDownloads);

// The download error of an attempt mapped to the script's result code; data that kept failing
// verification (downloader::kResultDataError) is a Failure that is not tried again.
Config_ErrorHandle TransferDownloadError(HRESULT hr);

// Attempts give up on these at once; any other code is tried again.
bool IsFinalDownloadResult(Config_ErrorHandle result);

// Ten attempts. A plain download starts counting again whenever an attempt moved data, so a
// server that keeps dropping mid-transfer is still given up after kMaxPlainAttempts in all.
constexpr int kDownloadAttempts = 10;
constexpr int kMaxPlainAttempts = 30;
constexpr DWORD kDownloadRetryWaitMs = 1000;

// Runs attempt until a final result or the attempts run out, logging and mapping each HRESULT,
// waiting waitMs between attempts. attempt sets its argument when it saw data arrive. Abort, with
// no attempt more, once stopped turns true before an attempt or during a wait.
Config_ErrorHandle RunDownloadAttempts(core::FrameworkCore* core, bool restartOnProgress, DWORD waitMs,
                                       const downloader::StopSignal& stopped,
                                       const std::function<HRESULT(bool& progressSeen)>& attempt);

// url with "timestamp=" and the UTC time as yyyyMMddHHmmss and three-digit milliseconds
// appended, after "&" when url already has a query, else after "?".
std::wstring CacheBustingUrl(const std::wstring& url, const SYSTEMTIME& utc);

// Blocking download of url to path with retries; isResume selects the verified, resumable
// download against url + ".meta". A Failure or FileNotExist is NoNetwork when a forced connection
// to url fails too. Every wait gives up after downloader::kTransferIdleMs without progress, and
// the external object's stopRequested ends the download with Abort within a moment, whatever
// it is waiting for.
Config_ErrorHandle DownloadFile(core::FrameworkCore* core, const std::wstring& url, const std::wstring& path,
                                bool isSecure, bool isResume);

// One blocking verified download, given up as limits say; its HRESULT (E_ABORT when stopped, the
// disk-full error, 0x800C0006 when the server has no such file or ".meta",
// downloader::kResultDataError, 0x800C0008 for any other failure and for a transfer given up idle,
// E_OUTOFMEMORY when nothing could be set up).
HRESULT DownloadFileSimple(core::FrameworkCore* core, const std::wstring& url, const std::wstring& metaUrl,
                           const std::wstring& path, const downloader::WaitLimits& limits);

}  // namespace stubframework::setup
