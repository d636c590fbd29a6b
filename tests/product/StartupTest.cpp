// The stub as a whole: HalvernSetup.exe started under Wine, observed through its exit code, the
// product key and the preserved copy of its log.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <regex>

#include "core/Registry.h"
#include "core/UniqueHandle.h"
#include "core/WorkingFolders.h"
#include "support/TestCore.h"
#include "support/TestSupport.h"

using testsupport::ReadStringValue;
using testsupport::RunAndWait;

namespace {

using testsupport::kProductSubkey;

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kProductSubkey);
    ASSERT_TRUE(stubframework::utils::GetTempSubfolder(testsupport::kLogFolderName, logCopyFolder_));
    stubframework::utils::DeleteFolderTree(logCopyFolder_);
    stub_ = testsupport::ProgramFolder() + L"HalvernSetup.exe";
    ASSERT_TRUE(testsupport::PathExists(stub_));
  }
  void TearDown() override { testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kProductSubkey); }

  testsupport::ProcessResult Run(const std::wstring& arguments, bool pump = false) {
    return RunAndWait(stub_, L"\"" + stub_ + L"\" " + arguments, 60000, pump);
  }

  // The text of the single log copy the run left in %TEMP%\HLVN_log.
  std::string LogCopy() {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((logCopyFolder_ + L"installer_log_*.txt").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return std::string();
    FindClose(find);
    return testsupport::ReadFileBytes(logCopyFolder_ + data.cFileName);
  }

  std::wstring stub_;
  std::wstring logCopyFolder_;
};

}  // namespace

TEST_F(StartupTest, ARunLoadsItsPackageRemovesItsFolderAndLeavesTheStatusAtFour) {
  testsupport::ProcessResult result = Run(L"run=1");
  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0u);

  std::wstring language, status;
  ASSERT_TRUE(ReadStringValue(HKEY_CURRENT_USER, kProductSubkey, L"install_language", language));
  EXPECT_EQ(language, L"English");
  ASSERT_TRUE(ReadStringValue(HKEY_CURRENT_USER, kProductSubkey, L"status", status));
  // No HTML engine under Wine: the window is never shown and the start-up status stays.
  EXPECT_EQ(status, L"4");

  std::string log = LogCopy();
  ASSERT_TRUE(std::regex_search(log, std::regex(R"(^\[\d{8} \d\d:\d\d:\d\d [ \d]{2}\d (TRACE|ERROR|DEBUG)\] )"))) << log;
  std::smatch loaded, location;
  ASSERT_TRUE(std::regex_search(log, loaded, std::regex(R"(DEBUG\] load resource success, temporary folder path : (.*)\r\n)"))) << log;
  ASSERT_TRUE(std::regex_search(log, location, std::regex(R"(DEBUG\] resourceLocation : (.*)\r\n)"))) << log;
  EXPECT_EQ(location[1], loaded[1]);
  std::string folder = loaded[1];
  EXPECT_EQ(folder.back(), '\\');
  EXPECT_FALSE(testsupport::PathExists(std::wstring(folder.begin(), folder.end())));
  // Only a run that ends in ERROR dumps the property store.
  EXPECT_EQ(log.find("] Property "), std::string::npos) << log;
}

TEST_F(StartupTest, AStubCutOffAfterItsImageEndsInErrorAndLogsItsProperties) {
  // The package is appended after the image: the end of the last section's raw data.
  std::string bytes = testsupport::ReadFileBytes(stub_);
  ASSERT_GT(bytes.size(), 0x40u);
  auto read32 = [&bytes](size_t at) { uint32_t value = 0; memcpy(&value, bytes.data() + at, 4); return value; };
  auto read16 = [&bytes](size_t at) { uint16_t value = 0; memcpy(&value, bytes.data() + at, 2); return value; };
  size_t header = read32(0x3C);
  ASSERT_LT(header + 24, bytes.size());
  ASSERT_EQ(read32(header), 0x00004550u);  // "PE\0\0"
  size_t sections = header + 24 + read16(header + 20);
  size_t imageEnd = 0;
  for (size_t i = 0; i < read16(header + 6); ++i) {
    size_t section = sections + 40 * i;
    ASSERT_LE(section + 40, bytes.size());
    imageEnd = std::max<size_t>(imageEnd, read32(section + 20) + read32(section + 16));
  }
  ASSERT_LT(imageEnd, bytes.size());
  testsupport::ScratchFolder folder;
  std::wstring cut = folder.File(L"HalvernSetup.exe");
  ASSERT_TRUE(testsupport::WriteFileBytes(cut, bytes.substr(0, imageEnd)));

  testsupport::ProcessResult result = RunAndWait(cut, L"\"" + cut + L"\" run=1", 60000);
  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0u);
  std::wstring status;
  ASSERT_TRUE(ReadStringValue(HKEY_CURRENT_USER, kProductSubkey, L"status", status));
  EXPECT_EQ(status, L"2");
  std::string log = LogCopy();
  EXPECT_EQ(log.find("load resource success"), std::string::npos) << log;
  EXPECT_EQ(log.find("resourceLocation"), std::string::npos) << log;
  for (const char* line : {"DEBUG] Property downloadTotal: 1\r\n\r\n", "DEBUG] Property installCurrent: 0\r\n\r\n",
                           "DEBUG] Property lang: en\r\n\r\n", "DEBUG] Property osbits: ",
                           "DEBUG] Property uninstallOption: \r\n\r\n"})
    EXPECT_NE(log.find(line), std::string::npos) << line << log;
}

