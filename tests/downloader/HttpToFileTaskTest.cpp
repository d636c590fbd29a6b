#include "EngineTest.h"
#include "core/UniqueHandle.h"
#include "downloader/HttpTask.h"
#include "downloader/HttpToFileTask.h"
#include "downloader/ResultCodes.h"
#include "support/TestSupport.h"

using namespace downloader;
using namespace enginetest;

namespace {

class HttpToFileTaskTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    path_ = scratch_.File(L"download.bin");
  }

  // Opens the target file, positioned at offset, as the creator of a file task does.
  HANDLE OpenTarget(int64_t offset, DWORD access = GENERIC_WRITE) {
    HANDLE file = CreateFileW(path_.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    LARGE_INTEGER position;
    position.QuadPart = offset;
    SetFilePointerEx(file, position, nullptr, FILE_BEGIN);
    return file;
  }

  // Downloads [offset, offset + size) of url into the target file and waits for the end.
  void Download(FileRecorder* recorder, const std::wstring& url, int64_t offset, int64_t size,
                DWORD access = GENERIC_WRITE) {
    stubframework::utils::FileHandle file(OpenTarget(offset, access));
    ASSERT_TRUE(file.Valid());
    ComRef<ITask> task(CreateHttpToFileTask(url.c_str(), file.Get(), offset, size, recorder, logger_));
    ASSERT_NE(task.Get(), nullptr);
    task->Start();
    ASSERT_TRUE(recorder->WaitDone());
  }

  std::string Target() const { return testsupport::ReadFileBytes(path_); }

  static int64_t Written(const FileRecorder& recorder) {
    int64_t total = 0;
    for (const auto& piece : recorder.progress) total += piece.length;
    return total;
  }

  testsupport::ScratchFolder scratch_;
  std::wstring path_;
};

TEST_F(HttpToFileTaskTest, WritesTheRegionWhereTheFileStandsAndReportsEveryPiece) {
  ComRef<FileRecorder> recorder(FileRecorder::Create());
  ASSERT_TRUE(testsupport::WriteFileBytes(path_, std::string(100, 'x')));
  ASSERT_NO_FATAL_FAILURE(Download(recorder.Get(), NginxUrl(L"/data3m.bin"), 100, 3000000));
  EXPECT_EQ(recorder->result, kResultOk);
  EXPECT_EQ(recorder->completions, 1);
  std::string expected = std::string(100, 'x') + ServedFile(L"data3m.bin").substr(100, 3000000);
  EXPECT_TRUE(Target() == expected);
  // The pieces follow each other without gap from the region's start.
  int64_t next = 100;
  for (const auto& piece : recorder->progress) {
    EXPECT_EQ(piece.offset, next);
    next += piece.length;
  }
  EXPECT_EQ(next, 3000100);
}

TEST_F(HttpToFileTaskTest, BodyArrivingWithPausesIsWrittenExactlyAsRead) {
  std::string small = ServedFile(L"data1000.bin"), large = ServedFile(L"data3m.bin");
  struct Case {
    std::wstring query;  // after the tag
    int64_t offset, size;
    std::string expected;
    const char* continuationRange;  // nullptr: one request
  };
  const Case cases[] = {
      {L"&chunk=1&pause=0.15", 100, 4, small.substr(100, 4), nullptr},
      {L"&chunk=300&pause=0.2", 0, 1000, small, nullptr},
      // Three bytes, a pause, the end of the connection: the rest comes from the continuation.
      {L"&cut.0=3&stall.0=0.5", 0, static_cast<int64_t>(large.size()), large, "bytes=3-3145850"},
  };
  for (const Case& c : cases) {
    std::string tag = NewTag();
    const wchar_t* file = c.expected.size() == large.size() ? L"/data3m.bin" : L"/data1000.bin";
    ComRef<FileRecorder> recorder(FileRecorder::Create());
    ASSERT_TRUE(testsupport::WriteFileBytes(path_, std::string(c.offset, 'x')));
    ASSERT_NO_FATAL_FAILURE(
        Download(recorder.Get(), FaultUrl(file + (L"?tag=" + Widen(tag)) + c.query), c.offset, c.size));
    EXPECT_EQ(recorder->result, kResultOk) << tag;
    EXPECT_EQ(Written(*recorder.Get()), c.size) << tag;
    EXPECT_TRUE(Target() == std::string(c.offset, 'x') + c.expected) << tag;
    std::vector<ServerRequest> requests = RequestsWithTag(tag);
    ASSERT_EQ(requests.size(), c.continuationRange ? 2u : 1u) << tag;
    if (c.continuationRange) {
      EXPECT_EQ(requests[1].range, c.continuationRange);
    }
  }
}

