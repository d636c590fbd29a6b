#include <cctype>
#include <cstdio>

#include "EngineTest.h"
#include "downloader/HttpTask.h"
#include "downloader/Redirect.h"
#include "downloader/ResultCodes.h"

using namespace downloader;
using namespace enginetest;

namespace {

HttpRange Range(int64_t offset, int64_t size, const char* etag = "") {
  HttpRange range;
  range.offset = offset;
  range.size = size;
  range.etag.Assign(etag);
  return range;
}

// text as the value of a query parameter.
std::string QueryValue(const std::string& text) {
  std::string value;
  for (unsigned char c : text) {
    char escaped[4];
    snprintf(escaped, sizeof(escaped), "%%%02X", c);
    value += isalnum(c) || c == '.' || c == '-' ? std::string(1, static_cast<char>(c)) : escaped;
  }
  return value;
}

class HttpTaskTest : public EngineTest {
 protected:
  // Runs one request to its end.
  void Fetch(HttpRecorder* recorder, const std::wstring& url, HttpRange&& range) {
    ComRef<ITask> task(CreateHttpTask(url.c_str(), std::move(range), recorder, logger_));
    ASSERT_NE(task.Get(), nullptr);
    task->Start();
    ASSERT_TRUE(recorder->WaitDone());
  }
};

TEST_F(HttpTaskTest, WholeFileComesAsHeaderThenPiecesInOrderThenOneCompletion) {
  ComRef<HttpRecorder> recorder(HttpRecorder::Create());
  ASSERT_NO_FATAL_FAILURE(Fetch(recorder.Get(), NginxUrl(L"/data3m.bin"), Range(0, 0)));
  std::string expected = ServedFile(L"data3m.bin");
  ASSERT_EQ(recorder->headers.size(), 1u);
  EXPECT_EQ(recorder->headers[0].statusCode, 200);
  EXPECT_EQ(recorder->headers[0].offset, 0);
  EXPECT_EQ(recorder->headers[0].size, static_cast<int64_t>(expected.size()));
  EXPECT_EQ(recorder->headers[0].total, static_cast<int64_t>(expected.size()));
  EXPECT_FALSE(recorder->headers[0].etag.empty());
  EXPECT_FALSE(recorder->dataBeforeHeader);
  EXPECT_TRUE(recorder->body == expected) << "body differs, " << recorder->body.size() << " bytes";
  // One reused block: no piece is larger than it, and a 3 MiB body does not come in 8 KiB bits.
  EXPECT_LE(recorder->largestPiece, HttpTask::kPieceSize);
  EXPECT_LT(recorder->dataCalls, 200);
  EXPECT_EQ(recorder->result, kResultOk);
  EXPECT_EQ(recorder->completions, 1);
  EXPECT_TRUE(LogHas("HttpTask::ProcessData> Complete."));
}

TEST_F(HttpTaskTest, BodyArrivingWithPausesIsHandedOnExactlyAsRead) {
  // Between the pieces the reader finds nothing waiting; what it hands on is only what came.
  struct Case {
    const wchar_t* target;
    int64_t offset, size;
    std::string expected;
  };
  std::string small = ServedFile(L"data1000.bin");
  const Case cases[] = {
      {L"/data1000.bin?chunk=1&pause=0.15", 100, 4, small.substr(100, 4)},
      {L"/data1000.bin?chunk=300&pause=0.2", 0, 0, small},
      {L"/data3m.bin?cut=3&stall=0.5", 0, 0, ServedFile(L"data3m.bin").substr(0, 3)},
  };
  for (const Case& c : cases) {
    ComRef<HttpRecorder> recorder(HttpRecorder::Create());
    ASSERT_NO_FATAL_FAILURE(Fetch(recorder.Get(), FaultUrl(c.target), Range(c.offset, c.size)));
    EXPECT_EQ(recorder->result, kResultOk) << Narrow(c.target);
    EXPECT_EQ(recorder->body.size(), c.expected.size()) << Narrow(c.target);
    EXPECT_TRUE(recorder->body == c.expected) << Narrow(c.target);
  }
}

TEST_F(HttpTaskTest, RangeFromNginxReportsItsPositionInTheResource) {
  ComRef<HttpRecorder> recorder(HttpRecorder::Create());
  ASSERT_NO_FATAL_FAILURE(Fetch(recorder.Get(), NginxUrl(L"/data1000.bin"), Range(100, 50)));
  ASSERT_EQ(recorder->headers.size(), 1u);
  EXPECT_EQ(recorder->headers[0].statusCode, 206);
  EXPECT_EQ(recorder->headers[0].offset, 100);
  EXPECT_EQ(recorder->headers[0].size, 50);
  EXPECT_EQ(recorder->headers[0].total, 1000);
  EXPECT_TRUE(recorder->body == ServedFile(L"data1000.bin").substr(100, 50));
  EXPECT_TRUE(LogHas("HttpTask::SetRange> Range: bytes=100-149"));
}

TEST_F(HttpTaskTest, IfRangeWithAnOutdatedEtagGetsTheWholeResource) {
  ComRef<HttpRecorder> recorder(HttpRecorder::Create());
  ASSERT_NO_FATAL_FAILURE(
      Fetch(recorder.Get(), NginxUrl(L"/data1000.bin"), Range(100, 50, "\"outdated\"")));
  ASSERT_EQ(recorder->headers.size(), 1u);
  EXPECT_EQ(recorder->headers[0].statusCode, 200);
  EXPECT_EQ(recorder->headers[0].total, 1000);
  EXPECT_EQ(recorder->body.size(), 1000u);
  EXPECT_TRUE(LogHas("HttpTask::SetIfRange> If-Range: \"outdated\""));
}

TEST_F(HttpTaskTest, WholeResourceWithEtagSendsNeitherRangeNorIfRange) {
  std::string tag = NewTag();
  ComRef<HttpRecorder> recorder(HttpRecorder::Create());
  ASSERT_NO_FATAL_FAILURE(Fetch(recorder.Get(), FaultUrl(L"/data1000.bin?tag=" + Widen(tag)),
                                Range(0, 0, "\"abc\"")));
  std::vector<ServerRequest> requests = RequestsWithTag(tag);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].range, "-");
  EXPECT_EQ(requests[0].ifRange, "-");
  EXPECT_EQ(recorder->body.size(), 1000u);
}

