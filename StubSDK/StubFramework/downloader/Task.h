#pragma once
// The task interfaces of the download engine and the records that tasks hand to their callbacks.
// Slot order matters: every interface lists its inherited slots first and adds its own after them.
#include <cstdint>

#include "downloader/Buffer.h"
#include "downloader/Object.h"
#include "downloader/Text.h"

namespace downloader {

struct ITask : IObject {
  virtual void Start() = 0;
  virtual void Cancel() = 0;
};

enum HashResult { HashComplete = 0, HashCancelled = 1, HashFailed = 2 };

struct HttpToMemResult {
  long result = 0;
  Buffer buffer;  // the downloaded body; the receiver may take it
};

struct HttpHeader {
  int statusCode = -1;  // -1 when the status could not be queried
  Text etag;            // empty when absent
  int64_t offset = 0;
  int64_t size = 0;
  int64_t total = -1;  // -1 when the server announced no length
};

struct HttpRange {
  int64_t offset = 0;
  int64_t size = 0;  // 0: the whole resource, no Range header
  Text etag;         // empty: no If-Range header
};

// One final result per task. The result of a memory download is handed over with its buffer.
template <class Result>
struct ITaskCallback : IObject {
  virtual void OnComplete(Result result) = 0;
};

template <>
struct ITaskCallback<HttpToMemResult> : IObject {
  virtual void OnComplete(HttpToMemResult&& result) = 0;
};

struct IHttpCallback : ITaskCallback<long> {
  virtual void OnHttpHeader(HttpHeader&& header) = 0;
  // The piece is lent for the call only.
  virtual void OnData(const Buffer& data) = 0;
};

struct IHttpToFileCallback : ITaskCallback<long> {
  virtual void OnProgress(int64_t offset, int64_t length) = 0;
};

struct IHashCallback : ITaskCallback<HashResult> {
  virtual void OnHash(const uint8_t (&digest)[20]) = 0;
};

struct IDownloadCallback : ITaskCallback<long> {
  virtual void OnProgress(int64_t current, int64_t total) = 0;
};

}  // namespace downloader