TEST_F(HttpToFileTaskTest, RefusesAWholeResourceForARegionThatDoesNotStartAtZero) {
  // The whole resource is as long as the region, but it starts at the wrong byte.
  ComRef<FileRecorder> recorder(FileRecorder::Create());
  ASSERT_NO_FATAL_FAILURE(
      Download(recorder.Get(), FaultUrl(L"/data1000.bin?ignore_range=1"), 1000, 1000));
  EXPECT_EQ(recorder->result, kResultBadResponse);
  EXPECT_TRUE(recorder->progress.empty());
  EXPECT_TRUE(LogHas("HttpToFileTask::OnHttpStatusOK> Unexpected content length 1000/(OFFSET:1000 SIZE:1000)."));
}

TEST_F(HttpToFileTaskTest, AcceptsAWholeResourceAtZeroAndContinuesUnderItsEtag) {
  std::string tag = NewTag();
  ComRef<FileRecorder> recorder(FileRecorder::Create());
  // The first answer ignores the range and ends after 400 bytes; the continuation is served well.
  ASSERT_NO_FATAL_FAILURE(Download(
      recorder.Get(),
      FaultUrl(L"/data1000.bin?tag=" + Widen(tag) + L"&ignore_range.0=1&cut.0=400&etag=%22v1%22"), 0, 1000));
  EXPECT_EQ(recorder->result, kResultOk);
  EXPECT_TRUE(Target() == ServedFile(L"data1000.bin"));
  EXPECT_TRUE(LogHas("HttpToFileTask::OnComplete> Data not complete 600 needed."));
  std::vector<ServerRequest> requests = RequestsWithTag(tag);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].range, "bytes=0-999");
  EXPECT_EQ(requests[0].ifRange, "-");
  EXPECT_EQ(requests[1].range, "bytes=400-999");
  EXPECT_EQ(requests[1].ifRange, "\"v1\"");
}

TEST_F(HttpToFileTaskTest, ARangeEndingEarlyIsContinuedUnderTheEtagOfTheFirstRange) {
  std::string tag = NewTag();
  ComRef<FileRecorder> recorder(FileRecorder::Create());
  ASSERT_NO_FATAL_FAILURE(Download(
      recorder.Get(), FaultUrl(L"/data1000.bin?tag=" + Widen(tag) + L"&cut.0=400&etag=%22v2%22"), 0, 1000));
  EXPECT_EQ(recorder->result, kResultOk);
  EXPECT_TRUE(Target() == ServedFile(L"data1000.bin"));
  std::vector<ServerRequest> requests = RequestsWithTag(tag);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].range, "bytes=400-999");
  EXPECT_EQ(requests[1].ifRange, "\"v2\"");
}

TEST_F(HttpToFileTaskTest, ResourceChangedBeforeTheContinuationFailsInsteadOfMixingVersions) {
  std::string tag = NewTag();
  ComRef<FileRecorder> recorder(FileRecorder::Create());
  // The continuation's If-Range no longer matches: the server sends the whole new version.
  ASSERT_NO_FATAL_FAILURE(Download(
      recorder.Get(),
      FaultUrl(L"/data1000.bin?tag=" + Widen(tag) + L"&cut.0=400&etag.0=%22old%22&etag.1=%22new%22"), 0,
      1000));
  EXPECT_EQ(recorder->result, kResultBadResponse);
  EXPECT_EQ(Written(*recorder.Get()), 400);
  EXPECT_TRUE(LogHas("HttpToFileTask::OnHttpStatusOK> Unexpected content length 1000/(OFFSET:400 SIZE:600)."));
}