TEST_F(HttpTaskTest, RangeWithEtagSendsBothHeaders) {
  std::string tag = NewTag();
  ComRef<HttpRecorder> recorder(HttpRecorder::Create());
  ASSERT_NO_FATAL_FAILURE(Fetch(recorder.Get(), FaultUrl(L"/data1000.bin?tag=" + Widen(tag)),
                                Range(10, 20, "\"abc\"")));
  std::vector<ServerRequest> requests = RequestsWithTag(tag);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].range, "bytes=10-29");
  EXPECT_EQ(requests[0].ifRange, "\"abc\"");
}

TEST_F(HttpTaskTest, RedirectLoopEndsWithAnErrorAfterTheBound) {
  std::string tag = NewTag();
  ComRef<HttpRecorder> recorder(HttpRecorder::Create());
  ASSERT_NO_FATAL_FAILURE(Fetch(recorder.Get(),
                                FaultUrl(L"/data1000.bin?tag=" + Widen(tag) + L"&status=302&location=self"),
                                Range(0, 0)));
  EXPECT_EQ(recorder->result, kResultRedirectFailed);
  EXPECT_EQ(recorder->completions, 1);
  EXPECT_TRUE(recorder->headers.empty());
  EXPECT_EQ(RequestsWithTag(tag).size(), static_cast<size_t>(HttpTask::kMaxRedirects + 1));
  EXPECT_TRUE(LogHas("HttpTask::FollowRedirect> Too many redirects: 20 followed."));
}

TEST_F(HttpTaskTest, CancelDuringARedirectLoopCompletes) {
  std::string tag = NewTag();
  ComRef<HttpRecorder> recorder(HttpRecorder::Create());
  // Each answer comes after 0.1 s: the bound is far away when the cancel comes.
  ComRef<ITask> task(CreateHttpTask(
      FaultUrl(L"/data1000.bin?tag=" + Widen(tag) + L"&delay=0.1&status=302&location=self").c_str(),
      Range(0, 0), recorder.Get(), logger_));
  ASSERT_NE(task.Get(), nullptr);
  task->Start();
  Sleep(500);
  task->Cancel();
  ASSERT_TRUE(recorder->WaitDone(10000));
  EXPECT_EQ(recorder->result, kResultCancelled);
  EXPECT_EQ(recorder->completions, 1);
  EXPECT_LT(RequestsWithTag(tag).size(), static_cast<size_t>(HttpTask::kMaxRedirects));
}

