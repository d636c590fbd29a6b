#pragma once
// Downloads one byte region of a resource into an open file. Every response header is checked
// against the region still missing, surplus data is refused, and a response that ends early is
// continued with a new request for the rest.
#include <windows.h>

#include <cstdint>

#include "core/ComRef.h"
#include "downloader/RequestChain.h"
#include "downloader/Task.h"
#include "downloader/TaskLock.h"
#include "downloader/Text.h"

namespace downloader {

class HttpToFileTask : public ITask, public TaskLock<HttpToFileTask, long> {
 public:
  void Start() override;
  void Cancel() override;

 protected:
  HttpToFileTask(HANDLE file, int64_t offset, int64_t size, IHttpToFileCallback* callback,
                 ILogger* logger);
  virtual ~HttpToFileTask();

 private:
  friend class ForwardingHttpCallback<HttpToFileTask>;
  friend class details::Object<HttpToFileTask>;
  friend class TaskLock<HttpToFileTask, long>;
  template <class Task, class IsShort>
  friend void CompleteChainRequest(Task*, long, IsShort, const int64_t&, const wchar_t*);
  friend ITask* CreateHttpToFileTask(const wchar_t* url, HANDLE file, int64_t offset, int64_t size,
                                     IHttpToFileCallback* callback, ILogger* logger);

  bool StartHttp();
  void OnHttpHeader(HttpHeader&& header);
  bool OnHttpStatusOK(HttpHeader& header);
  bool OnHttpStatusPartialContent(HttpHeader& header);
  void OnData(const Buffer& data);
  void OnComplete(long result);
  // The close action: cancels the current request, whose completion then ends the task.
  void Close();
  void CompleteFinally();

  WideText url_;
  HANDLE file_;  // not owned: the creator positions it at offset and closes it
  int64_t offset_;
  int64_t remaining_;
  stubframework::utils::ComRef<IHttpToFileCallback> callback_;
  CurrentRequest request_;
  Text etag_;
  int64_t total_ = -1;  // the resource's length by the first accepted answer; -1 before it
  stubframework::utils::ComRef<ILogger> logger_;
  ProgressBound progress_;
};

// The file must be open for writing and positioned at offset. Null when url, callback or logger
// is null or memory runs out.
ITask* CreateHttpToFileTask(const wchar_t* url, HANDLE file, int64_t offset, int64_t size,
                            IHttpToFileCallback* callback, ILogger* logger);

}  // namespace downloader
