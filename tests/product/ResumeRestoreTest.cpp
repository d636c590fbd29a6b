// Extraction folders recorded before a reboot name folders of an earlier run, which went with its
// working root, and any program of the user can write the record: a resumed run logs and refuses
// every one of them, nothing named there is run from, and every start removes the record.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "core/Registry.h"
#include "core/UniqueHandle.h"
#include "support/TestCore.h"
#include "support/TestSupport.h"

namespace {

const std::wstring kFoldersKey = testsupport::kProductRegistryKey + L"\\ResumeRecord\\ExtractFolders";
const std::wstring kFoldersSubkey = testsupport::kProductSubkey + L"\\ResumeRecord\\ExtractFolders";

class ResumeRestoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::DeleteKeyTree(HKEY_CURRENT_USER, testsupport::kProductSubkey);
    ASSERT_TRUE(CreateDirectoryW(extraction_.File(L"setup").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(outside_.File(L"sub").c_str(), nullptr));
    ASSERT_TRUE(testsupport::MakeFolderLink(outside_.Path(), extraction_.File(L"link")));
    // Written by the user's own programs as much as by the stub: the first two as the stub writes them.
    const std::pair<std::wstring, std::wstring> values[] = {
        {L"C:\\downloads\\pkg.zip__ZIP_Unzip_Folder__", extraction_.Path()},
        {L"C:\\downloads\\pkg.zip__ZIP_EXE_Path__", extraction_.File(L"setup\\")},
        {L"C:\\downloads\\foreign.zip__ZIP_Unzip_Folder__", L"C:\\extracted\\1234"},
        {L"C:\\downloads\\foreign.zip__ZIP_EXE_Path__", L""},
        {L"C:\\downloads\\linked.zip__ZIP_Unzip_Folder__", extraction_.File(L"link\\")},
        {L"C:\\downloads\\linked.zip__ZIP_EXE_Path__", extraction_.File(L"link\\sub\\")},
        {L"C:\\downloads\\climbing.zip__ZIP_EXE_Path__", extraction_.File(L"setup\\..\\..\\")},
        {L"isDownloadOnly", extraction_.Path()},
    };
    for (const auto& value : values) values_.push_back(value);
    std::wstring source = testsupport::SourceFolder();
    ASSERT_FALSE(source.empty());
    library_ = source + L"tests\\scripthost\\testlib.js";
    script_ = scratch_.File(L"resume.js");
  }
  void TearDown() override {
    testsupport::RemoveFolderLink(extraction_.File(L"link"));
    testsupport::DeleteKeyTree(HKEY_CURRENT_USER, testsupport::kProductSubkey);
  }

  void WriteRecord() {
    for (const auto& value : values_)
      ASSERT_TRUE(stubframework::utils::WriteRegistryString(kFoldersKey, value.first, value.second, false));
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
    stubframework::utils::RegistryKey key;
    return RegOpenKeyExW(HKEY_CURRENT_USER, kFoldersSubkey.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, key.Out()) ==
           ERROR_SUCCESS;
  }

  // The script names these folders in its own text: JScript strings need doubled backslashes.
  static std::string Quoted(const std::wstring& text) {
    std::string quoted = "'";
    for (wchar_t c : text) quoted += c == L'\\' ? std::string("\\\\") : std::string(1, static_cast<char>(c));
    return quoted + "'";
  }
  std::string ExpectProperties(bool restored) {
    std::string script;
    const std::pair<const char*, std::wstring> expected[] = {
        {"pkg.zip__ZIP_Unzip_Folder__", restored ? extraction_.Path() : L""},
        {"pkg.zip__ZIP_EXE_Path__", restored ? extraction_.File(L"setup\\") : L""},
        {"foreign.zip__ZIP_Unzip_Folder__", L""},
        {"foreign.zip__ZIP_EXE_Path__", L""},
        {"linked.zip__ZIP_Unzip_Folder__", L""},
        {"linked.zip__ZIP_EXE_Path__", L""},
        {"climbing.zip__ZIP_EXE_Path__", L""},
    };
    for (const auto& e : expected)
      script += std::string("checkEqual(window.external.getProperty('C:\\\\downloads\\\\") + e.first + "'), " +
                Quoted(e.second) + ", '" + e.first + "');\n";
    return script + "checkEqual(window.external.getProperty('isDownloadOnly'), '', 'isDownloadOnly');\nfinish();\n";
  }

  testsupport::ScratchFolder scratch_;
  testsupport::ScratchFolder extraction_;
  testsupport::ScratchFolder outside_;
  std::wstring library_;
  std::wstring script_;
  std::vector<std::pair<std::wstring, std::wstring>> values_;
};

}  // namespace

TEST_F(ResumeRestoreTest, NoStartRestoresAFolderAndEveryStartRemovesTheRecord) {
  for (const wchar_t* resume : {L"RESUME=INSTALLING", L"RESUME=INSTALLINGX"}) {
    WriteRecord();
    std::string logged = std::wstring(resume) == L"RESUME=INSTALLING"
                             ? "check(host.logText().indexOf('Resume record refused: C:\\\\downloads\\\\pkg.zip__ZIP_Unzip_Folder__') >= 0, 'refusal logged');\n"
                             : "";
    EXPECT_EQ(RunScript(logged + ExpectProperties(false), resume), 0u) << resume;
    EXPECT_FALSE(RecordExists()) << resume;
  }
}

// The continuation after a restart extracts the package anew: a setup program in a recorded folder
// is never run, here where the archive itself is gone.
TEST_F(ResumeRestoreTest, AResumedZipInstallNeverRunsSetupFromARecordedFolder) {
  wchar_t system[MAX_PATH] = {};
  ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
  ASSERT_TRUE(CopyFileW((std::wstring(system) + L"\\hostname.exe").c_str(),
                        extraction_.File(L"setup\\setup.exe").c_str(), FALSE));
  WriteRecord();
  EXPECT_EQ(RunScript("window.external.setProperty('__Extract_In_Download__', 'true');\n"
                      "window.external.install('C:\\\\downloads\\\\pkg.zip', '', 0, function (result) {\n"
                      "  if (result === 10) return;\n"
                      "  checkEqual(result, 2, 'no archive to extract');\n"
                      "  check(host.logText().indexOf('setup.exe') < 0, 'nothing run from the recorded folder');\n"
                      "  finish();\n"
                      "});\n",
                      L"RESUME=INSTALLING"),
            0u);
}
