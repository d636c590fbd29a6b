#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "core/ComRef.h"
#include "core/DownloadLogger.h"
#include "core/InstallerLog.h"
#include "core/TextFormat.h"
#include "core/WorkingFolders.h"
#include "support/TestSupport.h"

using namespace stubframework::debug;
using testsupport::ReadFileBytes;

namespace {

// The prefix and message of one whole line, as Write produces it.
const char kWholeLine[] = R"(\[\d{8} \d\d:\d\d:\d\d [ \d]{2}\d (TRACE|ERROR|DEBUG)\] ([^\r\n]*)\r\n)";

}  // namespace

TEST(InstallerLog, PrefixLayoutPadsMillisecondsWithBlanks) {
  EXPECT_EQ(LogLinePrefix(2026, 12, 9, 6, 1, 2, 7, kLogDebug), "[20261209 06:01:02   7 DEBUG] ");
  EXPECT_EQ(LogLinePrefix(2026, 1, 31, 23, 59, 59, 999, kLogTrace), "[20260131 23:59:59 999 TRACE] ");
  EXPECT_EQ(LogLinePrefix(2027, 2, 3, 4, 5, 6, 45, kLogError), "[20270203 04:05:06  45 ERROR] ");
}

TEST(InstallerLog, WritesEveryLevelAsCrLfLinesInItsOwnFolder) {
  std::wstring path, folder;
  {
    InstallerLog log;
    path = log.FilePath();
    folder = log.Folder();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.compare(0, folder.size(), folder), 0);
    std::wstring name = path.substr(folder.size());
    EXPECT_TRUE(std::regex_match(std::string(name.begin(), name.end()),
                                 std::regex(R"(installer_log_\d{14}\.txt)")));
    LogTrace(&log, L"trace %d", 1);
    LogError(&log, L"error %s", L"wide");
    LogDebug(&log, L"debug %S", "narrow");

    std::string bytes = ReadFileBytes(path);
    std::regex line(kWholeLine);
    std::vector<std::string> messages;
    for (std::sregex_iterator it(bytes.begin(), bytes.end(), line), end; it != end; ++it)
      messages.push_back((*it)[1].str() + ":" + (*it)[2].str());
    ASSERT_EQ(messages.size(), 3u) << bytes;
    EXPECT_EQ(messages[0], "TRACE:trace 1");
    EXPECT_EQ(messages[1], "ERROR:error wide");
    EXPECT_EQ(messages[2], "DEBUG:debug narrow");
    EXPECT_EQ(bytes.size(), 3 * std::string("[20261209 06:01:02   7 TRACE] ").size() +
                                std::string("trace 1\r\nerror wide\r\ndebug narrow\r\n").size());
  }
  EXPECT_FALSE(testsupport::PathExists(folder));
}

TEST(InstallerLog, AfterCloseWritesDoNothingAndDoNotReopen) {
  InstallerLog log;
  LogDebug(&log, L"before");
  log.Close();
  LogDebug(&log, L"after");
  LogError(&log, L"after");
  std::string bytes = ReadFileBytes(log.FilePath());
  EXPECT_NE(bytes.find("before"), std::string::npos);
  EXPECT_EQ(bytes.find("after"), std::string::npos);
}

TEST(InstallerLog, TwoLogsNeverShareAFile) {
  InstallerLog first;
  InstallerLog second;
  EXPECT_NE(first.Folder(), second.Folder());
  EXPECT_NE(first.FilePath(), second.FilePath());
}

TEST(InstallerLog, NullLogAndNonLatinTextAreHarmless) {
  LogDebug(nullptr, L"nothing %s", L"here");
  InstallerLog log;
  LogDebug(&log, L"%s", L"\x0416\x4E2D");
  std::string bytes = ReadFileBytes(log.FilePath());
  EXPECT_NE(bytes.find("\xD0\x96\xE4\xB8\xAD\r\n"), std::string::npos);
}

TEST(InstallerLog, LinesOfConcurrentThreadsStayWhole) {
  InstallerLog log;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&log, t] {
      for (int i = 0; i < 100; ++i) LogDebug(&log, L"thread %d line %d end", t, i);
    });
  for (auto& thread : threads) thread.join();
  std::string bytes = ReadFileBytes(log.FilePath());
  std::regex line(R"(\[[^\]]*\] thread \d line \d+ end\r\n)");
  size_t count = std::distance(std::sregex_iterator(bytes.begin(), bytes.end(), line), std::sregex_iterator());
  EXPECT_EQ(count, 400u);
}

