// The download worker's rules that need no server: the error mapping, the attempt counting, the
// cache-busting timestamp, the extraction part of the download bar, and the worker set that the
// end of the run stops and joins.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <new>
#include <string>

#include "core/FrameworkCore.h"
#include "core/UniqueHandle.h"
#include "setup/DownloadWorker.h"
#include "setup/ProgressReporter.h"
#include "setup/WorkerSet.h"
#include "support/TestCore.h"
#include "support/TestSupport.h"

using namespace stubframework;
using namespace stubframework::setup;
using testsupport::ReadFileBytes;

namespace {

class DownloadWorkerTest : public ::testing::Test {
 protected:
  std::string LogText() { return test_.LogText(); }

  testsupport::TestCore test_;
  core::StubParameters& parameters_ = test_.parameters;
  core::FrameworkCore& core_ = test_.core;
};

TEST_F(DownloadWorkerTest, TransferDownloadErrorMapsEveryListedCodeAndTheRestToUnknown) {
  // 0x80070017: served data that kept failing verification.
  const struct {
    unsigned long hr;
    Config_ErrorHandle code;
  } cases[] = {
      {0, Config_ErrorHandle::NoError},           {1, Config_ErrorHandle::Failure},
      {0x800C0005, Config_ErrorHandle::Failure},  {0x800C0008, Config_ErrorHandle::Failure},
      {0x800C000B, Config_ErrorHandle::Failure},  {0x80004004, Config_ErrorHandle::Abort},
      {0x80070070, Config_ErrorHandle::DiskFull}, {0x800C0006, Config_ErrorHandle::FileNotExist},
      {0x80004005, Config_ErrorHandle::UnknowError}, {0x80070017, Config_ErrorHandle::Failure},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TransferDownloadError(static_cast<HRESULT>(c.hr)), c.code) << std::hex << c.hr;
}

TEST_F(DownloadWorkerTest, AttemptsStopAtFinalResultsAndAStopAndAreBoundedEvenWhenEveryAttemptMoves) {
  const struct {
    bool restartOnProgress;
    bool progress;
    HRESULT hr;
    int stopAfter;  // the stop turns true once this many attempts were made; 0: never
    int attempts;
    Config_ErrorHandle result;
  } cases[] = {
      {true, true, static_cast<HRESULT>(0x800C0008), 0, kMaxPlainAttempts, Config_ErrorHandle::Failure},
      {true, false, static_cast<HRESULT>(0x800C0008), 0, kDownloadAttempts, Config_ErrorHandle::Failure},
      {false, true, E_FAIL, 0, kDownloadAttempts, Config_ErrorHandle::UnknowError},
      {true, true, E_ABORT, 0, 1, Config_ErrorHandle::Abort},
      {false, false, static_cast<HRESULT>(0x800C0006), 0, 1, Config_ErrorHandle::FileNotExist},
      {true, false, static_cast<HRESULT>(0x80070070), 0, 1, Config_ErrorHandle::DiskFull},
      {false, false, static_cast<HRESULT>(0x800C0008), 2, 2, Config_ErrorHandle::Abort},
      {false, false, static_cast<HRESULT>(0x80070017), 0, 1, Config_ErrorHandle::Failure},
  };
  for (const auto& c : cases) {
    int made = 0;
    auto stopped = [&] { return c.stopAfter != 0 && made >= c.stopAfter; };
    // A loop without a bound would reach 100 and end there with NoError.
    Config_ErrorHandle result = RunDownloadAttempts(&core_, c.restartOnProgress, 0, stopped, [&](bool& progressSeen) {
      progressSeen = c.progress;
      return ++made == 100 ? S_OK : c.hr;
    });
    EXPECT_EQ(made, c.attempts) << std::hex << c.hr;
    EXPECT_EQ(result, c.result) << std::hex << c.hr;
  }
  EXPECT_NE(LogText().find("TransferDownloadError HRESULT: 800c0008"), std::string::npos);
}

TEST(DownloadUrl, PlainHttpOnlyWhereTheProfileAllowsIt) {
  const struct {
    const wchar_t* url;
    bool httpAllowed, allowed;
  } cases[] = {
      {L"https://download.halvern.com/a.msi", false, true}, {L"http://download.halvern.com/a.msi", false, false},
      {L"HTTP://download.halvern.com/a.msi", false, false}, {L"http://127.0.0.1:28080/a.msi", true, true},
      {L"ftp://host/a.msi", false, true},  // the engine refuses the scheme itself
  };
  for (const auto& c : cases) EXPECT_EQ(DownloadUrlAllowed(c.url, c.httpAllowed), c.allowed) << c.url;
  // This build is the local profile's, against the tests' plain http servers.
  EXPECT_TRUE(DownloadUrlAllowed(L"http://127.0.0.1/a.msi"));
}

TEST_F(DownloadWorkerTest, CacheBustingTimestampHasThreeDigitMillisecondsAndJoinsAnExistingQuery) {
  SYSTEMTIME utc = {};
  utc.wYear = 2026;
  utc.wMonth = 3;
  utc.wDay = 4;
  utc.wHour = 5;
  utc.wMinute = 6;
  utc.wSecond = 7;
  utc.wMilliseconds = 8;
  EXPECT_EQ(CacheBustingUrl(L"http://h/f.bin", utc), L"http://h/f.bin?timestamp=20260304050607008");
  EXPECT_EQ(CacheBustingUrl(L"http://h/f.bin?a=1", utc), L"http://h/f.bin?a=1&timestamp=20260304050607008");
  utc.wMilliseconds = 999;
  EXPECT_EQ(CacheBustingUrl(L"http://h/f.bin", utc), L"http://h/f.bin?timestamp=20260304050607999");
}

// The external object counts its references on the user-interface thread only; a download runs
// on a worker and the engine's threads.
class CountingExternal : public core::HtmlExternal {
 public:
  explicit CountingExternal(core::StubParameters* parameters) : HtmlExternal(parameters) {}
  ULONG STDMETHODCALLTYPE AddRef() override {
    ++counted;
    return HtmlExternal::AddRef();
  }
  ULONG STDMETHODCALLTYPE Release() override {
    ++counted;
    return HtmlExternal::Release();
  }
  std::atomic<int> counted{0};
};

TEST_F(DownloadWorkerTest, AVerifiedDownloadLeavesTheExternalObjectsCountAlone) {
  auto* external = new CountingExternal(&parameters_);
  core_.external->Release();
  core_.external = external;
  testsupport::ScratchFolder scratch;
  // Nothing listens on port 1: the attempt fails at once, through the whole callback path.
  EXPECT_EQ(DownloadFileSimple(&core_, L"http://127.0.0.1:1/data.bin", L"http://127.0.0.1:1/data.bin.meta",
                               scratch.File(L"data.bin"), downloader::WaitLimits()),
            static_cast<HRESULT>(0x800C0008));
  EXPECT_EQ(external->counted.load(), 0);
}

DWORD WINAPI OutOfMemoryReporter(void*) { throw std::bad_alloc(); }

TEST(ReporterThread, AReporterThatThrowsEndsAloneAndTheWorkerGoesOn) {
  ProgressRecord record;
  ReporterArgs args;
  args.record = &record;
  ReporterThread reporter;
  ASSERT_TRUE(reporter.Start(OutOfMemoryReporter, &args));
  reporter.AwaitReported();
  reporter.Join();
  EXPECT_EQ(record.status, static_cast<LONG>(Config_ErrorHandle::Running));
}

TEST(ExtractionBar, FillsTheLastFivePercentByTheExtractedFraction) {
  // Extraction reports installCurrent = entries done / 10 and installTotal = the entry count.
  const struct {
    DWORD downloadTotal, installCurrent, installTotal, position;
  } cases[] = {
      {1000, 0, 10, 950},          {1000, 0, 20, 950},
      {1000, 1, 20, 975},          {1000, 2, 20, 1000},
      {1000, 7, 20, 1000},         // more than done is full
      {1000, 5, 0, 950},           // no total: nothing done
      {1000, 429496730, 0xFFFFFFFF, 1000},  // x 10 leaves 32 bits
      {0xFFFFFFFF, 1, 10, 0xFFFFFFFF},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ExtractionBarPosition(c.downloadTotal, c.installCurrent, c.installTotal), c.position)
        << c.downloadTotal << " " << c.installCurrent << "/" << c.installTotal;
}

DWORD WINAPI UntilStopRequested(void* external) {
  while (!static_cast<core::HtmlExternal*>(external)->stopRequested) Sleep(1);
  return 0;
}

DWORD WINAPI IgnoringStop(void* event) {
  WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
  return 0;
}

TEST_F(DownloadWorkerTest, EndOfRunStopsAndJoinsWorkersRefusesNewOnesAndLogsTheBound) {
  WorkerSet workers;
  utils::KernelHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(workers.Start(UntilStopRequested, core_.external));
  ASSERT_TRUE(workers.Start(IgnoringStop, release.Get()));
  EXPECT_FALSE(workers.Closing());

  EXPECT_FALSE(workers.StopAndJoin(core_.external, core_.log, 300));
  EXPECT_TRUE(workers.Closing());
  EXPECT_NE(LogText().find("End of run: 1 worker(s) still running after 300 ms"), std::string::npos);
  EXPECT_FALSE(workers.Start(UntilStopRequested, core_.external));

  SetEvent(release.Get());
  Sleep(50);
  EXPECT_TRUE(workers.StopAndJoin(core_.external, core_.log, 300));
}

}  // namespace
