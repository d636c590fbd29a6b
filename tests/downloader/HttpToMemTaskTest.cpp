#include "EngineTest.h"
#include "downloader/HttpTask.h"
#include "downloader/HttpToMemTask.h"
#include "downloader/ResultCodes.h"

using namespace downloader;
using namespace enginetest;

namespace {

class HttpToMemTaskTest : public EngineTest {
 protected:
  void Download(MemRecorder* recorder, const std::wstring& url) {
    ComRef<ITask> task(CreateHttpToMemTask(url.c_str(), recorder, logger_));
    ASSERT_NE(task.Get(), nullptr);
    task->Start();
    ASSERT_TRUE(recorder->WaitDone());
  }

  static std::string Body(const MemRecorder& recorder) {
    return std::string(reinterpret_cast<const char*>(recorder.body.data), recorder.body.size);
  }
};

TEST_F(HttpToMemTaskTest, HandsOverTheWholeResource) {
  ComRef<MemRecorder> recorder(MemRecorder::Create());
  ASSERT_NO_FATAL_FAILURE(Download(recorder.Get(), NginxUrl(L"/data3m.bin")));
  EXPECT_EQ(recorder->result, kResultOk);
  EXPECT_EQ(recorder->completions, 1);
  EXPECT_TRUE(Body(*recorder.Get()) == ServedFile(L"data3m.bin"));
  EXPECT_TRUE(LogHas("HttpToMemTask::Start> Start download " + Narrow(NginxUrl(L"/data3m.bin")) + " to memory."));
}

TEST_F(HttpToMemTaskTest, BodyArrivingWithPausesIsStoredExactlyAsRead) {
  struct Case {
    const wchar_t* file;
    const wchar_t* query;  // after the tag
    const char* continuationRange;  // nullptr: one request
  };
  const Case cases[] = {
      {L"data1000.bin", L"&chunk=300&pause=0.2", nullptr},
      {L"data1000.bin", L"&chunk.0=1&pause.0=0.15&cut.0=4", "bytes=4-1003"},
      {L"data3m.bin", L"&cut.0=3&stall.0=0.5", "bytes=3-3145853"},
  };
  for (const Case& c : cases) {
    std::string tag = NewTag();
    ComRef<MemRecorder> recorder(MemRecorder::Create());
    ASSERT_NO_FATAL_FAILURE(Download(
        recorder.Get(), FaultUrl(L"/" + std::wstring(c.file) + L"?tag=" + Widen(tag) + c.query)));
    EXPECT_EQ(recorder->result, kResultOk) << tag;
    EXPECT_TRUE(Body(*recorder.Get()) == ServedFile(c.file)) << tag;
    std::vector<ServerRequest> requests = RequestsWithTag(tag);
    ASSERT_EQ(requests.size(), c.continuationRange ? 2u : 1u) << tag;
    if (c.continuationRange) {
      EXPECT_EQ(requests[1].range, c.continuationRange);
    }
  }
}

TEST_F(HttpToMemTaskTest, EmptyResourceCompletesWithAnEmptyBuffer) {
  ComRef<MemRecorder> recorder(MemRecorder::Create());
  ASSERT_NO_FATAL_FAILURE(Download(recorder.Get(), NginxUrl(L"/empty.bin")));
  EXPECT_EQ(recorder->result, kResultOk);
  EXPECT_EQ(recorder->body.size, 0u);
}

TEST_F(HttpToMemTaskTest, ContinuesAnEarlyEndWithARangeReachingPastTheEnd) {
  std::string tag = NewTag();
  ComRef<MemRecorder> recorder(MemRecorder::Create());
  ASSERT_NO_FATAL_FAILURE(
      Download(recorder.Get(), FaultUrl(L"/data1000.bin?tag=" + Widen(tag) + L"&cut.0=400&etag=%22m%22")));
  EXPECT_EQ(recorder->result, kResultOk);
  EXPECT_TRUE(Body(*recorder.Get()) == ServedFile(L"data1000.bin"));
  EXPECT_TRUE(LogHas("HttpToMemTask::OnComplete> Data not complete 400/1000."));
  std::vector<ServerRequest> requests = RequestsWithTag(tag);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].range, "-");
  EXPECT_EQ(requests[1].range, "bytes=400-1399");
  EXPECT_EQ(requests[1].ifRange, "\"m\"");
}

TEST_F(HttpToMemTaskTest, ContinuationAnsweredWithTheWholeBodyRestartsAtByteZero) {
  std::string tag = NewTag();
  ComRef<MemRecorder> recorder(MemRecorder::Create());
  ASSERT_NO_FATAL_FAILURE(Download(
      recorder.Get(), FaultUrl(L"/data1000.bin?tag=" + Widen(tag) + L"&cut.0=400&ignore_range.1=1")));
  EXPECT_EQ(recorder->result, kResultOk);
  EXPECT_TRUE(Body(*recorder.Get()) == ServedFile(L"data1000.bin"));
  EXPECT_EQ(RequestsWithTag(tag).size(), 2u);
}

TEST_F(HttpToMemTaskTest, RefusesABodyWithoutAnnouncedLength) {
  ComRef<MemRecorder> recorder(MemRecorder::Create());
  ASSERT_NO_FATAL_FAILURE(Download(recorder.Get(), FaultUrl(L"/data1000.bin?no_length=1")));
  EXPECT_EQ(recorder->result, kResultBadResponse);
  EXPECT_TRUE(LogHas("HttpToMemTask::OnHttpStatusOK> Unexpected content length -1."));
}

