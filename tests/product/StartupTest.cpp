// The stub as a whole: HalvernSetup.exe started under Wine, observed through its exit code, the
// product key and the preserved copy of its log.
#include <gtest/gtest.h>

#include <regex>

#include "core/Registry.h"
#include "core/WorkingFolders.h"
#include "support/TestSupport.h"

using testsupport::ReadStringValue;
using testsupport::RunAndWait;

namespace {

const wchar_t kProductSubkey[] = L"SOFTWARE\\Velmora\\stubframework\\HLVN\\77";

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kProductSubkey);
    ASSERT_TRUE(stubframework::utils::GetTempSubfolder(L"HLVN_log", logCopyFolder_));
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

TEST_F(StartupTest, ARunBuildsTheCoreStoresItsValuesAndKeepsACopyOfTheLog) {
  testsupport::ProcessResult result = Run(L"run=1");
  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0u);

  std::wstring language, status;
  ASSERT_TRUE(ReadStringValue(HKEY_CURRENT_USER, kProductSubkey, L"install_language", language));
  EXPECT_EQ(language, L"English");
  ASSERT_TRUE(ReadStringValue(HKEY_CURRENT_USER, kProductSubkey, L"status", status));

  std::string log = LogCopy();
  ASSERT_FALSE(log.empty());
  EXPECT_TRUE(std::regex_search(log, std::regex(R"(^\[\d{8} \d\d:\d\d:\d\d [ \d]{2}\d (TRACE|ERROR|DEBUG)\] )")));
  if (log.find("load resource success") == std::string::npos) {
    // Without the UI package the run ends in ERROR and dumps the property store.
    EXPECT_EQ(status, L"2");
    EXPECT_NE(log.find("DEBUG] Property lang: en\r\n\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("DEBUG] Property osbits: "), std::string::npos);
    EXPECT_NE(log.find("DEBUG] Property uninstallOption: \r\n\r\n"), std::string::npos);
  } else {
    // No HTML engine under Wine: the window is never shown and the start-up status stays.
    EXPECT_EQ(status, L"4");
  }
}

TEST_F(StartupTest, APendingSelfUpdateEndsTheProcessWith197800) {
  ASSERT_TRUE(stubframework::utils::WriteRegistryString(
      L"HKEY_CURRENT_USER\\SOFTWARE\\Velmora\\stubframework\\HLVN\\77", L"selfupdate_code", L"197800", false));
  testsupport::ProcessResult result = Run(L"run=1");
  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 197800u);
}

TEST_F(StartupTest, ASecondInstanceRestoresTheFirstWindowAndEndsAtOnce) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, L"VelmoraStubFramework");
  ASSERT_NE(mutex, nullptr);
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
  CloseHandle(mutex);
}