TEST_F(HttpToFileTaskTest, RefusesAContinuationFromAnotherVersionOfTheResource) {
  // The first range ends after 400 bytes. The continuation comes from a newer version: a longer
  // one, or one as long under another ETag from a server that ignores If-Range.
  for (const wchar_t* continuation :
       {L"&no_etag=1&serve.1=data3m.bin",
        L"&etag.0=%22v1%22&etag.1=%22v2%22&serve.1=data1000-v2.bin&ignore_if_range.1=1"}) {
    std::string tag = NewTag();
    ComRef<FileRecorder> recorder(FileRecorder::Create());
    ASSERT_TRUE(testsupport::WriteFileBytes(path_, ""));
    ASSERT_NO_FATAL_FAILURE(Download(
        recorder.Get(), FaultUrl(L"/data1000.bin?tag=" + Widen(tag) + L"&cut.0=400" + continuation), 0, 1000));
    EXPECT_EQ(recorder->result, kResultBadResponse) << tag;
    EXPECT_EQ(Written(*recorder.Get()), 400) << tag;
    EXPECT_TRUE(Target() == ServedFile(L"data1000.bin").substr(0, 400)) << tag;
    EXPECT_EQ(RequestsWithTag(tag).size(), 2u) << tag;
  }
  EXPECT_TRUE(LogHas("HttpToFileTask::OnHttpStatusPartialContent> Resource changed (TOTAL:3145851 ETAG:)/(TOTAL:1000 ETAG:)."));
  EXPECT_TRUE(LogHas("HttpToFileTask::OnHttpStatusPartialContent> Resource changed "
                     "(TOTAL:1000 ETAG:\"v2\")/(TOTAL:1000 ETAG:\"v1\")."));
}

TEST_F(HttpToFileTaskTest, RefusesARangeThatStartsOneByteLate) {
  ComRef<FileRecorder> recorder(FileRecorder::Create());
  ASSERT_NO_FATAL_FAILURE(Download(recorder.Get(), FaultUrl(L"/data1000.bin?shift=1"), 100, 100));
  // The request's own cancellation comes after the refusal and does not replace its code.
  EXPECT_EQ(recorder->result, kResultBadResponse);
  EXPECT_EQ(recorder->completions, 1);
  EXPECT_TRUE(recorder->progress.empty());
  EXPECT_EQ(Target(), "");
  EXPECT_TRUE(LogHas("HttpToFileTask::OnHttpStatusPartialContent> Unexpected content range "
                     "(OFFSET:101 SIZE:100 TOTAL:1000)/(OFFSET:100 SIZE:100)."));
}

TEST_F(HttpToFileTaskTest, RefusesAPieceWithOneSurplusByteWhole) {
  ComRef<FileRecorder> recorder(FileRecorder::Create());
  ASSERT_NO_FATAL_FAILURE(Download(recorder.Get(), FaultUrl(L"/data1000.bin?extra=1"), 100, 100));
  EXPECT_EQ(recorder->result, kResultBadResponse);
  EXPECT_TRUE(recorder->progress.empty());
  EXPECT_EQ(Target(), "");
  EXPECT_TRUE(LogHas("HttpToFileTask::OnData> Data large than expected 1"));
}

TEST_F(HttpToFileTaskTest, RefusesStatusesOtherThan200And206AndNamesAMissingResource) {
  const struct {
    std::wstring url;
    int status;
    long result;
  } cases[] = {
      {NginxUrl(L"/missing.bin"), 404, kResultNotFound},
      {FaultUrl(L"/data1000.bin?status=410"), 410, kResultNotFound},
      {FaultUrl(L"/data1000.bin?status=403"), 403, kResultBadResponse},
  };
  for (const auto& c : cases) {
    ComRef<FileRecorder> recorder(FileRecorder::Create());
    ASSERT_NO_FATAL_FAILURE(Download(recorder.Get(), c.url, 0, 1000));
    EXPECT_EQ(recorder->result, c.result) << c.status;
    EXPECT_TRUE(LogHas("HttpToFileTask::OnHttpHeader> Unexpected HTTP status code " + std::to_string(c.status) + "."));
  }
}

TEST_F(HttpToFileTaskTest, GivesUpWhenRequestsInARowBringNoData) {
  std::string tag = NewTag();
  ComRef<FileRecorder> recorder(FileRecorder::Create());
  ASSERT_NO_FATAL_FAILURE(
      Download(recorder.Get(), FaultUrl(L"/data1000.bin?tag=" + Widen(tag) + L"&cut=0"), 0, 1000));
  EXPECT_EQ(recorder->result, kResultConnectionAborted);
  EXPECT_EQ(RequestsWithTag(tag).size(), static_cast<size_t>(kMaxRequestsWithoutProgress));
  EXPECT_TRUE(LogHas("HttpToFileTask::OnComplete> No new data in 3 requests in a row: "
                     "giving up with 0x80072EFE, no connection abort."));
}