TEST_F(HttpToMemTaskTest, RefusesBodiesOf2GiBAndMore) {
  ComRef<MemRecorder> recorder(MemRecorder::Create());
  ASSERT_NO_FATAL_FAILURE(Download(recorder.Get(), FaultUrl(L"/data1000.bin?length=2147483647")));
  EXPECT_EQ(recorder->result, kResultOutOfMemory);
  EXPECT_TRUE(LogHas("HttpToMemTask::OnHttpStatusOK> Buffer::SetSize(2147483647) failed."));
}

TEST_F(HttpToMemTaskTest, RefusesDataBeyondTheAnnouncedBody) {
  ComRef<MemRecorder> recorder(MemRecorder::Create());
  ASSERT_NO_FATAL_FAILURE(Download(recorder.Get(), FaultUrl(L"/data1000.bin?tag=" + Widen(NewTag()) +
                                                            L"&cut.0=400&extra.1=1")));
  EXPECT_EQ(recorder->result, kResultBadResponse);
  EXPECT_TRUE(LogHas("HttpToMemTask::OnData> Data large than expected 1001/1000."));
}

TEST_F(HttpToMemTaskTest, RefusesAContinuationAtTheWrongPosition) {
  ComRef<MemRecorder> recorder(MemRecorder::Create());
  ASSERT_NO_FATAL_FAILURE(Download(recorder.Get(), FaultUrl(L"/data1000.bin?tag=" + Widen(NewTag()) +
                                                            L"&cut.0=400&shift.1=-1")));
  EXPECT_EQ(recorder->result, kResultBadResponse);
  EXPECT_TRUE(LogHas("HttpToMemTask::OnHttpStatusPartialContent> Unexpected content range "
                     "(OFFSET:399 SIZE:600 TOTAL:1000)/(POS:400 SIZE:1000)."));
}

TEST_F(HttpToMemTaskTest, RefusesAContinuationFromAnotherVersionOfTheResource) {
  // As for the file download: a longer newer version, or one as long under another ETag.
  for (const wchar_t* continuation :
       {L"&no_etag=1&serve.1=data3m.bin",
        L"&etag.0=%22v1%22&etag.1=%22v2%22&serve.1=data1000-v2.bin&ignore_if_range.1=1"}) {
    std::string tag = NewTag();
    ComRef<MemRecorder> recorder(MemRecorder::Create());
    ASSERT_NO_FATAL_FAILURE(
        Download(recorder.Get(), FaultUrl(L"/data1000.bin?tag=" + Widen(tag) + L"&cut.0=400" + continuation)));
    EXPECT_EQ(recorder->result, kResultBadResponse) << tag;
    EXPECT_EQ(RequestsWithTag(tag).size(), 2u) << tag;
  }
  EXPECT_TRUE(LogHas("HttpToMemTask::OnHttpStatusPartialContent> Unexpected content range "
                     "(OFFSET:400 SIZE:1000 TOTAL:3145851)/(POS:400 SIZE:1000)."));
  EXPECT_TRUE(LogHas("HttpToMemTask::OnHttpStatusPartialContent> Resource changed "
                     "(TOTAL:1000 ETAG:\"v2\")/(TOTAL:1000 ETAG:\"v1\")."));
}

TEST_F(HttpToMemTaskTest, GivesUpWhenRequestsInARowBringNoData) {
  std::string tag = NewTag();
  ComRef<MemRecorder> recorder(MemRecorder::Create());
  ASSERT_NO_FATAL_FAILURE(Download(recorder.Get(), FaultUrl(L"/data1000.bin?tag=" + Widen(tag) + L"&cut=0")));
  EXPECT_EQ(recorder->result, kResultConnectionAborted);
  EXPECT_EQ(RequestsWithTag(tag).size(), static_cast<size_t>(kMaxRequestsWithoutProgress));
}

TEST_F(HttpToMemTaskTest, WholeBodiesThatAlwaysEndAtTheSamePlaceDoNotLoopForever) {
  std::string tag = NewTag();
  ComRef<MemRecorder> recorder(MemRecorder::Create());
  // Every answer restarts at byte 0 and ends after 400 bytes: only the first one gets further.
  ASSERT_NO_FATAL_FAILURE(Download(
      recorder.Get(), FaultUrl(L"/data1000.bin?tag=" + Widen(tag) + L"&ignore_range=1&cut=400")));
  EXPECT_EQ(recorder->result, kResultConnectionAborted);
  EXPECT_EQ(RequestsWithTag(tag).size(), 1u + kMaxRequestsWithoutProgress);
  EXPECT_TRUE(LogHas("HttpToMemTask::OnComplete> No new data in 3 requests in a row: "
                     "giving up with 0x80072EFE, no connection abort."));
}

TEST_F(HttpToMemTaskTest, CancelDuringTheTransferEndsWithTheCancelCode) {
  ComRef<MemRecorder> recorder(MemRecorder::Create());
  ComRef<ITask> task(CreateHttpToMemTask(FaultUrl(L"/data1000.bin?cut=0&stall=3").c_str(), recorder.Get(), logger_));
  ASSERT_NE(task.Get(), nullptr);
  task->Start();
  Sleep(500);
  task->Cancel();
  ASSERT_TRUE(recorder->WaitDone());
  EXPECT_EQ(recorder->result, kResultCancelled);
  EXPECT_EQ(recorder->completions, 1);
}

}  // namespace
