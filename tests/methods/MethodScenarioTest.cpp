// Script scenarios that need files made on the Linux side or set up by the test itself. Each runs
// tests/methods/hosted/<name>.js in script_host.exe, or in a signed copy of it, after a prelude
// that defines the scenario's variables.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "core/CommonFolders.h"
#include "core/TextFormat.h"
#include "core/UniqueHandle.h"
#include "support/TestCore.h"
#include "support/TestSupport.h"

namespace {

using Variables = std::vector<std::pair<std::string, std::wstring>>;

std::string ScriptString(const std::wstring& text) {
  std::string quoted = "\"";
  for (char c : stubframework::utils::WideToUtf8(text)) {
    if (c == '\\' || c == '"') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

class MethodScenarioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fixtures_ = testsupport::EnvironmentFolder(L"HALVERN_METHOD_FIXTURES");
    source_ = testsupport::SourceFolder();
    ASSERT_FALSE(fixtures_.empty()) << "HALVERN_METHOD_FIXTURES is not set";
    ASSERT_FALSE(source_.empty()) << "HALVERN_SOURCE_DIR is not set";
  }

  // The exit code of the scenario: 0 when every check in it passed.
  DWORD Run(const wchar_t* scenario, const Variables& variables, std::wstring host = L"",
            const std::wstring& arguments = L"") {
    std::string prelude;
    for (const auto& variable : variables)
      prelude += "var " + variable.first + " = " + ScriptString(variable.second) + ";\n";
    std::wstring preludePath = scratch_.File(L"prelude.js");
    EXPECT_TRUE(testsupport::WriteFileBytes(preludePath, prelude));
    if (host.empty()) host = testsupport::ProgramFolder() + L"script_host.exe";
    std::wstring commandLine = L"\"" + host + L"\" run=1 " + arguments + L" \"" + source_ +
                               L"tests\\scripthost\\testlib.js\" \"" + preludePath + L"\" \"" + source_ +
                               L"tests\\methods\\hosted\\" + scenario + L".js\"";
    testsupport::ProcessResult result = testsupport::RunAndWait(host, commandLine, 60000);
    EXPECT_TRUE(result.finished) << "scenario " << stubframework::utils::WideToUtf8(scenario);
    return result.exitCode;
  }

  testsupport::ScratchFolder scratch_;
  std::wstring fixtures_;
  std::wstring source_;
};

TEST_F(MethodScenarioTest, SizesAndCrcsOfLargeAndOpenFiles) {
  const std::string content = "hello world";
  std::wstring closed = scratch_.File(L"closed.txt");
  ASSERT_TRUE(testsupport::WriteFileBytes(closed, content));
  // Held open the way a download in progress holds its file.
  std::wstring open = scratch_.File(L"open.txt");
  stubframework::utils::FileHandle writer(CreateFileW(open.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                      nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(writer.Valid());
  DWORD written = 0;
  WriteFile(writer.Get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);

  EXPECT_EQ(Run(L"file_sizes", {{"big", fixtures_ + L"big.bin"}, {"open", open}, {"closed", closed}}), 0u);
}

TEST_F(MethodScenarioTest, InstallerPackageVersion) {
  EXPECT_EQ(Run(L"package_version", {{"msi", fixtures_ + L"probe.msi"},
                                     {"text", fixtures_ + L"plain.txt"},
                                     {"missing", fixtures_ + L"missing.msi"}}),
            0u);
}

TEST_F(MethodScenarioTest, RegistryDwordsReadAsSignedDecimals) {
  const wchar_t subkey[] = L"Software\\HalvernDwordTest";
  DWORD minusOne = 0xFFFFFFFF, seven = 7;
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, subkey, L"MinusOne", REG_DWORD, &minusOne, sizeof(DWORD)),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, subkey, L"Seven", REG_DWORD, &seven, sizeof(DWORD)), ERROR_SUCCESS);
  EXPECT_EQ(Run(L"registry_dword", {{"key", std::wstring(L"HKEY_CURRENT_USER\\") + subkey}}), 0u);
  testsupport::DeleteKeyTree(HKEY_CURRENT_USER, subkey);
}

// The pages download into getTempPath: the user's environment names the temporary directory, so the
// answer is the stub's own download folder, which only administrators may write, wherever TMP
// points.
TEST_F(MethodScenarioTest, TempPathIsTheProtectedDownloadFolderWhateverTheEnvironmentSays) {
  wchar_t savedTmp[MAX_PATH] = {}, savedTemp[MAX_PATH] = {};
  GetEnvironmentVariableW(L"TMP", savedTmp, MAX_PATH);
  GetEnvironmentVariableW(L"TEMP", savedTemp, MAX_PATH);
  SetEnvironmentVariableW(L"TMP", scratch_.Path().c_str());
  SetEnvironmentVariableW(L"TEMP", scratch_.Path().c_str());
  const std::wstring expected =
      stubframework::utils::PublisherFolderPath() + L"Downloads\\" + testsupport::kProductCode + L"\\";
  EXPECT_EQ(Run(L"temp_path", {{"expected", expected}}), 0u);
  SetEnvironmentVariableW(L"TMP", savedTmp);
  SetEnvironmentVariableW(L"TEMP", savedTemp);
  EXPECT_TRUE(testsupport::PathExists(expected));
  EXPECT_FALSE(testsupport::PathExists(scratch_.File(testsupport::kProductCode)));
}

// getEmbeddedDataFromCurrentExe reads the running executable: each case runs a signed copy of the
// test host carrying a different text after its certificate.
TEST_F(MethodScenarioTest, EmbeddedDataOfTheRunningExecutable) {
  struct Case {
    const wchar_t* host;
    int length;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {L"host-signed.exe", 5, L""},              // signed, nothing after the certificate
      {L"host-tail-abc.exe", 5, L""},            // three characters, five asked for
      {L"host-tail-abc.exe", 3, L"abc"},
      {L"host-tail-hello.exe", 5, L"Hello"},     // exactly as long as asked
      {L"host-tail-long.exe", 5, L"Hello"},      // the first characters of a longer text
      {L"host-tail-long.exe", 0, L""},
      {L"host-tail-utf8.exe", 5, L"Gr\u00fc\u00dfe"},
      {L"host-tail-huge.exe", 5, L""},           // more than 100000 bytes after the certificate
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(stubframework::utils::WideToUtf8(c.host) + " " + std::to_string(c.length));
    EXPECT_EQ(Run(L"embedded_data", {{"asked", std::to_wstring(c.length)}, {"expected", c.expected}},
                  fixtures_ + c.host),
              0u);
  }
}

}  // namespace
