// Plain downloads: the file holder and the property callback driven with streams and
// notifications of the test's own, then whole transfers from the fault server as the stub makes
// them (under Wine through the engine's HTTP task, which stands in for pulled streams).
#include <shlwapi.h>

#include "EngineTest.h"
#include "core/ComRef.h"
#include "core/FrameworkCore.h"
#include "downloader/UrlDownload.h"
#include "htmlui/DownloadCallback.h"
#include "htmlui/HtmlExternal.h"
#include "support/TestSupport.h"

using namespace downloader;
using namespace enginetest;
using stubframework::core::DownloadCallback;

namespace {

class UrlDownloadTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    core_ = stubframework::core::CreateFrameworkCore();
    ASSERT_NE(core_, nullptr);
    external_ = core_->external;
    path_ = scratch_.File(L"plain.bin");
  }
  void TearDown() override {
    stubframework::core::ReleaseFrameworkCore(core_);
    EngineTest::TearDown();
  }

  HANDLE OpenTarget(DWORD access = GENERIC_WRITE) {
    return CreateFileW(path_.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
  }

  static HRESULT Feed(BSCHolder* holder, const std::string& bytes) {
    stubframework::utils::ComRef<IStream> stream(
        SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<UINT>(bytes.size())));
    STGMEDIUM medium{};
    medium.tymed = TYMED_ISTREAM;
    medium.pstm = stream.Get();
    return holder->OnDataAvailable(BSCF_FIRSTDATANOTIFICATION, static_cast<DWORD>(bytes.size()), nullptr, &medium);
  }

  std::string Target() const { return testsupport::ReadFileBytes(path_); }

  stubframework::core::FrameworkCore* core_ = nullptr;
  stubframework::core::HtmlExternal* external_ = nullptr;
  testsupport::ScratchFolder scratch_;
  std::wstring path_;
};

