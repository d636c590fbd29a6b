#pragma once
// One HTTP GET through WinINet in asynchronous mode, streamed to an IHttpCallback: the parsed
// response header first, then the body in pieces, then exactly one OnComplete.
#include <windows.h>
#include <wininet.h>

#include <cstdint>

#include "core/ComRef.h"
#include "downloader/Buffer.h"
#include "downloader/Task.h"
#include "downloader/TaskLock.h"
#include "downloader/Text.h"

namespace downloader {

class HttpTask : public ITask, public TaskLock<HttpTask, long> {
 public:
  void Start() override;
  void Cancel() override;

  // Body pieces are read into one block of this size: the cost of a WinINet read does not depend
  // much on its length, so few large reads are what makes a download fast.
  static constexpr size_t kPieceSize = 1 << 20;
  // The redirects that one request follows before it fails with kResultRedirectFailed; browsers
  // stop at about as many.
  static constexpr int kMaxRedirects = 20;

 protected:
  HttpTask(HttpRange&& range, IHttpCallback* callback, ILogger* logger);
  virtual ~HttpTask();

 private:
  friend class details::Object<HttpTask>;
  friend class TaskLock<HttpTask, long>;
  friend ITask* CreateHttpTask(const wchar_t* url, HttpRange&& range, IHttpCallback* callback,
                               ILogger* logger);

  using Step = void (HttpTask::*)();
  enum class ReadOutcome { kDone, kPending, kFailed };

  static void CALLBACK InternetStatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status,
                                              void* info, DWORD length);
  void LogStatusText(const wchar_t* format, const void* info, DWORD length);
  void OnRequestComplete(const INTERNET_ASYNC_RESULT& result);
  // The close action: closes the request handle and completes to the callback.
  void Close();
  // Gives the callback its one OnComplete, from Close or the handle-closing notification,
  // whichever comes first.
  void TellCallback();
  // The handle-closing notification: the handles go and the self-reference is given back.
  void CompleteFinally();

  long CreateSession();
  static void SetTimeouts(HINTERNET handle);
  long Connect();
  bool SetRange();
  bool SetIfRange();
  void SendRequest();

  // Steps that nextStep_ names when WinINet completes a call asynchronously.
  void OnRequestSent();
  void OnDataReady();
  void OnAnnouncedRead();

  bool FollowRedirect(int statusCode);
  void ProcessHeader(int statusCode);
  int GetStatusCode();
  void GetContentRange(HttpHeader& header);
  int64_t GetContentLength();
  bool GetHeader(DWORD level, Text& value);
  void QueryAvailable();
  bool ProcessData();
  bool ReadRest();
  ReadOutcome Read(DWORD length, DWORD flags);
  bool Deliver(size_t length);

  WideText url_;
  int64_t offset_;
  int64_t size_;
  Text etag_;
  IHttpCallback* callback_;
  HINTERNET session_ = nullptr;
  HINTERNET connection_ = nullptr;
  HINTERNET request_ = nullptr;
  DWORD available_ = 0;
  Step nextStep_ = nullptr;
  int redirects_ = 0;
  stubframework::utils::ComRef<ILogger> logger_;
  Buffer buffer_;
  // The read in flight. WinINet stores the byte count in it, for a read that waits for its data
  // also when that read completes later.
  INTERNET_BUFFERSA read_ = {};
};

// Null when url, callback or logger is null or memory runs out; otherwise the task with one
// reference, held by the caller. The task references callback and logger.
ITask* CreateHttpTask(const wchar_t* url, HttpRange&& range, IHttpCallback* callback,
                      ILogger* logger);

}  // namespace downloader