TEST_F(StartupTest, UpdateValuesLeftBeforeTheRunAreDeletedAndDoNotHandOver) {
  for (const wchar_t* name : {L"selfupdate_code", L"update_stub_name"})
    ASSERT_TRUE(stubframework::utils::WriteRegistryString( testsupport::kProductRegistryKey, name, L"197800", false));
  testsupport::ProcessResult result = Run(L"run=1");
  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0u);
  std::wstring value;
  EXPECT_FALSE(ReadStringValue(HKEY_CURRENT_USER, kProductSubkey, L"selfupdate_code", value));
  EXPECT_FALSE(ReadStringValue(HKEY_CURRENT_USER, kProductSubkey, L"update_stub_name", value));
}

TEST_F(StartupTest, ASecondInstanceRestoresTheFirstWindowAndEndsAtOnce) {
  stubframework::utils::KernelHandle mutex(CreateMutexW(nullptr, TRUE, L"VelmoraStubFramework"));
  ASSERT_TRUE(mutex.Valid());
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"HTMLUI";
  ASSERT_NE(RegisterClassW(&windowClass), 0);
  HWND window = CreateWindowExW(0, L"HTMLUI", L"", WS_OVERLAPPEDWINDOW, 10, 10, 200, 100, nullptr,
                                nullptr, windowClass.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  ShowWindow(window, SW_SHOWMINIMIZED);
  ASSERT_TRUE(IsIconic(window));

  testsupport::ProcessResult result = Run(L"run=1", true);
  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0u);
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  EXPECT_FALSE(IsIconic(window));
  // It built nothing: no values under the product key, no log.
  std::wstring language;
  EXPECT_FALSE(ReadStringValue(HKEY_CURRENT_USER, kProductSubkey, L"install_language", language));
  EXPECT_TRUE(LogCopy().empty());

  DestroyWindow(window);
  UnregisterClassW(L"HTMLUI", windowClass.hInstance);

  // Without a window to bring forward it simply ends.
  result = Run(L"run=1");
  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_FALSE(ReadStringValue(HKEY_CURRENT_USER, kProductSubkey, L"install_language", language));
}

// The start report has a thread of its own: with a service that accepts and never answers, the
// page's first call comes as soon as with one that refuses at once, and the run, closed at once,
// ends within the reports' time-outs. start_bench starts exactly as the stub does and makes the
// page's first call where the HTML engine would load the page (bench/StartBench.cpp); the reports
// reach the service through the user's proxy, refusing, then silent.
TEST_F(StartupTest, AServiceThatNeverAnswersDelaysNeitherThePageNorTheEndOfTheRun) {
  const std::wstring bench = testsupport::ProgramFolder() + L"start_bench.exe";
  ASSERT_TRUE(testsupport::PathExists(bench));
  testsupport::ScratchFolder folder;
  const std::wstring times = folder.File(L"times.txt");
  ASSERT_TRUE(SetEnvironmentVariableW(L"HALVERN_START_TIMES", times.c_str()));
  testsupport::SilentServer silent;
  struct Start {
    long long firstCallMs = -1;  // from the process's creation
    ULONGLONG runMs = 0;         // launch to exit
  };
  auto start = [&](const std::string& proxy) {
    Start result;
    EXPECT_TRUE(testsupport::SetUserProxy(testsupport::kProxyNamed, proxy, ""));
    DeleteFileW(times.c_str());
    ULONGLONG launched = GetTickCount64();
    testsupport::ProcessResult run = RunAndWait(bench, L"\"" + bench + L"\" run=1", 90000);
    result.runMs = GetTickCount64() - launched;
    EXPECT_TRUE(run.finished && run.exitCode == 0) << proxy;
    // "ui <created> <entry> <started> <opened> <called>", FILETIME ticks of 100 ns.
    unsigned long long created = 0, entry = 0, started = 0, opened = 0, called = 0;
    if (sscanf(testsupport::ReadFileBytes(times).c_str(), "ui %llu %llu %llu %llu %llu", &created, &entry, &started,
               &opened, &called) == 5)
      result.firstCallMs = static_cast<long long>((called - created) / 10000);
    printf("proxy %s: first call %lld ms after the creation, run %llu ms\n", proxy.c_str(), result.firstCallMs,
           result.runMs);
    return result;
  };
  Start refused = start("127.0.0.1:1");
  Start silence = start(silent.Address());
  testsupport::ClearUserProxy();
  SetEnvironmentVariableW(L"HALVERN_START_TIMES", nullptr);
  ASSERT_GT(refused.firstCallMs, 0);
  ASSERT_GT(silence.firstCallMs, 0);
  EXPECT_TRUE(silent.AwaitConnection(0));
  EXPECT_LT(silence.firstCallMs, refused.firstCallMs + 2000);
  // The start report's time-out, then the end report's: about 10 s.
  EXPECT_LT(silence.runMs, 30000u);
}
