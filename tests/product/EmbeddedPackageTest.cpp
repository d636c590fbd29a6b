// The UI package appended to HalvernSetup.exe: extracted by the real stub under Wine, still found
// after the file is signed (osslsigncode at test time), missing from the bare linked image.
#include <gtest/gtest.h>

#include <regex>

#include "core/EmbeddedPackage.h"
#include "core/WorkingFolders.h"
#include "core/ZipReader.h"
#include "support/TestSupport.h"
#include "support/ZipTestFiles.h"

using namespace testsupport;

namespace {

const wchar_t kProductSubkey[] = L"SOFTWARE\\Velmora\\stubframework\\HLVN\\77";

class EmbeddedPackageTest : public ::testing::Test {
 protected:
  void SetUp() override { DeleteKeyTree(HKEY_CURRENT_USER, kProductSubkey); }
  void TearDown() override { DeleteKeyTree(HKEY_CURRENT_USER, kProductSubkey); }

  // Runs a stub with run=1 and returns the copy of its log in %TEMP%\HLVN_log.
  std::string RunAndReadLog(const std::wstring& program) {
    std::wstring logs;
    EXPECT_TRUE(stubframework::utils::GetTempSubfolder(L"HLVN_log", logs));
    stubframework::utils::DeleteFolderTree(logs);
    ProcessResult result = RunAndWait(program, L"\"" + program + L"\" run=1", 60000);
    EXPECT_TRUE(result.finished && result.exitCode == 0);
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((logs + L"installer_log_*.txt").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return std::string();
    FindClose(find);
    return ReadFileBytes(logs + data.cFileName);
  }

  const std::wstring stub_ = ProgramFolder() + L"HalvernSetup.exe";
};

// The folder named by the start-up's success line, or empty.
std::wstring ExtractionFolder(const std::string& log) {
  std::smatch match;
  if (!std::regex_search(log, match, std::regex(R"(DEBUG\] load resource success, temporary folder path : (.*)\r\n)")))
    return std::wstring();
  std::string folder = match[1];
  return std::wstring(folder.begin(), folder.end());
}

}  // namespace

TEST_F(EmbeddedPackageTest, TheStubExtractsItsPackageIntoAFreshFolderAndRemovesItAtTheEnd) {
  std::string log = RunAndReadLog(stub_);
  size_t start = log.find("DEBUG] Load Resource from pe.\r\n");
  ASSERT_NE(start, std::string::npos) << log;
  EXPECT_GT(log.find("DEBUG] Load Resource from pe finished.\r\n"), start);

  std::wstring folder = ExtractionFolder(log);
  ASSERT_FALSE(folder.empty()) << log;
  // Extracted into the run's working root, where only administrators write.
  wchar_t windows[MAX_PATH] = {};
  GetSystemWindowsDirectoryW(windows, MAX_PATH);
  std::wstring root = std::wstring(windows) + L"\\Temp\\stub-";
  EXPECT_EQ(_wcsnicmp(folder.c_str(), root.c_str(), root.size()), 0) << folder;
  EXPECT_EQ(folder.back(), L'\\');  // the same text becomes "resourceLocation"
  EXPECT_FALSE(PathExists(folder));
}

TEST_F(EmbeddedPackageTest, SignedCopiesStillCarryThePackage) {
  ASSERT_FALSE(ZipFixture(L"HalvernSetup-signed.exe").empty()) << "HALVERN_ZIP_FIXTURES is not set";
  // Certificate tables of about 1.5 KB and about 30000 bytes follow the archive.
  for (const wchar_t* name : {L"HalvernSetup-signed.exe", L"HalvernSetup-signed-30k.exe"}) {
    ScratchFolder folder;
    ASSERT_TRUE(stubframework::core::LoadPackageFromFile(nullptr, ZipFixture(name), folder.Path())) << name;
    EXPECT_NE(ReadFileBytes(folder.File(L"Load.html")).find("<html"), std::string::npos) << name;
  }
  EXPECT_FALSE(ExtractionFolder(RunAndReadLog(ZipFixture(L"HalvernSetup-signed.exe"))).empty());
}

TEST_F(EmbeddedPackageTest, TheBareImageFailsToLoadAndTheRunEndsInError) {
  HANDLE file = CreateFileW(stub_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  LARGE_INTEGER size = {};
  GetFileSizeEx(file, &size);
  stubframework::zip::FileSource source(file, nullptr);
  stubframework::zip::ZipReader reader;
  bool opened = reader.Open(&source, size.QuadPart);
  CloseHandle(file);
  ASSERT_TRUE(opened);
  ScratchFolder folder;
  std::wstring bare = folder.File(L"HalvernSetup.exe");
  ASSERT_TRUE(WriteFileBytes(bare, ReadFileBytes(stub_).substr(0, reader.StartOffset())));

  std::string log = RunAndReadLog(bare);
  EXPECT_NE(log.find("DEBUG] Load Resource from pe.\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("ERROR] Load Resource from pe failed.\r\n"), std::string::npos) << log;
  EXPECT_TRUE(ExtractionFolder(log).empty());
  std::wstring status;
  ASSERT_TRUE(ReadStringValue(HKEY_CURRENT_USER, kProductSubkey, L"status", status));
  EXPECT_EQ(status, L"2");
}