TEST_F(HttpTaskTest, RedirectKeepsRangeAndIfRangeOnAnotherPortOrPath) {
  std::string tag = NewTag(), target = NewTag();
  std::string nginx = Narrow(NginxUrl(L"/data1000.bin"));
  // To nginx on its own port (the range arrives: nginx answers 206), and relative to the fault
  // server's own path, whose request log shows both headers.
  for (const std::string& location : {nginx, "/data1000.bin?ignore_if_range=1&tag=" + target}) {
    ComRef<HttpRecorder> recorder(HttpRecorder::Create());
    ASSERT_NO_FATAL_FAILURE(Fetch(recorder.Get(),
                                  FaultUrl(L"/data1000.bin?tag=" + Widen(tag) + L"&status=307&location=" +
                                           Widen(QueryValue(location))),
                                  Range(100, 50, location == nginx ? "" : "\"e\"")));
    ASSERT_EQ(recorder->headers.size(), 1u) << location;
    EXPECT_EQ(recorder->headers[0].statusCode, 206) << location;
    EXPECT_EQ(recorder->headers[0].total, 1000) << location;
    EXPECT_TRUE(recorder->body == ServedFile(L"data1000.bin").substr(100, 50)) << location;
  }
  std::vector<ServerRequest> requests = RequestsWithTag(target);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].range, "bytes=100-149");
  EXPECT_EQ(requests[0].ifRange, "\"e\"");
  EXPECT_TRUE(LogHas("HttpTask::FollowRedirect> Redirect 307 to " + nginx + "."));
}

TEST(RedirectTest, LocationIsResolvedAgainstTheRequestAndChecked) {
  struct Case {
    const char* from;
    const char* location;
    long result;
    const char* to;
  };
  const long downgrade = ResultFromError(ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR);
  const Case cases[] = {
      {"http://a.test/x/y?q=1", "/z?r=2", kResultOk, "http://a.test/z?r=2"},
      {"http://a.test/x/y", "w", kResultOk, "http://a.test/x/w"},
      {"http://a.test/x", "http://b.test:8080/p", kResultOk, "http://b.test:8080/p"},
      {"https://a.test/x", "https://b.test/p", kResultOk, "https://b.test/p"},
      {"http://a.test/x", "https://b.test/p", kResultOk, "https://b.test/p"},
      {"https://a.test/x", "http://b.test/p", downgrade, nullptr},
      {"https://a.test/x", "//b.test/p", kResultOk, "https://b.test/p"},
      {"http://a.test/x", "ftp://b.test/p", kResultInvalidUrl, nullptr},
      {"http://a.test/x", "file:///C:/p", kResultInvalidUrl, nullptr},
      {"http://a.test/x", "/p\r\nX-Injected: 1", kResultInvalidUrl, nullptr},
      {"http://a.test/x", "/p q", kResultInvalidUrl, nullptr},
      {"http://a.test/x", "/\xC3\xA9", kResultInvalidUrl, nullptr},
  };
  for (const Case& c : cases) {
    Text location;
    ASSERT_TRUE(location.Assign(c.location));
    WideText to;
    EXPECT_EQ(ResolveRedirect(Widen(c.from).c_str(), location, to), c.result) << c.location;
    if (c.to) {
      EXPECT_EQ(Narrow(to.Get()), c.to) << c.location;
    }
  }
  for (int status : {301, 302, 303, 307, 308}) EXPECT_TRUE(IsRedirectStatus(status)) << status;
  for (int status : {200, 300, 304, 305, 306, 404}) EXPECT_FALSE(IsRedirectStatus(status)) << status;
}