TEST_F(HttpToFileTaskTest, KeepsGoingWhileEveryRequestBringsSomething) {
  std::string tag = NewTag();
  ComRef<FileRecorder> recorder(FileRecorder::Create());
  // Every answer ends after 150 bytes: seven requests, each with progress.
  ASSERT_NO_FATAL_FAILURE(
      Download(recorder.Get(), FaultUrl(L"/data1000.bin?tag=" + Widen(tag) + L"&cut=150"), 0, 1000));
  EXPECT_EQ(recorder->result, kResultOk);
  EXPECT_TRUE(Target() == ServedFile(L"data1000.bin"));
  EXPECT_EQ(RequestsWithTag(tag).size(), 7u);
}

TEST_F(HttpToFileTaskTest, ConnectionResetNeverEndsInSuccessWithAHole) {
  std::string tag = NewTag();
  ComRef<FileRecorder> recorder(FileRecorder::Create());
  ASSERT_NO_FATAL_FAILURE(Download(
      recorder.Get(), FaultUrl(L"/data1000.bin?tag=" + Widen(tag) + L"&cut.0=400&reset.0=1"), 0, 1000));
  // Never success with a hole: either the continuation completed the file or the task failed.
  if (recorder->result == kResultOk) EXPECT_TRUE(Target() == ServedFile(L"data1000.bin"));
  else EXPECT_LE(Written(*recorder.Get()), 400);
}

TEST_F(HttpToFileTaskTest, WriteFailureEndsWithTheSystemErrorAfterReportingTheBytes) {
  ComRef<FileRecorder> recorder(FileRecorder::Create());
  ASSERT_TRUE(testsupport::WriteFileBytes(path_, ""));
  ASSERT_NO_FATAL_FAILURE(Download(recorder.Get(), NginxUrl(L"/data1000.bin"), 0, 1000, GENERIC_READ));
  EXPECT_EQ(recorder->result, ResultFromError(ERROR_ACCESS_DENIED));
  ASSERT_EQ(recorder->progress.size(), 1u);
  EXPECT_EQ(recorder->progress[0].offset, 0);
  EXPECT_EQ(recorder->progress[0].length, 0);
  EXPECT_TRUE(LogHas("HttpToFileTask::OnData> WriteFile failed 5."));
}

TEST_F(HttpToFileTaskTest, CancelDuringTheTransferEndsWithTheCancelCode) {
  ComRef<FileRecorder> recorder(FileRecorder::Create());
  stubframework::utils::FileHandle file(OpenTarget(0));
  ASSERT_TRUE(file.Valid());
  ComRef<ITask> task(CreateHttpToFileTask(FaultUrl(L"/data1000.bin?cut=0&stall=3").c_str(), file.Get(), 0, 1000,
                                       recorder.Get(), logger_));
  ASSERT_NE(task.Get(), nullptr);
  task->Start();
  Sleep(500);
  task->Cancel();
  ASSERT_TRUE(recorder->WaitDone());
  EXPECT_EQ(recorder->result, kResultCancelled);
  EXPECT_EQ(recorder->completions, 1);
  EXPECT_TRUE(LogHas("HttpToFileTask::Cancel> Cancel."));
}

TEST_F(HttpToFileTaskTest, InvalidRegionFailsWithoutARequest) {
  std::string tag = NewTag();
  ComRef<FileRecorder> recorder(FileRecorder::Create());
  ASSERT_NO_FATAL_FAILURE(
      Download(recorder.Get(), FaultUrl(L"/data1000.bin?tag=" + Widen(tag)), -1, 1000));
  EXPECT_EQ(recorder->result, kResultInvalidArgument);
  EXPECT_TRUE(RequestsWithTag(tag).empty());
}

TEST_F(HttpToFileTaskTest, ReleasingANeverStartedTaskCallsNothing) {
  ComRef<FileRecorder> recorder(FileRecorder::Create());
  ITask* task = CreateHttpToFileTask(NginxUrl(L"/data1000.bin").c_str(), INVALID_HANDLE_VALUE, 0, 1000,
                                     recorder.Get(), logger_);
  ASSERT_NE(task, nullptr);
  task->Cancel();
  task->Release();
  EXPECT_EQ(recorder->completions, 0);
  EXPECT_TRUE(recorder->progress.empty());
}

}  // namespace