// Close ends the file while writers keep going, and the next file the process opens must not
// receive their lines. Rounds repeat the race; each waits for writer calls, never for time.
TEST(InstallerLog, ClosingWhileThreadsWriteEndsWithWholeLinesAndLeavesOtherFilesAlone) {
  testsupport::ScratchFolder scratch;
  for (int round = 0; round < 16; ++round) {
    InstallerLog log;
    std::atomic<int> calls{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < 3; ++t)
      writers.emplace_back([&] {
        while (!stop) {
          LogDebug(&log, L"writer line %d", calls.load());
          ++calls;
        }
      });
    while (calls < 200) std::this_thread::yield();
    log.Close();
    std::wstring otherPath = scratch.File(L"other" + std::to_wstring(round) + L".txt");
    FILE* other = _wfopen(otherPath.c_str(), L"a+N");
    ASSERT_NE(other, nullptr);
    int closedAt = calls;
    while (calls < closedAt + 2000) std::this_thread::yield();
    stop = true;
    for (auto& writer : writers) writer.join();
    fclose(other);

    EXPECT_EQ(ReadFileBytes(otherPath), "") << "round " << round;
    std::string bytes = ReadFileBytes(log.FilePath());
    EXPECT_NE(bytes.find("writer line"), std::string::npos);
    EXPECT_EQ(std::regex_replace(bytes, std::regex(kWholeLine), ""), "") << "round " << round;
  }
}

// Started as a child process by the next test: it dies of an access violation with the crash
// line installed.
static InstallerLog* g_crashLog = nullptr;

static LONG WINAPI LogCrash(EXCEPTION_POINTERS* info) {
  g_crashLog->LogUnhandledException(info->ExceptionRecord);
  return EXCEPTION_EXECUTE_HANDLER;
}

TEST(InstallerLog, DISABLED_CrashingChild) {
  g_crashLog = new InstallerLog;  // never deleted: the crash ends the process
  SetUnhandledExceptionFilter(LogCrash);
  LogDebug(g_crashLog, L"before the crash");
  // The log lies in the child's own working root: its path goes to the parent's scratch folder.
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  testsupport::WriteFileBytes(std::wstring(temp) + L"crash-log-path.txt",
                              stubframework::utils::WideToUtf8(g_crashLog->FilePath()));
  // Both volatile, so that the compiler neither drops the store nor turns it into a trap.
  volatile int* volatile nowhere = nullptr;
  *nowhere = 1;
}

TEST(InstallerLog, AnUnhandledCrashLeavesOneErrorLineWithItsCodeAndAddress) {
  testsupport::ScratchFolder temp;
  // The child names its log in this scratch folder.
  wchar_t oldTmp[MAX_PATH] = {}, oldTemp[MAX_PATH] = {};
  GetEnvironmentVariableW(L"TMP", oldTmp, MAX_PATH);
  GetEnvironmentVariableW(L"TEMP", oldTemp, MAX_PATH);
  SetEnvironmentVariableW(L"TMP", temp.Path().c_str());
  SetEnvironmentVariableW(L"TEMP", temp.Path().c_str());
  wchar_t program[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  testsupport::ProcessResult result = testsupport::RunAndWait(
      program, std::wstring(L"\"") + program +
                   L"\" --gtest_also_run_disabled_tests --gtest_filter=InstallerLog.DISABLED_CrashingChild",
      60000);
  SetEnvironmentVariableW(L"TMP", oldTmp);
  SetEnvironmentVariableW(L"TEMP", oldTemp);
  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));

  const std::wstring logPath = testsupport::Wide(testsupport::ReadFileBytes(temp.File(L"crash-log-path.txt")));
  ASSERT_FALSE(logPath.empty());
  std::string bytes = ReadFileBytes(logPath);
  // The crash left the child's root behind.
  stubframework::utils::DeleteFolderTree(logPath.substr(0, logPath.find(L'\\', logPath.find(L"\\stub-") + 1) + 1));

  std::regex crash(R"(\] before the crash\r\n\[[^\]]* ERROR\] Unhandled exception 0xC0000005 at 0x[0-9A-F]{8,16}\r\n$)");
  EXPECT_TRUE(std::regex_search(bytes, crash)) << bytes;
}

TEST(DownloadLogger, WritesWhereAndMessageAtTraceAndCutsAt1023Characters) {
  InstallerLog log;
  {
    stubframework::utils::ComRef<downloader::ILogger> logger(DownloadLogger::Create(&log));
    ASSERT_TRUE(logger);
    logger->Log(L"HttpTask::Start", L"Open %s, %d", L"url", 5);
    logger->Log(L"HttpTask::OnData", L"%s", std::wstring(2000, L'x').c_str());
  }

  std::string bytes = ReadFileBytes(log.FilePath());
  EXPECT_NE(bytes.find("TRACE] HttpTask::Start> Open url, 5\r\n"), std::string::npos) << bytes;
  std::string longLine = "TRACE] HttpTask::OnData> " + std::string(1023, 'x') + "\r\n";
  EXPECT_NE(bytes.find(longLine), std::string::npos);
}

TEST(DownloadLogger, WithoutALogWritesNothing) {
  downloader::ILogger* logger = DownloadLogger::Create(nullptr);
  ASSERT_NE(logger, nullptr);
  logger->AddRef();
  logger->Log(L"X::Y", L"%s", L"ignored");
  logger->Release();
  logger->Release();
}
