// Extraction folders recorded before a reboot reach the property store of a resumed run before
// the page starts; every start removes the record.
#include <gtest/gtest.h>

#include "core/Registry.h"
#include "support/TestSupport.h"

namespace {

const wchar_t kFoldersKey[] =
    L"HKEY_CURRENT_USER\\SOFTWARE\\Velmora\\stubframework\\HLVN\\77\\ResumeRecord\\ExtractFolders";
const wchar_t kFoldersSubkey[] = L"SOFTWARE\\Velmora\\stubframework\\HLVN\\77\\ResumeRecord\\ExtractFolders";
const wchar_t kArchiveEntry[] = L"C:\\downloads\\pkg.zip__ZIP_Unzip_Folder__";

class ResumeRestoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::DeleteKeyTree(HKEY_CURRENT_USER, L"SOFTWARE\\Velmora\\stubframework\\HLVN\\77");
    ASSERT_TRUE(stubframework::utils::WriteRegistryString(kFoldersKey, kArchiveEntry, L"C:\\extracted\\1234", false));
    std::wstring source = _wgetenv(L"HALVERN_SOURCE_DIR") ? _wgetenv(L"HALVERN_SOURCE_DIR") : L"";
    ASSERT_FALSE(source.empty());
    for (wchar_t& c : source)
      if (c == L'/') c = L'\\';
    library_ = L"Z:" + source + L"\\tests\\scripthost\\testlib.js";
    script_ = scratch_.File(L"resume.js");
  }
  void TearDown() override {
    testsupport::DeleteKeyTree(HKEY_CURRENT_USER, L"SOFTWARE\\Velmora\\stubframework\\HLVN\\77");
  }

  DWORD RunScript(const std::string& text, const std::wstring& arguments) {
    EXPECT_TRUE(testsupport::WriteFileBytes(script_, text));
    std::wstring host = testsupport::ProgramFolder() + L"script_host.exe";
    testsupport::ProcessResult result = testsupport::RunAndWait(
        host, L"\"" + host + L"\" run=1 " + arguments + L" \"" + library_ + L"\" \"" + script_ + L"\"", 60000);
    EXPECT_TRUE(result.finished);
    return result.exitCode;
  }

  bool RecordExists() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kFoldersSubkey, 0, KEY_READ | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS)
      return false;
    RegCloseKey(key);
    return true;
  }

  testsupport::ScratchFolder scratch_;
  std::wstring library_;
  std::wstring script_;
};

}  // namespace

TEST_F(ResumeRestoreTest, AResumedInstallRestoresTheFoldersAndRemovesTheRecord) {
  EXPECT_EQ(RunScript("checkEqual(window.external.getProperty('C:\\\\downloads\\\\pkg.zip__ZIP_Unzip_Folder__'),"
                      " 'C:\\\\extracted\\\\1234', 'restored folder');\nfinish();\n",
                      L"RESUME=INSTALLING"),
            0u);
  EXPECT_FALSE(RecordExists());
}

TEST_F(ResumeRestoreTest, AStartWithoutResumeRemovesTheRecordAndRestoresNothing) {
  EXPECT_EQ(RunScript("checkEqual(window.external.getProperty('C:\\\\downloads\\\\pkg.zip__ZIP_Unzip_Folder__'),"
                      " '', 'nothing restored');\nfinish();\n",
                      L"RESUME=INSTALLINGX"),
            0u);
  EXPECT_FALSE(RecordExists());
}
