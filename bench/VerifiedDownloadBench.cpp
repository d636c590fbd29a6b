// Runs one resumable verified download, as the download worker does, and prints its result, the
// bytes the file holds and the peak working set of the process.
//
//   verified_download_bench <url> <meta url> <local file>
//   verified_download_bench --hash <file>
//
// Output: "<result> <file bytes> <peak working set bytes>", the result as the engine's HRESULT in
// hex. The benchmark script times the whole process from outside. With --hash: the seconds that
// SHA-1 of every 1 MiB block of the file takes through the engine's digest function (CNG) and
// through CryptoAPI with a fresh context per block, "<engine seconds> <cryptoapi seconds>".
#include <windows.h>
#include <psapi.h>
#include <wincrypt.h>

#include <cstdio>

#include "BenchCompletion.h"
#include "core/DownloadLogger.h"
#include "core/InstallerLog.h"
#include "downloader/DownloadSimpleTask.h"
#include "downloader/Sha1.h"

namespace {

class Completion : public BenchCompletion<downloader::IDownloadCallback> {
 public:
  static Completion* Create() { return downloader::details::Object<Completion>::Create(); }
  void OnProgress(int64_t, int64_t) override {}

 private:
  template <class T>
  friend class downloader::details::Object;
};

double Seconds(const LARGE_INTEGER& start) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool CryptoApiSha1(const BYTE* data, DWORD size, BYTE (&digest)[20]) {
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  DWORD length = sizeof(digest);
  bool ok = CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
            CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash) && CryptHashData(hash, data, size, 0) &&
            CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0);
  if (hash) CryptDestroyHash(hash);
  if (provider) CryptReleaseContext(provider, 0);
  return ok;
}

// Hashes the file block by block with one of the two services; -1 on failure.
double HashFile(const wchar_t* path, bool cryptoApi) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  static BYTE block[1048576];
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  bool ok = true;
  DWORD read = 0;
  while (ok && ReadFile(file, block, sizeof(block), &read, nullptr) && read) {
    BYTE digest[20];
    ok = cryptoApi ? CryptoApiSha1(block, read, digest) : downloader::ComputeSha1(block, read, digest);
  }
  double seconds = Seconds(start);
  CloseHandle(file);
  return ok ? seconds : -1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && wcscmp(argv[1], L"--hash") == 0) {
    printf("%.3f %.3f\n", HashFile(argv[2], false), HashFile(argv[2], true));
    return 0;
  }
  if (argc != 4) {
    fwprintf(stderr, L"usage: verified_download_bench <url> <meta url> <local file> | --hash <file>\n");
    return 2;
  }
  stubframework::debug::InstallerLog log;
  downloader::ILogger* logger = stubframework::debug::DownloadLogger::Create(&log);
  Completion* completion = Completion::Create();
  downloader::ITask* task =
      logger && completion ? downloader::CreateDownloadSimpleTask(argv[1], argv[2], argv[3], completion, logger) : nullptr;
  if (!task) return 1;
  task->Start();
  completion->Wait();
  long result = completion->Result();
  task->Release();
  completion->Release();
  logger->Release();

  WIN32_FILE_ATTRIBUTE_DATA attributes{};
  GetFileAttributesExW(argv[3], GetFileExInfoStandard, &attributes);
  unsigned long long bytes = (static_cast<unsigned long long>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof(memory);
  GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
  printf("0x%08lX %llu %llu\n", static_cast<unsigned long>(result), bytes,
         static_cast<unsigned long long>(memory.PeakWorkingSetSize));
  return result == 0 ? 0 : 1;
}