TEST_F(UrlDownloadTest, HolderPresizesWritesPiecesAndReportsShortOrFailedTransfers) {
  std::string data(20000, 'd');  // more than two 8192-byte pieces
  struct Case {
    const char* name;
    ULONG announced;
    size_t sent;
    HRESULT stop;
    HRESULT result;
  } cases[] = {
      {"all announced bytes", 20000, 20000, S_OK, S_OK},
      {"fewer than announced", 20000, 12000, S_OK, S_FALSE},
      {"no length announced", 0, 20000, S_OK, S_OK},
      {"a failed binding", 20000, 12000, INET_E_DOWNLOAD_FAILURE, INET_E_DOWNLOAD_FAILURE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteFileW(path_.c_str());
    BSCHolder* holder = new BSCHolder(OpenTarget(), nullptr);
    EXPECT_EQ(holder->BindResult(), E_PENDING);
    holder->OnProgress(0, c.announced, BINDSTATUS_BEGINDOWNLOADDATA, L"");
    EXPECT_EQ(Target().size(), c.announced);  // reserved at once
    EXPECT_EQ(Feed(holder, data.substr(0, c.sent)), S_OK);
    holder->OnStopBinding(c.stop, nullptr);
    EXPECT_EQ(holder->BindResult(), c.result);
    holder->Release();
    EXPECT_TRUE(Target() == data.substr(0, c.sent));  // cut at the last write
  }

  // A write that fails aborts the binding and its error is the result, whatever the stop says.
  DeleteFileW(path_.c_str());
  BSCHolder* holder = new BSCHolder(OpenTarget(GENERIC_READ), nullptr);
  EXPECT_EQ(Feed(holder, data), E_ABORT);
  holder->OnStopBinding(E_ABORT, nullptr);
  EXPECT_EQ(holder->BindResult(), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
  void* object = nullptr;
  EXPECT_EQ(holder->QueryInterface(IID_IBindStatusCallback, &object), S_OK);
  EXPECT_EQ(holder->QueryInterface(IID_IBindStatusCallback, nullptr), E_POINTER);
  holder->Release();
  holder->Release();
}

TEST_F(UrlDownloadTest, CallbackSetsTheProgressPropertiesAndStopsWhenAsked) {
  DownloadCallback callback(external_);
  EXPECT_EQ(callback.OnProgress(0, 1234, BINDSTATUS_BEGINDOWNLOADDATA, L""), S_OK);
  EXPECT_EQ(external_->GetProperty(L"downloadTotal"), L"1234");
  EXPECT_FALSE(callback.ProgressSeen());
  EXPECT_EQ(callback.OnProgress(500, 1234, BINDSTATUS_DOWNLOADINGDATA, L""), S_OK);
  EXPECT_EQ(external_->GetProperty(L"downloadCurrent"), L"500");
  EXPECT_TRUE(callback.ProgressSeen());
  external_->SetSizeQueryOnly(true);
  EXPECT_EQ(callback.OnProgress(0, 77, BINDSTATUS_BEGINDOWNLOADDATA, L""), E_ABORT);
  EXPECT_EQ(external_->GetProperty(L"downloadTotal"), L"77");
  external_->SetSizeQueryOnly(false);
  EXPECT_EQ(callback.AddRef(), 2u);
  EXPECT_EQ(callback.Release(), 1u);
}

TEST_F(UrlDownloadTest, TransfersGiveTheResultsAndFilesOfTheirServers) {
  std::string served = ServedFile(L"data1000.bin");
  struct Case {
    const char* name;
    std::wstring path;
    bool sizeQueryOnly;
    HRESULT result;
    std::string file;
    const wchar_t* total;
  } cases[] = {
      {"whole file", L"/data1000.bin", false, S_OK, served, L"1000"},
      {"announced 1000, sent 600", L"/data1000.bin?cut=600", false, S_FALSE, served.substr(0, 600), L"1000"},
      {"no length announced", L"/data1000.bin?no_length=1", false, S_OK, served, L"0"},
      {"size query only", L"/data1000.bin", true, E_ABORT, "", L"1000"},
      {"missing file", L"/missing.bin", false, INET_E_OBJECT_NOT_FOUND, "", L"1"},
      {"server error", L"/data1000.bin?status=500", false, INET_E_DOWNLOAD_FAILURE, "", L"1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    external_->InitProgressValues();
    external_->SetSizeQueryOnly(c.sizeQueryOnly);
    DownloadCallback callback(external_);
    HRESULT hr = DownloadUrlToFile(FaultUrl(c.path).c_str(), path_.c_str(), &callback, logger_, WaitLimits());
    external_->SetSizeQueryOnly(false);
    if (c.result == E_ABORT) {
      EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    } else {
      EXPECT_EQ(hr, c.result) << std::hex << hr;
    }
    EXPECT_TRUE(Target() == c.file);
    EXPECT_EQ(external_->GetProperty(L"downloadTotal"), c.total);
  }
  EXPECT_EQ(DownloadUrlToFile(FaultUrl(L"/data1000.bin").c_str(), L"Z:\\no\\such\\folder\\x.bin", nullptr, logger_,
                              WaitLimits()),
            HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
}

// The transfer's wait gives up by itself, while data moves and while nothing comes at all: a stop
// ends it with E_ABORT, a time without progress with the time-out, each at once.
TEST_F(UrlDownloadTest, AStopOrTheIdleDeadlineEndsTheTransferAtOnce) {
  struct Case {
    const char* name;
    const wchar_t* path;
    DWORD stopAfterMs;  // 0: no stop
    DWORD idleMs;
    HRESULT result;
    DWORD boundMs;
  } cases[] = {
      {"stopped while a slow body arrives", L"/data1000.bin?chunk=100&pause=0.1", 250, kTransferIdleMs, E_ABORT, 1250},
      {"stopped before any answer", L"/data1000.bin?delay=4", 300, kTransferIdleMs, E_ABORT, 1300},
      {"no answer for the idle deadline", L"/data1000.bin?delay=4", 0, 700, INET_E_CONNECTION_TIMEOUT, 1700},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WaitLimits limits;
    limits.idleMs = c.idleMs;
    ULONGLONG start = GetTickCount64();
    limits.stopped = [&] { return c.stopAfterMs && GetTickCount64() - start >= c.stopAfterMs; };
    DownloadCallback callback(external_);
    HRESULT hr = DownloadUrlToFile(FaultUrl(c.path).c_str(), path_.c_str(), &callback, logger_, limits);
    ULONGLONG took = GetTickCount64() - start;
    EXPECT_EQ(hr, c.result) << std::hex << hr;
    EXPECT_LT(took, c.boundMs);
    EXPECT_LT(Target().size(), 1000u);
  }
  EXPECT_TRUE(LogHas("Nothing arrived for 700 ms: the transfer is given up."));

  // A quit message aborts the transfer too, and stays for the thread's own loop.
  PostQuitMessage(7);
  HRESULT hr = DownloadUrlToFile(FaultUrl(L"/data1000.bin?chunk=100&pause=0.5").c_str(), path_.c_str(), nullptr,
                                 logger_, WaitLimits());
  EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
  MSG message;
  ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(message.wParam, 7u);
}

}  // namespace
