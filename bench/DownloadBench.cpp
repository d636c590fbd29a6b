// Downloads one resource into a file with the engine's file download, as an install does, and
// prints how long the transfer took from Start to the completion.
//
//   download_bench <url> <target file> <size in bytes>
//
// Output: "<bytes> <seconds> <result>", the result as the engine's HRESULT in hex.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "BenchCompletion.h"
#include "core/DownloadLogger.h"
#include "core/InstallerLog.h"
#include "downloader/HttpToFileTask.h"

namespace {

class Completion : public BenchCompletion<downloader::IHttpToFileCallback> {
 public:
  static Completion* Create() { return downloader::details::Object<Completion>::Create(); }
  void OnProgress(int64_t, int64_t length) override { written_ += length; }
  int64_t Written() const { return written_; }

 private:
  template <class T>
  friend class downloader::details::Object;
  int64_t written_ = 0;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    fwprintf(stderr, L"usage: download_bench <url> <target file> <size in bytes>\n");
    return 2;
  }
  int64_t size = _wcstoi64(argv[3], nullptr, 10);
  HANDLE file = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    fwprintf(stderr, L"cannot create %s\n", argv[2]);
    return 1;
  }
  stubframework::debug::InstallerLog log;
  downloader::ILogger* logger = stubframework::debug::DownloadLogger::Create(&log);
  Completion* completion = Completion::Create();
  downloader::ITask* task = downloader::CreateHttpToFileTask(argv[1], file, 0, size, completion, logger);
  if (!logger || !completion || !task) return 1;

  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  task->Start();
  completion->Wait();
  QueryPerformanceCounter(&end);

  double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
  printf("%lld %.3f 0x%08lX\n", static_cast<long long>(completion->Written()), seconds,
         static_cast<unsigned long>(completion->Result()));
  long result = completion->Result();
  task->Release();
  completion->Release();
  logger->Release();
  CloseHandle(file);
  return result == 0 ? 0 : 1;
}