TEST_F(HttpTaskTest, SchemeOtherThanHttpCompletesInsideStartAndReleasesTheCallback) {
  bool destroyed = false;
  HttpRecorder* recorder = HttpRecorder::Create();
  recorder->destroyed = &destroyed;
  ComRef<ITask> task(CreateHttpTask(L"ftp://127.0.0.1/data1000.bin", Range(0, 0), recorder, logger_));
  ASSERT_NE(task.Get(), nullptr);
  task->Start();
  EXPECT_EQ(recorder->completions, 1);
  EXPECT_EQ(recorder->result, kResultInvalidUrl);
  EXPECT_TRUE(recorder->headers.empty());
  // The task is still alive; if it had kept its reference, ours would not be the last one.
  recorder->Release();
  EXPECT_TRUE(destroyed) << "the task still holds its callback";
}

TEST_F(HttpTaskTest, EmptyBodyGivesTheHeaderNoDataAndSuccess) {
  ComRef<HttpRecorder> recorder(HttpRecorder::Create());
  ASSERT_NO_FATAL_FAILURE(Fetch(recorder.Get(), NginxUrl(L"/empty.bin"), Range(0, 0)));
  ASSERT_EQ(recorder->headers.size(), 1u);
  EXPECT_EQ(recorder->headers[0].statusCode, 200);
  // Content-Length 0 and no Content-Range: the total is known to be 0.
  EXPECT_EQ(recorder->headers[0].offset, 0);
  EXPECT_EQ(recorder->headers[0].size, 0);
  EXPECT_EQ(recorder->headers[0].total, 0);
  EXPECT_EQ(recorder->dataCalls, 0);
  EXPECT_EQ(recorder->result, kResultOk);
  EXPECT_EQ(recorder->completions, 1);
  EXPECT_TRUE(LogHas("HttpTask::ProcessData> Complete."));
}

TEST_F(HttpTaskTest, NoContentRangeAndNoLengthLeaveTheTotalUnknown) {
  ComRef<HttpRecorder> recorder(HttpRecorder::Create());
  ASSERT_NO_FATAL_FAILURE(
      Fetch(recorder.Get(), FaultUrl(L"/data1000.bin?no_length=1"), Range(0, 0)));
  ASSERT_EQ(recorder->headers.size(), 1u);
  EXPECT_EQ(recorder->headers[0].offset, 0);
  EXPECT_EQ(recorder->headers[0].size, 0);
  EXPECT_EQ(recorder->headers[0].total, -1);
  EXPECT_EQ(recorder->body, ServedFile(L"data1000.bin"));
  EXPECT_EQ(recorder->result, kResultOk);
}

TEST_F(HttpTaskTest, AsteriskTotalIsLoggedAndTheLengthGivesTheTotal) {
  ComRef<HttpRecorder> recorder(HttpRecorder::Create());
  ASSERT_NO_FATAL_FAILURE(
      Fetch(recorder.Get(), FaultUrl(L"/data1000.bin?total=*"), Range(0, 100)));
  ASSERT_EQ(recorder->headers.size(), 1u);
  EXPECT_EQ(recorder->headers[0].statusCode, 206);
  EXPECT_EQ(recorder->headers[0].offset, 0);
  EXPECT_EQ(recorder->headers[0].size, 100);
  EXPECT_EQ(recorder->headers[0].total, 100);
  EXPECT_TRUE(LogHas("HttpTask::GetContentRange> Unknown content range bytes 0-99/*."));
}

TEST_F(HttpTaskTest, ContentRangeThatCannotDescribeTheResourceIsNotTrusted) {
  // Each of them would give a size of 0 or less, a range past the total, or numbers that overflow.
  for (const wchar_t* range : {L"bytes%2050-49/1000", L"bytes%200-99/50", L"bytes%20-5-10/1000",
                               L"bytes%200-99999999999999999999/99999999999999999999"}) {
    ComRef<HttpRecorder> recorder(HttpRecorder::Create());
    ASSERT_NO_FATAL_FAILURE(Fetch(recorder.Get(), FaultUrl(L"/data1000.bin?content_range=") + range,
                                  Range(0, 100)));
    ASSERT_EQ(recorder->headers.size(), 1u);
    EXPECT_EQ(recorder->headers[0].offset, 0) << Narrow(range);
    EXPECT_EQ(recorder->headers[0].total, 100) << Narrow(range);
  }
  EXPECT_TRUE(LogHas("HttpTask::GetContentRange> Unknown content range bytes 50-49/1000."));
}

