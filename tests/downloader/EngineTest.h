#pragma once
// What the download engine tests share: the test servers, callbacks that record what a task
// reports, and a fixture that logs through the real DownloadLogger into a real installer log and
// checks after each test that every engine object is gone again.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "core/ComRef.h"
#include "core/InstallerLog.h"
#include "core/UniqueHandle.h"
#include "downloader/Task.h"

namespace enginetest {

// The servers that scripts/test-servers.sh started, from the file named by HALVERN_TEST_SERVERS.
struct Servers {
  std::wstring nginx;  // "http://127.0.0.1:port"
  std::wstring fault;
  std::wstring docroot;  // Windows path with trailing backslash
  std::wstring requestsLog;
};

// One line of the fault server's request log.
struct ServerRequest {
  int number = 0;
  std::string target;
  std::string range;    // "-" when absent
  std::string ifRange;  // "-" when absent
};

using stubframework::utils::ComRef;

struct RecordedHeader {
  int statusCode = 0;
  std::string etag;
  int64_t offset = 0;
  int64_t size = 0;
  int64_t total = 0;
};

// Records an HttpTask's calls. Set once the header arrived (headerSeen) and at completion (done).
class HttpRecorder : public downloader::IHttpCallback {
 public:
  static HttpRecorder* Create();
  void OnComplete(long result) override;
  void OnHttpHeader(downloader::HttpHeader&& header) override;
  void OnData(const downloader::Buffer& data) override;
  bool WaitDone(DWORD milliseconds = 30000) const;
  bool WaitHeader(DWORD milliseconds = 30000) const;

  std::vector<RecordedHeader> headers;
  std::string body;
  int dataCalls = 0;
  size_t largestPiece = 0;
  bool dataBeforeHeader = false;
  int completions = 0;
  long result = 1;
  bool* destroyed = nullptr;  // set true by the destructor when not null

 protected:
  HttpRecorder();
  virtual ~HttpRecorder();

 private:
  template <class T>
  friend class downloader::details::Object;
  stubframework::utils::KernelHandle headerSeen_;
  stubframework::utils::KernelHandle done_;
};

// Records an HttpToFileTask's calls.
class FileRecorder : public downloader::IHttpToFileCallback {
 public:
  static FileRecorder* Create();
  void OnComplete(long result) override;
  void OnProgress(int64_t offset, int64_t length) override;
  bool WaitDone(DWORD milliseconds = 30000) const;

  struct Progress {
    int64_t offset;
    int64_t length;
  };
  std::vector<Progress> progress;
  int completions = 0;
  long result = 1;

 protected:
  FileRecorder();
  virtual ~FileRecorder();

 private:
  template <class T>
  friend class downloader::details::Object;
  stubframework::utils::KernelHandle done_;
};

// Records an HttpToMemTask's result and takes its buffer.
class MemRecorder : public downloader::ITaskCallback<downloader::HttpToMemResult> {
 public:
  static MemRecorder* Create();
  void OnComplete(downloader::HttpToMemResult&& result) override;
  bool WaitDone(DWORD milliseconds = 30000) const;

  downloader::Buffer body;
  int completions = 0;
  long result = 1;

 protected:
  MemRecorder();
  virtual ~MemRecorder();

 private:
  template <class T>
  friend class downloader::details::Object;
  stubframework::utils::KernelHandle done_;
};

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // URLs on the two servers; path starts with '/'.
  std::wstring NginxUrl(const std::wstring& path) const { return servers_.nginx + path; }
  std::wstring FaultUrl(const std::wstring& path) const { return servers_.fault + path; }
  // A tag that no other test uses, for the fault server's request numbering and log.
  std::string NewTag();
  std::vector<ServerRequest> RequestsWithTag(const std::string& tag) const;
  std::string ServedFile(const std::wstring& name) const;
  // The installer log so far.
  std::string LogText() const;
  bool LogHas(const std::string& text) const { return LogText().find(text) != std::string::npos; }

  downloader::ILogger* logger_ = nullptr;
  Servers servers_;

 private:
  std::unique_ptr<stubframework::debug::InstallerLog> log_;
  long liveObjectsBefore_ = 0;
};

std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

}  // namespace enginetest
