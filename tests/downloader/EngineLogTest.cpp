#include <regex>

#include "EngineTest.h"
#include "core/UniqueHandle.h"
#include "downloader/HttpToFileTask.h"
#include "downloader/ResultCodes.h"
#include "support/TestSupport.h"

using namespace downloader;
using namespace enginetest;

namespace {

using EngineLogTest = EngineTest;

// The lines that one file download leaves in the installer log, in the order they were written,
// each as a TRACE entry "where> message".
TEST_F(EngineLogTest, FileDownloadTracesEveryStepUnderItsClassAndMethod) {
  testsupport::ScratchFolder scratch;
  stubframework::utils::FileHandle file(
      CreateFileW(scratch.File(L"log.bin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(file.Valid());
  ComRef<FileRecorder> recorder(FileRecorder::Create());
  std::wstring url = NginxUrl(L"/data1000.bin");
  {
    ComRef<ITask> task(CreateHttpToFileTask(url.c_str(), file.Get(), 0, 1000, recorder.Get(), logger_));
    ASSERT_NE(task.Get(), nullptr);
    task->Start();
    ASSERT_TRUE(recorder->WaitDone());
  }
  ASSERT_EQ(recorder->result, kResultOk);

  std::string text = LogText();
  std::string narrowUrl = Narrow(url);
  const std::string expected[] = {
      "HttpToFileTask::Start> Start download " + narrowUrl + " (OFFSET:0 SIZE:1000) to file.",
      "HttpTask::Start> Start " + narrowUrl + " (OFFSET:0,SIZE:1000,ETAG:).",
      "HttpTask::SetRange> Range: bytes=0-999",
      "HttpTask::ProcessHeader> 206 (OFFSET:0 SIZE:1000 TOTAL:1000 ETAG:\"",
      "HttpTask::ProcessData> Complete.",
      "HttpToFileTask::OnComplete> Complete.",
  };
  size_t at = 0;
  for (const std::string& line : expected) {
    size_t found = text.find(line, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << text;
    at = found;
  }
  std::regex entry(R"(\[\d{8} \d\d:\d\d:\d\d [ \d]{2}\d TRACE\] HttpTask::Start> Start )");
  EXPECT_TRUE(std::regex_search(text, entry)) << text;
}

}  // namespace
