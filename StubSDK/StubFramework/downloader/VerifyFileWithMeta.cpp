#include "downloader/VerifyFileWithMeta.h"

#include <windows.h>
#include <wininet.h>

#include <cstring>
#include <memory>

#include "core/DownloadLogger.h"
#include "downloader/BoundedWait.h"
#include "downloader/DownloadMetaSimple.h"
#include "downloader/HashTask.h"
#include "downloader/HttpToMemTask.h"
#include "downloader/Redirect.h"

namespace stubframework::utils {

namespace {

// Owns a manual-reset event for the waits below.
class Event {
 public:
  Event() : handle_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Event() {
    if (handle_) CloseHandle(handle_);
  }
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

class HttpToMemCallback : public downloader::ITaskCallback<downloader::HttpToMemResult> {
 public:
  void OnComplete(downloader::HttpToMemResult&& result) override {
    ok_ = result.result >= 0;
    if (ok_) body_ = std::move(result.buffer);
    SetEvent(done_);
  }

 protected:
  HttpToMemCallback(HANDLE done, bool& ok, downloader::Buffer& body) : done_(done), ok_(ok), body_(body) {}
  virtual ~HttpToMemCallback() = default;

 private:
  template <class T>
  friend class downloader::details::Object;
  HANDLE done_;
  bool& ok_;
  downloader::Buffer& body_;
};

class HashCallback : public downloader::IHashCallback {
 public:
  void SetTask(downloader::ITask* task) { task_ = task; }

  void OnHash(const uint8_t (&digest)[20]) override {
    if (blocks_ >= meta_.digests.size() || memcmp(digest, meta_.digests[blocks_].data(), 20) != 0) {
      task_->Cancel();
      return;
    }
    ++blocks_;
  }

  void OnComplete(downloader::HashResult result) override {
    result_ = result;
    SetEvent(done_);
  }

 protected:
  HashCallback(HANDLE done, const downloader::DownloadMeta& meta, downloader::HashResult& result, size_t& blocks)
      : done_(done), meta_(meta), result_(result), blocks_(blocks) {}
  virtual ~HashCallback() = default;

 private:
  template <class T>
  friend class downloader::details::Object;
  HANDLE done_;
  const downloader::DownloadMeta& meta_;
  downloader::HashResult& result_;
  size_t& blocks_;
  downloader::ITask* task_ = nullptr;
};

// The status of a request for the URL without following redirects; 0 when none came.
DWORD ProbeStatus(const std::wstring& url) {
  HINTERNET session = InternetOpenW(L"ValidURL", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (!session) return 0;
  HINTERNET request = InternetOpenUrlW(session, url.c_str(), nullptr, 0,
                                       INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_AUTO_REDIRECT, 0);
  DWORD status = 0;
  DWORD size = sizeof(status);
  if (request && !HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
    status = 0;
  if (request) InternetCloseHandle(request);
  InternetCloseHandle(session);
  return status;
}

// True unless the URL answers, without following redirects, with a status other than 200. The
// probe is a blocking call that WinINet may never end: it runs on a thread of its own, and no
// answer within the deadline is no answer.
bool MetaUrlUnreachable(const std::wstring& metaUrl) {
  auto status = std::make_shared<volatile DWORD>(0);
  if (!downloader::RunBounded([metaUrl, status] { *status = ProbeStatus(metaUrl); }, downloader::kProbeDeadlineMs))
    return true;
  return *status != 200 && !downloader::IsRedirectStatus(*status);
}

bool DownloadMeta(const std::wstring& metaUrl, downloader::DownloadMeta& meta) {
  Event done;
  if (!done.get()) return false;
  bool ok = false;
  downloader::Buffer body;
  auto* callback = downloader::details::Object<HttpToMemCallback>::Create(done.get(), ok, body);
  downloader::ILogger* logger = debug::DownloadLogger::Create(nullptr);
  downloader::ITask* task = callback && logger ? downloader::CreateHttpToMemTask(metaUrl.c_str(), callback, logger)
                                               : nullptr;
  if (task) {
    task->Start();
    // A metadata file is small: the deadline is for the whole of it. A task given up ends
    // cancelled, which is a failed download.
    downloader::WaitLimits limits;
    limits.idleMs = downloader::kProbeDeadlineMs;
    downloader::WaitForTask(done.get(), task, downloader::ActivityClock(), limits);
    task->Release();
  }
  if (logger) logger->Release();
  if (callback) callback->Release();
  return task && ok && downloader::CreateDownloadMetaSimple(body.data, body.size, meta);
}

}  // namespace

bool VerifyFileWithMeta(const std::wstring& path, const std::wstring& metaUrl) {
  if (MetaUrlUnreachable(metaUrl)) return true;
  downloader::DownloadMeta meta;
  if (!DownloadMeta(metaUrl, meta)) return false;
  // Readers only: the running stub's own file is held the same way by its launcher.
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER length{};
  bool sameLength = GetFileSizeEx(file, &length) && length.QuadPart == meta.length;
  downloader::HashResult result = downloader::HashFailed;
  size_t blocks = 0;
  if (sameLength) {
    Event done;
    auto* callback = done.get() ? downloader::details::Object<HashCallback>::Create(done.get(), meta, result, blocks)
                                : nullptr;
    downloader::ITask* task = callback ? downloader::CreateHashTask(file, callback) : nullptr;
    if (task) {
      callback->SetTask(task);
      task->Start();
      WaitForSingleObject(done.get(), INFINITE);
      task->Release();
    }
    if (callback) callback->Release();
  }
  CloseHandle(file);
  // A file whose blocks match only the start of the list is a different, shorter file.
  return result == downloader::HashComplete && blocks == meta.digests.size();
}

}  // namespace stubframework::utils