TEST_F(HttpTaskTest, ErrorStatusIsPassedOnNotJudged) {
  ComRef<HttpRecorder> recorder(HttpRecorder::Create());
  ASSERT_NO_FATAL_FAILURE(Fetch(recorder.Get(), FaultUrl(L"/data1000.bin?status=500"), Range(0, 0)));
  ASSERT_EQ(recorder->headers.size(), 1u);
  EXPECT_EQ(recorder->headers[0].statusCode, 500);
  EXPECT_EQ(recorder->body, "fault 500\n");
  EXPECT_EQ(recorder->result, kResultOk);
}

TEST_F(HttpTaskTest, EtagWithAControlCharacterIsNoValidator) {
  ComRef<HttpRecorder> recorder(HttpRecorder::Create());
  ASSERT_NO_FATAL_FAILURE(
      Fetch(recorder.Get(), FaultUrl(L"/data1000.bin?etag=%22a%01b%22"), Range(0, 0)));
  ASSERT_EQ(recorder->headers.size(), 1u);
  EXPECT_EQ(recorder->headers[0].etag, "");
}

// Cancel completes at once, whether the body's read or the answer itself is pending: under Wine
// a request waiting for its answer ends only when the answer comes, 4 s after the request here.
TEST_F(HttpTaskTest, CancelEndsWithTheCancelCodeAtOnceWhateverTheRequestWaitsFor) {
  struct Case {
    const char* name;
    const wchar_t* path;
    bool header;
  } cases[] = {
      {"a pending read: the header, then nothing for 3 s", L"/data1000.bin?cut=0&stall=3", true},
      {"no answer yet: nothing for 4 s", L"/data1000.bin?delay=4", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ComRef<HttpRecorder> recorder(HttpRecorder::Create());
    ComRef<ITask> task(CreateHttpTask(FaultUrl(c.path).c_str(), Range(0, 0), recorder.Get(), logger_));
    ASSERT_NE(task.Get(), nullptr);
    task->Start();
    if (c.header) {
      ASSERT_TRUE(recorder->WaitHeader());
    }
    Sleep(300);  // the read or the answer is pending now
    task->Cancel();
    ASSERT_TRUE(recorder->WaitDone(2000));
    EXPECT_EQ(recorder->result, kResultCancelled);
    EXPECT_EQ(recorder->completions, 1);
    EXPECT_EQ(recorder->dataCalls, 0);
  }
  EXPECT_TRUE(LogHas("HttpTask::Cancel> Cancel"));
  EXPECT_FALSE(LogHas("INTERNET_STATUS_REQUEST_COMPLETE failed"));
}

TEST_F(HttpTaskTest, ReleasingANeverStartedTaskCallsNothing) {
  bool destroyed = false;
  HttpRecorder* recorder = HttpRecorder::Create();
  recorder->destroyed = &destroyed;
  ITask* task = CreateHttpTask(NginxUrl(L"/data1000.bin").c_str(), Range(0, 0), recorder, logger_);
  ASSERT_NE(task, nullptr);
  task->Release();
  EXPECT_EQ(recorder->completions, 0);
  EXPECT_TRUE(recorder->headers.empty());
  recorder->Release();
  EXPECT_TRUE(destroyed);
}

TEST_F(HttpTaskTest, CancelBeforeStartHasNoEffect) {
  ComRef<HttpRecorder> recorder(HttpRecorder::Create());
  ComRef<ITask> task(CreateHttpTask(NginxUrl(L"/data1000.bin").c_str(), Range(0, 0), recorder.Get(), logger_));
  ASSERT_NE(task.Get(), nullptr);
  task->Cancel();
  task->Start();
  ASSERT_TRUE(recorder->WaitDone());
  EXPECT_EQ(recorder->result, kResultOk);
  EXPECT_EQ(recorder->body.size(), 1000u);
}

TEST_F(HttpTaskTest, CreationRefusesMissingArguments) {
  ComRef<HttpRecorder> recorder(HttpRecorder::Create());
  EXPECT_EQ(CreateHttpTask(nullptr, Range(0, 0), recorder.Get(), logger_), nullptr);
  EXPECT_EQ(CreateHttpTask(L"http://127.0.0.1/", Range(0, 0), nullptr, logger_), nullptr);
  EXPECT_EQ(CreateHttpTask(L"http://127.0.0.1/", Range(0, 0), recorder.Get(), nullptr), nullptr);
}

}  // namespace
