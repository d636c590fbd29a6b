#pragma once
// What the tasks share that fetch one resource over a chain of HTTP requests, continuing a
// response that ended early with a new request for the rest.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <utility>

#include "core/ComRef.h"
#include "downloader/ResultCodes.h"
#include "downloader/Task.h"

namespace downloader {

// The chain gives up when this many requests in a row brought the task no further.
constexpr int kMaxRequestsWithoutProgress = 3;

// Forwards a request's calls to the owning task. It holds no reference on the owner: the owner's
// self-reference keeps it alive while a request can still call back.
template <class Owner>
class ForwardingHttpCallback : public IHttpCallback {
 public:
  void OnComplete(long result) override { owner_->OnComplete(result); }
  void OnHttpHeader(HttpHeader&& header) override { owner_->OnHttpHeader(std::move(header)); }
  void OnData(const Buffer& data) override { owner_->OnData(data); }

 protected:
  explicit ForwardingHttpCallback(Owner* owner) : owner_(owner) {}
  virtual ~ForwardingHttpCallback() = default;

 private:
  friend class details::Object<ForwardingHttpCallback>;
  Owner* owner_;
};

// The request the chain runs now. It is set on one WinINet thread and cancelled or dropped on
// another, so it sits behind a lock of its own, which is never held while the request is called.
class CurrentRequest {
 public:
  CurrentRequest() { InitializeCriticalSection(&lock_); }
  ~CurrentRequest() {
    Clear();
    DeleteCriticalSection(&lock_);
  }
  CurrentRequest(const CurrentRequest&) = delete;
  CurrentRequest& operator=(const CurrentRequest&) = delete;

  // Takes over the caller's reference.
  void Set(ITask* task) { Exchange(stubframework::utils::ComRef<ITask>(task)); }

  void Cancel() {
    EnterCriticalSection(&lock_);
    auto task = stubframework::utils::ComRef<ITask>::Share(task_.Get());
    LeaveCriticalSection(&lock_);
    if (task) task->Cancel();
  }

  void Clear() { Exchange(stubframework::utils::ComRef<ITask>()); }

 private:
  // The request given back is released by the caller, outside the lock.
  stubframework::utils::ComRef<ITask> Exchange(stubframework::utils::ComRef<ITask> task) {
    EnterCriticalSection(&lock_);
    std::swap(task_, task);
    LeaveCriticalSection(&lock_);
    return task;
  }

  CRITICAL_SECTION lock_;
  stubframework::utils::ComRef<ITask> task_;
};

// A continuation must come from the version of the resource that the chain's first answer
// served: the same total and, where the request named that version in If-Range, the same ETag.
// A server that ignores If-Range answers with a range of its newer version, which would mix two
// versions in one body. An answer without an ETag cannot show its version; its total still must
// match. The caller refuses a false answer with kResultBadResponse.
inline bool IsSameVersion(const HttpHeader& header, int64_t total, const Text& etag, ILogger* logger,
                          const wchar_t* where) {
  bool sameEtag = etag.IsEmpty() || header.etag.IsEmpty() ||
                  (header.etag.Length() == etag.Length() && memcmp(header.etag.Get(), etag.Get(), etag.Length()) == 0);
  if (header.total == total && sameEtag) return true;
  logger->Log(where, L"Resource changed (TOTAL:%lld ETAG:%S)/(TOTAL:%lld ETAG:%S).", header.total,
              header.etag.Get(), total, etag.Get());
  return false;
}

// Counts the requests in a row that ended early without getting further into the resource than
// any request before them. A whole body that starts again at byte 0 is progress only once it
// passes the furthest point reached.
class ProgressBound {
 public:
  explicit ProgressBound(int64_t start) : furthest_(start) {}

  // Records where the request that just ended left the task; true when the chain must give up.
  bool GiveUpAt(int64_t reached) {
    if (reached > furthest_) {
      furthest_ = reached;
      requestsWithoutProgress_ = 0;
    } else {
      ++requestsWithoutProgress_;
    }
    return requestsWithoutProgress_ >= kMaxRequestsWithoutProgress;
  }

  // The give-up ends with the code of a connection abort, which callers already treat as a
  // network failure; the line tells a log reader that no connection was aborted.
  void LogGiveUp(ILogger* logger, const wchar_t* where) const {
    logger->Log(where, L"No new data in %d requests in a row: giving up with 0x%08X, no connection abort.",
                requestsWithoutProgress_, static_cast<unsigned long>(kResultConnectionAborted));
  }

 private:
  int64_t furthest_;
  int requestsWithoutProgress_ = 0;
};

// The end of one request of a chain's task. A request that ended well but left the body short
// (isShort, which logs what is missing) is followed by one for the rest, from reached, until the
// progress bound gives up; any other end finishes the task, and its final completion follows.
// The reference taken here keeps the task alive through that completion.
template <class Task, class IsShort>
void CompleteChainRequest(Task* task, long result, IsShort isShort, const int64_t& reached, const wchar_t* where) {
  task->AddRef();
  if (task->TryEnter()) {
    if (result == kResultOk && isShort()) {
      if (task->progress_.GiveUpAt(reached)) {
        task->progress_.LogGiveUp(task->logger_.Get(), where);
        result = kResultConnectionAborted;
      } else {
        task->request_.Clear();
        if (task->StartHttp()) {
          task->Leave();
          task->Release();
          return;
        }
        result = kResultOutOfMemory;
      }
    }
    task->Finish(result);
  }
  task->CompleteFinally();
  task->Release();
}

}  // namespace downloader
