#include "downloader/HttpToFileTask.h"

#include <utility>

#include "downloader/HttpTask.h"
#include "downloader/ResultCodes.h"

namespace downloader {

using stubframework::utils::ComRef;

HttpToFileTask::HttpToFileTask(HANDLE file, int64_t offset, int64_t size, IHttpToFileCallback* callback,
                               ILogger* logger)
    : file_(file),
      offset_(offset),
      remaining_(size),
      callback_(ComRef<IHttpToFileCallback>::Share(callback)),
      logger_(ComRef<ILogger>::Share(logger)),
      progress_(offset) {}

HttpToFileTask::~HttpToFileTask() = default;

ITask* CreateHttpToFileTask(const wchar_t* url, HANDLE file, int64_t offset, int64_t size,
                            IHttpToFileCallback* callback, ILogger* logger) {
  if (!url || !callback || !logger) return nullptr;
  ComRef<HttpToFileTask> task(details::Object<HttpToFileTask>::Create(file, offset, size, callback, logger));
  if (!task || !task->url_.Assign(url)) return nullptr;
  return task.Detach();
}

void HttpToFileTask::Start() {
  if (!BeginStart()) return;
  // A request that fails at once ends the task inside this call, and the callback may drop the
  // last outside reference then.
  AddRef();
  logger_->Log(L"HttpToFileTask::Start", L"Start download %s (OFFSET:%lld SIZE:%lld) to file.", url_.Get(),
               offset_, remaining_);
  AddRef();  // the self-reference, given back by the final completion
  if (StartHttp()) {
    Leave();
  } else {
    Finish(kResultOutOfMemory);
    CompleteFinally();
  }
  Release();
}

void HttpToFileTask::Cancel() {
  logger_->Log(L"HttpToFileTask::Cancel", L"Cancel.");
  Finish(kResultCancelled);
}

bool HttpToFileTask::StartHttp() {
  ComRef<ForwardingHttpCallback<HttpToFileTask>> callback(
      details::Object<ForwardingHttpCallback<HttpToFileTask>>::Create(this));
  if (!callback) {
    logger_->Log(L"HttpToFileTask::StartHttp", L"Create HttpCallback failed.");
    return false;
  }
  HttpRange range;
  range.offset = offset_;
  range.size = remaining_;
  ITask* task = nullptr;
  if (range.etag.Assign(etag_.Get(), etag_.Length()))
    task = CreateHttpTask(url_.Get(), std::move(range), callback.Get(), logger_.Get());
  if (!task) {
    logger_->Log(L"HttpToFileTask::StartHttp", L"Create HttpTask failed.");
    return false;
  }
  request_.Set(task);
  task->Start();
  return true;
}

void HttpToFileTask::OnHttpHeader(HttpHeader&& header) {
  switch (header.statusCode) {
    case 200:
      if (OnHttpStatusOK(header)) return;
      break;
    case 206:
      if (OnHttpStatusPartialContent(header)) return;
      break;
    default:
      logger_->Log(L"HttpToFileTask::OnHttpHeader", L"Unexpected HTTP status code %d.", header.statusCode);
      Finish(IsMissingResource(header.statusCode) ? kResultNotFound : kResultBadResponse);
      return;
  }
  Finish(kResultBadResponse);
}

bool HttpToFileTask::OnHttpStatusOK(HttpHeader& header) {
  // A whole resource fits only a region that starts at byte 0 and is the resource.
  if (offset_ == 0 && header.total == remaining_) {
    etag_ = std::move(header.etag);
    total_ = header.total;
    return true;
  }
  logger_->Log(L"HttpToFileTask::OnHttpStatusOK", L"Unexpected content length %lld/(OFFSET:%lld SIZE:%lld).",
               header.total, offset_, remaining_);
  return false;
}

bool HttpToFileTask::OnHttpStatusPartialContent(HttpHeader& header) {
  if (header.offset == offset_ && header.size == remaining_) {
    if (total_ >= 0 &&
        !IsSameVersion(header, total_, etag_, logger_.Get(), L"HttpToFileTask::OnHttpStatusPartialContent"))
      return false;
    // Without a validator yet, the first range's ETag guards the continuations: a resource that
    // changed meanwhile then answers with a whole body, which is refused, instead of a range
    // that would mix two versions in the file.
    if (etag_.IsEmpty()) etag_ = std::move(header.etag);
    total_ = header.total;
    return true;
  }
  logger_->Log(L"HttpToFileTask::OnHttpStatusPartialContent",
               L"Unexpected content range (OFFSET:%lld SIZE:%lld TOTAL:%lld)/(OFFSET:%lld SIZE:%lld).",
               header.offset, header.size, header.total, offset_, remaining_);
  return false;
}

void HttpToFileTask::OnData(const Buffer& data) {
  // Data of a refused or cancelled response is never written.
  if (IsFinishing()) return;
  int64_t length = static_cast<int64_t>(data.size);
  if (length > remaining_) {
    logger_->Log(L"HttpToFileTask::OnData", L"Data large than expected %lld", length - remaining_);
    Finish(kResultBadResponse);
    return;
  }
  DWORD written = 0;
  BOOL ok = WriteFile(file_, data.data, static_cast<DWORD>(data.size), &written, nullptr);
  if (!ok || written != data.size) {
    // A short write that reports success leaves no error code behind; on a disk file it means
    // the disk is full.
    DWORD error = ok ? ERROR_DISK_FULL : GetLastError();
    logger_->Log(L"HttpToFileTask::OnData", L"WriteFile failed %u.", error);
    Finish(ResultFromError(error));
  }
  callback_->OnProgress(offset_, written);
  offset_ += written;
  remaining_ -= written;
}

void HttpToFileTask::OnComplete(long result) {
  auto isShort = [this] {
    if (remaining_ == 0) return false;
    logger_->Log(L"HttpToFileTask::OnComplete", L"Data not complete %lld needed.", remaining_);
    return true;
  };
  CompleteChainRequest(this, result, isShort, offset_, L"HttpToFileTask::OnComplete");
}

void HttpToFileTask::Close() { request_.Cancel(); }

void HttpToFileTask::CompleteFinally() {
  logger_->Log(L"HttpToFileTask::OnComplete", L"Complete.");
  request_.Clear();
  long result = FinalResult();
  ComRef<IHttpToFileCallback> callback(std::move(callback_));
  callback->OnComplete(result);
  // Let go before the self-reference, whose release may end the task.
  callback.Reset();
  Release();
}

}  // namespace downloader
