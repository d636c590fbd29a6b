#include "downloader/HttpToMemTask.h"

#include <cstring>
#include <utility>

#include "downloader/HttpTask.h"
#include "downloader/ResultCodes.h"

namespace downloader {

using stubframework::utils::ComRef;
namespace {

// Bodies of 2^31 bytes or more are refused: their size does not fit the 32-bit callers.
constexpr int64_t kLargestBody = 0x7FFFFFFF;

}  // namespace

HttpToMemTask::HttpToMemTask(ITaskCallback<HttpToMemResult>* callback, ILogger* logger)
    : callback_(ComRef<ITaskCallback<HttpToMemResult>>::Share(callback)), logger_(ComRef<ILogger>::Share(logger)) {
  // Without it the first request fails to start, and the task reports that.
  httpCallback_.Reset(details::Object<ForwardingHttpCallback<HttpToMemTask>>::Create(this));
}

HttpToMemTask::~HttpToMemTask() = default;

ITask* CreateHttpToMemTask(const wchar_t* url, ITaskCallback<HttpToMemResult>* callback, ILogger* logger) {
  if (!url || !callback || !logger) return nullptr;
  ComRef<HttpToMemTask> task(details::Object<HttpToMemTask>::Create(callback, logger));
  if (!task || !task->url_.Assign(url)) return nullptr;
  return task.Detach();
}

void HttpToMemTask::Start() {
  if (!BeginStart()) return;
  // A request that fails at once ends the task inside this call, and the callback may drop the
  // last outside reference then.
  AddRef();
  logger_->Log(L"HttpToMemTask::Start", L"Start download %s to memory.", url_.Get());
  AddRef();  // the self-reference, given back by the final completion
  if (StartHttp()) {
    Leave();
  } else {
    Finish(kResultOutOfMemory);
    CompleteFinally();
  }
  Release();
}

void HttpToMemTask::Cancel() {
  logger_->Log(L"HttpToMemTask::Cancel", L"Cancel.");
  Finish(kResultCancelled);
}

bool HttpToMemTask::StartHttp() {
  // The first request asks for the whole resource. A continuation asks for the rest with a range
  // as long as the whole body: it reaches past the end, and the server answers with what is left.
  HttpRange range;
  bool ready = true;
  if (completion_.buffer.size != 0) {
    range.offset = position_;
    range.size = static_cast<int64_t>(completion_.buffer.size);
    ready = range.etag.Assign(etag_.Get(), etag_.Length());
  }
  ITask* task = ready ? CreateHttpTask(url_.Get(), std::move(range), httpCallback_.Get(), logger_.Get()) : nullptr;
  if (!task) {
    logger_->Log(L"HttpToMemTask::StartHttp", L"Create HttpTask failed.");
    return false;
  }
  request_.Set(task);
  task->Start();
  return true;
}

void HttpToMemTask::OnHttpHeader(HttpHeader&& header) {
  switch (header.statusCode) {
    case 200:
      OnHttpStatusOK(header);
      return;
    case 206:
      if (!OnHttpStatusPartialContent(header)) Finish(kResultBadResponse);
      return;
    default:
      logger_->Log(L"HttpToMemTask::OnHttpHeader", L"Unexpected HTTP status code %d.", header.statusCode);
      Finish(IsMissingResource(header.statusCode) ? kResultNotFound : kResultBadResponse);
      return;
  }
}

void HttpToMemTask::OnHttpStatusOK(HttpHeader& header) {
  if (header.total >= kLargestBody) {
    logger_->Log(L"HttpToMemTask::OnHttpStatusOK", L"Buffer::SetSize(%lld) failed.", header.total);
    Finish(kResultOutOfMemory);
    return;
  }
  if (header.total < 0) {
    logger_->Log(L"HttpToMemTask::OnHttpStatusOK", L"Unexpected content length %lld.", header.total);
    Finish(kResultBadResponse);
    return;
  }
  size_t size = static_cast<size_t>(header.total);
  if (size != completion_.buffer.size && !completion_.buffer.SetSize(size)) {
    logger_->Log(L"HttpToMemTask::OnHttpStatusOK", L"Buffer::SetSize(%lld) failed.", header.total);
    Finish(kResultOutOfMemory);
    return;
  }
  // A whole body always starts again at byte 0, in the same buffer when its size still fits.
  etag_ = std::move(header.etag);
  position_ = 0;
}

bool HttpToMemTask::OnHttpStatusPartialContent(HttpHeader& header) {
  int64_t size = static_cast<int64_t>(completion_.buffer.size);
  if (size == header.total && header.total < (int64_t{1} << 32) && header.offset == position_ &&
      header.offset + header.size == header.total)
    return IsSameVersion(header, size, etag_, logger_.Get(), L"HttpToMemTask::OnHttpStatusPartialContent");
  logger_->Log(L"HttpToMemTask::OnHttpStatusPartialContent",
               L"Unexpected content range (OFFSET:%lld SIZE:%lld TOTAL:%lld)/(POS:%lld SIZE:%Iu).",
               header.offset, header.size, header.total, position_, completion_.buffer.size);
  return false;
}

void HttpToMemTask::OnData(const Buffer& data) {
  // Data of a refused or cancelled response is never stored.
  if (IsFinishing()) return;
  Buffer& body = completion_.buffer;
  if (position_ + static_cast<int64_t>(data.size) > static_cast<int64_t>(body.size)) {
    logger_->Log(L"HttpToMemTask::OnData", L"Data large than expected %lld/%Iu.",
                 position_ + static_cast<int64_t>(data.size), body.size);
    Finish(kResultBadResponse);
    return;
  }
  if (data.size) memcpy(body.data + position_, data.data, data.size);
  position_ += static_cast<int64_t>(data.size);
}

void HttpToMemTask::OnComplete(long result) {
  auto isShort = [this] {
    if (position_ == static_cast<int64_t>(completion_.buffer.size)) return false;
    logger_->Log(L"HttpToMemTask::OnComplete", L"Data not complete %lld/%Iu.", position_, completion_.buffer.size);
    return true;
  };
  CompleteChainRequest(this, result, isShort, position_, L"HttpToMemTask::OnComplete");
}

void HttpToMemTask::Close() { request_.Cancel(); }

void HttpToMemTask::CompleteFinally() {
  logger_->Log(L"HttpToMemTask::OnComplete", L"Complete.");
  request_.Clear();
  completion_.result = FinalResult();
  ComRef<ITaskCallback<HttpToMemResult>> callback(std::move(callback_));
  callback->OnComplete(std::move(completion_));
  // Let go before the self-reference, whose release may end the task.
  callback.Reset();
  Release();
}

}  // namespace downloader
