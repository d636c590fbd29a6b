#pragma once
// Downloads a whole resource into memory and hands the bytes over with the result. The resource
// must announce its length, below 2^31 bytes; a response that ends early is continued with a
// range request for the rest.
#include <cstdint>

#include "core/ComRef.h"
#include "downloader/RequestChain.h"
#include "downloader/Task.h"
#include "downloader/TaskLock.h"
#include "downloader/Text.h"

namespace downloader {

class HttpToMemTask : public ITask, public TaskLock<HttpToMemTask, long> {
 public:
  void Start() override;
  void Cancel() override;

 protected:
  HttpToMemTask(ITaskCallback<HttpToMemResult>* callback, ILogger* logger);
  virtual ~HttpToMemTask();

 private:
  friend class ForwardingHttpCallback<HttpToMemTask>;
  friend class details::Object<HttpToMemTask>;
  friend class TaskLock<HttpToMemTask, long>;
  template <class Task, class IsShort>
  friend void CompleteChainRequest(Task*, long, IsShort, const int64_t&, const wchar_t*);
  friend ITask* CreateHttpToMemTask(const wchar_t* url, ITaskCallback<HttpToMemResult>* callback,
                                    ILogger* logger);

  bool StartHttp();
  void OnHttpHeader(HttpHeader&& header);
  void OnHttpStatusOK(HttpHeader& header);
  bool OnHttpStatusPartialContent(HttpHeader& header);
  void OnData(const Buffer& data);
  void OnComplete(long result);
  // The close action: cancels the current request, whose completion then ends the task.
  void Close();
  void CompleteFinally();

  WideText url_;
  stubframework::utils::ComRef<ITaskCallback<HttpToMemResult>> callback_;
  stubframework::utils::ComRef<IHttpCallback> httpCallback_;  // used for every request; null if it could not be made
  CurrentRequest request_;
  Text etag_;
  int64_t position_ = 0;  // bytes stored; never beyond the buffer's size
  HttpToMemResult completion_;
  stubframework::utils::ComRef<ILogger> logger_;
  ProgressBound progress_{0};
};

// Null when an argument is null or memory runs out.
ITask* CreateHttpToMemTask(const wchar_t* url, ITaskCallback<HttpToMemResult>* callback, ILogger* logger);

}  // namespace downloader
