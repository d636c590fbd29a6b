#include "downloader/VerifyFileWithMeta.h"

#include <windows.h>
#include <wininet.h>

#include <cstring>
#include <memory>

#include "core/ComRef.h"
#include "core/DownloadLogger.h"
#include "core/UniqueHandle.h"
#include "downloader/BoundedWait.h"
#include "downloader/DownloadMetaSimple.h"
#include "downloader/HashTask.h"
#include "downloader/HttpToMemTask.h"
#include "downloader/Redirect.h"

namespace stubframework::utils {

namespace {

// A manual-reset event for the waits below.
KernelHandle CreateDoneEvent() { return KernelHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr)); }

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
  InternetHandle session(InternetOpenW(L"ValidURL", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session.Valid()) return 0;
  InternetHandle request(InternetOpenUrlW(session.Get(), url.c_str(), nullptr, 0,
                                          INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_AUTO_REDIRECT, 0));
  DWORD status = 0;
  DWORD size = sizeof(status);
  if (request.Valid() &&
      !HttpQueryInfoW(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
    status = 0;
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
  KernelHandle done = CreateDoneEvent();
  if (!done.Valid()) return false;
  bool ok = false;
  downloader::Buffer body;
  {
    // The task and its callback are released before the answer is read.
    ComRef<HttpToMemCallback> callback(downloader::details::Object<HttpToMemCallback>::Create(done.Get(), ok, body));
    ComRef<downloader::ILogger> logger(debug::DownloadLogger::Create(nullptr));
    ComRef<downloader::ITask> task(
        callback && logger ? downloader::CreateHttpToMemTask(metaUrl.c_str(), callback.Get(), logger.Get()) : nullptr);
    if (!task) return false;
    task->Start();
    // A metadata file is small: the deadline is for the whole of it. A task given up ends
    // cancelled, which is a failed download.
    downloader::WaitLimits limits;
    limits.idleMs = downloader::kProbeDeadlineMs;
    downloader::WaitForTask(done.Get(), task.Get(), downloader::ActivityClock(), limits);
  }
  return ok && downloader::CreateDownloadMetaSimple(body.data, body.size, meta);
}

}  // namespace

bool VerifyFileWithMeta(const std::wstring& path, const std::wstring& metaUrl) {
  if (MetaUrlUnreachable(metaUrl)) return true;
  downloader::DownloadMeta meta;
  if (!DownloadMeta(metaUrl, meta)) return false;
  // Readers only: the running stub's own file is held the same way by its launcher.
  FileHandle file(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return false;
  LARGE_INTEGER length{};
  bool sameLength = GetFileSizeEx(file.Get(), &length) && length.QuadPart == meta.length;
  downloader::HashResult result = downloader::HashFailed;
  size_t blocks = 0;
  if (sameLength) {
    KernelHandle done = CreateDoneEvent();
    ComRef<HashCallback> callback(
        done.Valid() ? downloader::details::Object<HashCallback>::Create(done.Get(), meta, result, blocks) : nullptr);
    ComRef<downloader::ITask> task(callback ? downloader::CreateHashTask(file.Get(), callback.Get()) : nullptr);
    if (task) {
      callback->SetTask(task.Get());
      task->Start();
      WaitForSingleObject(done.Get(), INFINITE);
    }
  }
  // A file whose blocks match only the start of the list is a different, shorter file.
  return result == downloader::HashComplete && blocks == meta.digests.size();
}

}  // namespace stubframework::utils
