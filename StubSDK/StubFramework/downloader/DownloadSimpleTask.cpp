#include "downloader/DownloadSimpleTask.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "downloader/HashTask.h"
#include "downloader/HttpToFileTask.h"
#include "downloader/HttpToMemTask.h"
#include "downloader/ResultCodes.h"

namespace downloader {

using stubframework::utils::ComRef;

// The sub-tasks' callbacks forward to the task. They hold no reference on it: the task's
// self-reference keeps it alive while a sub-task can still call back.
class DownloadMetaCallback : public ITaskCallback<HttpToMemResult> {
 public:
  void OnComplete(HttpToMemResult&& result) override { task_->OnMetaComplete(std::move(result)); }

 protected:
  explicit DownloadMetaCallback(DownloadSimpleTask* task) : task_(task) {}
  virtual ~DownloadMetaCallback() = default;

 private:
  friend class details::Object<DownloadMetaCallback>;
  DownloadSimpleTask* task_;
};

class DownloadHashCallback : public IHashCallback {
 public:
  void OnHash(const uint8_t (&digest)[20]) override { task_->OnHash(digest); }
  void OnComplete(HashResult result) override { task_->OnHashComplete(result); }

 protected:
  explicit DownloadHashCallback(DownloadSimpleTask* task) : task_(task) {}
  virtual ~DownloadHashCallback() = default;

 private:
  friend class details::Object<DownloadHashCallback>;
  DownloadSimpleTask* task_;
};

class DownloadFileCallback : public IHttpToFileCallback {
 public:
  void OnProgress(int64_t offset, int64_t length) override { task_->OnDownloadProgress(offset, length); }
  void OnComplete(long result) override { task_->OnDownloadComplete(result); }

 protected:
  explicit DownloadFileCallback(DownloadSimpleTask* task) : task_(task) {}
  virtual ~DownloadFileCallback() = default;

 private:
  friend class details::Object<DownloadFileCallback>;
  DownloadSimpleTask* task_;
};

DownloadSimpleTask::DownloadSimpleTask(IDownloadCallback* callback, ILogger* logger)
    : callback_(ComRef<IDownloadCallback>::Share(callback)), logger_(ComRef<ILogger>::Share(logger)) {}

DownloadSimpleTask::~DownloadSimpleTask() = default;

ITask* CreateDownloadSimpleTask(const wchar_t* url, const wchar_t* metaUrl, const wchar_t* path,
                                IDownloadCallback* callback, ILogger* logger) {
  if (!url || !metaUrl || !path || !callback || !logger) return nullptr;
  ComRef<DownloadSimpleTask> task(details::Object<DownloadSimpleTask>::Create(callback, logger));
  if (!task || !task->url_.Assign(url) || !task->metaUrl_.Assign(metaUrl) || !task->path_.Assign(path))
    return nullptr;
  return task.Detach();
}

void DownloadSimpleTask::Start() {
  if (!BeginStart()) return;
  // A sub-task that fails at once ends the task inside this call, and the callback may drop the
  // last outside reference then.
  AddRef();
  logger_->Log(L"DownloadSimpleTask::Start", L"Start download %s to %s.", url_.Get(), path_.Get());
  AddRef();  // the self-reference, given back by the final completion
  if (StartMeta()) {
    Leave();
  } else {
    Finish(kResultOutOfMemory);
    CompleteFinally();
  }
  Release();
}

void DownloadSimpleTask::Cancel() {
  logger_->Log(L"DownloadSimpleTask::Cancel", L"Cancel.");
  Finish(kResultAbort);
}

void DownloadSimpleTask::Close() { current_.Cancel(); }

bool DownloadSimpleTask::StartMeta() {
  ComRef<DownloadMetaCallback> callback(details::Object<DownloadMetaCallback>::Create(this));
  if (!callback) {
    logger_->Log(L"DownloadSimpleTask::StartMeta", L"Create DownloadMetaCallback failed.");
    return false;
  }
  ITask* task = CreateHttpToMemTask(metaUrl_.Get(), callback.Get(), logger_.Get());
  if (!task) {
    logger_->Log(L"DownloadSimpleTask::StartMeta", L"Create HttpToMemTask failed.");
    return false;
  }
  current_.Set(task);
  task->Start();
  return true;
}

void DownloadSimpleTask::OnMetaComplete(HttpToMemResult&& result) {
  // A sub-task that fails inside its Start ends the task within this call.
  AddRef();
  if (TryEnter()) {
    if (result.result != kResultOk) {
      Finish(result.result);
    } else if (!CreateDownloadMetaSimple(result.buffer.data, result.buffer.size, meta_)) {
      logger_->Log(L"DownloadSimple::OnMetaComplete", L"CreateDownloadMetaSimple failed.");
      Finish(kResultFail);
    } else {
      total_ = meta_.length;
      progress_ = 0;
      ReportProgress();
      if (PrepareStart()) {
        current_.Clear();
        if (StartHash()) {
          Leave();
          Release();
          return;
        }
      }
    }
  }
  CompleteFinally();
  Release();
}

bool DownloadSimpleTask::PrepareStart() {
  const wchar_t* where = L"DownloadSimpleTask::PrepareStart";
  file_.Reset(CreateFileW(path_.Get(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                          nullptr));
  if (!file_.Valid()) {
    DWORD error = GetLastError();
    logger_->Log(where, L"CreateFileW failed %u.", error);
    Finish(ResultFromError(error));
    return false;
  }
  // The file takes its final length at once: a longer one is cut, a shorter one grows.
  LARGE_INTEGER end;
  end.QuadPart = total_;
  const wchar_t* failed = nullptr;
  if (!SetFilePointerEx(file_.Get(), end, nullptr, FILE_BEGIN)) {
    failed = L"SetFilePointerEx failed %u.";
  } else if (!SetEndOfFile(file_.Get())) {
    failed = L"SetEndOfFile failed %u.";
  }
  if (failed) {
    DWORD error = GetLastError();
    logger_->Log(where, failed, error);
    file_.Close();
    Finish(ResultFromError(error));
    return false;
  }
  block_ = 0;
  return true;
}

bool DownloadSimpleTask::SeekToBlock(const wchar_t* where) {
  LARGE_INTEGER position;
  position.QuadPart = block_ * kBlockSize;
  if (SetFilePointerEx(file_.Get(), position, nullptr, FILE_BEGIN)) return true;
  DWORD error = GetLastError();
  logger_->Log(where, L"SetFilePointerEx failed %u.", error);
  Finish(ResultFromError(error));
  return false;
}

bool DownloadSimpleTask::StartHash() {
  const wchar_t* where = L"DownloadSimpleTask::StartHash";
  if (!SeekToBlock(where)) return false;
  ComRef<DownloadHashCallback> callback(details::Object<DownloadHashCallback>::Create(this));
  if (!callback) {
    logger_->Log(where, L"Create HashCallback failed.");
    Finish(kResultOutOfMemory);
    return false;
  }
  ITask* task = CreateHashTask(file_.Get(), callback.Get());
  if (!task) {
    logger_->Log(where, L"Create HashTask failed.");
    Finish(kResultOutOfMemory);
    return false;
  }
  logger_->Log(where, L"Start hash from block %lld.", block_);
  current_.Set(task);
  task->Start();
  return true;
}

void DownloadSimpleTask::OnHash(const uint8_t (&digest)[20]) {
  const wchar_t* where = L"DownloadSimpleTask::OnHash";
  int64_t blocks = static_cast<int64_t>(meta_.digests.size());
  if (block_ >= blocks) {
    logger_->Log(where, L"Unexpected hash data %lld/%lld.", block_, blocks);
    Finish(kResultFail);
    return;
  }
  if (memcmp(digest, meta_.digests[static_cast<size_t>(block_)].data(), sizeof(digest)) != 0) {
    logger_->Log(where, L"Hash mismatch found for block %lld.", block_);
    current_.Cancel();  // the pass stops before its next read
    return;
  }
  ++block_;
  progress_ = std::max(progress_, std::min(block_ * kBlockSize, total_));
  ReportProgress();
}

void DownloadSimpleTask::OnHashComplete(HashResult result) {
  const wchar_t* where = L"DownloadSimpleTask::OnHashComplete";
  AddRef();  // as in OnMetaComplete
  if (TryEnter()) {
    if (result == HashFailed) {
      logger_->Log(where, L"Hash failed.");
      Finish(kResultFail);
    } else if (block_ < static_cast<int64_t>(meta_.digests.size())) {
      logger_->Log(where, L"Hash mismatch.");
      // Data served again from the same block that fails again there will not get better.
      downloadsWithoutProgress_ = block_ == downloadBlock_ ? downloadsWithoutProgress_ + 1 : 0;
      if (downloadsWithoutProgress_ >= kMaxDownloadsWithoutProgress) {
        logger_->Log(where, L"Block %lld failed verification after %d downloads in a row.", block_,
                     downloadsWithoutProgress_);
        Finish(kResultDataError);
      } else {
        current_.Clear();
        if (StartDownload()) {
          Leave();
          Release();
          return;
        }
      }
    } else {
      logger_->Log(where, L"Hash success.");
      Finish(kResultOk);
    }
  }
  CompleteFinally();
  Release();
}

bool DownloadSimpleTask::StartDownload() {
  const wchar_t* where = L"DownloadSimpleTask::StartDownload";
  if (!SeekToBlock(where)) return false;
  int64_t offset = block_ * kBlockSize;
  progress_ = offset;  // moves back when data reported before failed its verification
  ReportProgress();
  ComRef<DownloadFileCallback> callback(details::Object<DownloadFileCallback>::Create(this));
  if (!callback) {
    logger_->Log(where, L"Create DownloadFileCallback failed.");
    Finish(kResultOutOfMemory);
    return false;
  }
  // The whole rest of the file comes in one request, not only the bad block.
  ITask* task =
      CreateHttpToFileTask(url_.Get(), file_.Get(), offset, total_ - offset, callback.Get(), logger_.Get());
  if (!task) {
    logger_->Log(where, L"Create HttpToFileTask failed.");
    Finish(kResultOutOfMemory);
    return false;
  }
  downloadBlock_ = block_;
  current_.Set(task);
  task->Start();
  return true;
}

void DownloadSimpleTask::OnDownloadProgress(int64_t offset, int64_t length) {
  progress_ = offset + length;
  ReportProgress();
}

void DownloadSimpleTask::OnDownloadComplete(long result) {
  AddRef();  // the final completion may give back the self-reference inside this call
  if (TryEnter()) {
    if (result >= 0) {
      // Everything just written is verified before it counts.
      current_.Clear();
      if (StartHash()) {
        Leave();
        Release();
        return;
      }
    } else {
      Finish(result);
    }
  }
  CompleteFinally();
  Release();
}

void DownloadSimpleTask::ReportProgress() { callback_->OnProgress(progress_, total_); }

void DownloadSimpleTask::CompleteFinally() {
  current_.Clear();
  file_.Close();
  ComRef<IDownloadCallback> callback(std::move(callback_));
  callback->OnComplete(FinalResult());
  // Let go before the self-reference, whose release may end the task.
  callback.Reset();
  Release();
}

}  // namespace downloader
