// The UI package appended to HalvernSetup.exe: extracted by the real stub under Wine, still found
// after the file is signed (osslsigncode at test time) and only before the certificate table,
// missing from the bare linked image.
#include <gtest/gtest.h>

#include <regex>

#include "core/EmbeddedPackage.h"
#include "core/UniqueHandle.h"
#include "core/WorkingFolders.h"
#include "core/ZipReader.h"
#include "support/TestCore.h"
#include "support/TestSupport.h"
#include "support/ZipTestFiles.h"

using namespace testsupport;

namespace {

using testsupport::kProductSubkey;

class EmbeddedPackageTest : public ::testing::Test {
 protected:
  void SetUp() override { DeleteKeyTree(HKEY_CURRENT_USER, kProductSubkey); }
  void TearDown() override { DeleteKeyTree(HKEY_CURRENT_USER, kProductSubkey); }

  // Runs a stub with run=1 and returns the copy of its log in %TEMP%\HLVN_log.
  std::string RunAndReadLog(const std::wstring& program) {
    std::wstring logs;
    EXPECT_TRUE(stubframework::utils::GetTempSubfolder(testsupport::kLogFolderName, logs));
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

// A PE image's headers up to a data directory of 16 entries, none of them set.
std::string ImageHeaders(bool pe32Plus) {
  std::string image(0x200, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  PutLe32(image, 0x3C, 0x80);
  PutLe32(image, 0x80, 0x4550);
  PutLe16(image, 0x98, pe32Plus ? 0x20B : 0x10B);
  PutLe32(image, 0x98 + (pe32Plus ? 108 : 92), 16);
  return image;
}

// file with its certificate directory entry (data directory 4) set to offset and size.
std::string WithTable(std::string file, uint32_t offset, uint32_t size) {
  size_t entry = 0x98 + (file[0x99] == 2 ? 112 : 96) + 4 * 8;
  PutLe32(file, entry, offset);
  PutLe32(file, entry + 4, size);
  return file;
}

// image and archive padded to eight bytes, as signing pads them, then a certificate table of one
// 1000-byte certificate followed by tail, which the table's size counts.
std::string Signed(const std::string& image, const std::string& archive, const std::string& tail) {
  std::string file = image + archive;
  file.resize((file.size() + 7) & ~size_t{7}, '\0');
  std::string certificate(1000, 'c');
  PutLe32(certificate, 0, 1000);
  PutLe16(certificate, 4, 0x200);
  PutLe16(certificate, 6, 2);
  return WithTable(file, static_cast<uint32_t>(file.size()), static_cast<uint32_t>(1000 + tail.size())) +
         certificate + tail;
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

// Signing covers every byte but the certificate table, so the package must end before the table:
// an archive after the certificate, or anywhere when the directory entry does not describe a
// table inside the file, is never taken for it. Built images stand for each layout; real
// signatures come from osslsigncode.
TEST_F(EmbeddedPackageTest, OnlyAnArchiveBeforeTheCertificateTableIsThePackage) {
  const std::wstring signedStubs = ZipFixture(L""), publisherFiles = EnvironmentFolder(L"HALVERN_METHOD_FIXTURES");
  ASSERT_FALSE(signedStubs.empty()) << "the zip_fixtures fixture sets HALVERN_ZIP_FIXTURES";
  ASSERT_FALSE(publisherFiles.empty()) << "the method_fixtures fixture sets HALVERN_METHOD_FIXTURES";
  ScratchFolder scratch;
  ASSERT_TRUE(stubframework::core::LoadPackageFromFile(nullptr, stub_, scratch.File(L"own\\")));
  const std::string stubPage = ReadFileBytes(scratch.File(L"own\\Load.html"));
  ASSERT_NE(stubPage.find("<html"), std::string::npos);

  const std::string own = BuildZip({{"Load.html", "<html>own</html>"}});
  const std::string planted = BuildZip({{"Load.html", "<html>planted</html>"}, {"planted-marker.txt", "planted"}});
  const std::string image = ImageHeaders(false), signedFile = Signed(image, own, planted);
  const uint32_t archiveEnd = static_cast<uint32_t>(image.size() + own.size());
  const uint32_t table = (archiveEnd + 7) & ~7u, tableSize = static_cast<uint32_t>(signedFile.size()) - table;
  const struct {
    const char* what;
    std::string bytes;  // a built file, or empty for the fixture below
    std::wstring fixture;
    std::string page;   // the extracted Load.html; empty when nothing may load
  } rows[] = {
      {"no certificate table", image + own, L"", "<html>own</html>"},
      {"the table right after the archive", Signed(image, own, ""), L"", "<html>own</html>"},
      {"an archive after the certificate", signedFile, L"", "<html>own</html>"},
      {"the same in a 64-bit image", Signed(ImageHeaders(true), own, planted), L"", "<html>own</html>"},
      {"a ZIP64 package, an archive after the certificate",
       Signed(image, BuildZip({{"Load.html", "<html>own</html>"}}, "", true), planted), L"", "<html>own</html>"},
      {"an archive after the table", Signed(image, own, "") + planted, L"", "<html>own</html>"},
      // The 64 KiB search window ends where the table begins.
      {"100000 bytes after the certificate", Signed(image, own, std::string(100000, 't')), L"", "<html>own</html>"},
      {"an archive only inside the table", Signed(image, "", planted), L"", ""},
      {"an end record running into the table",
       WithTable(signedFile, archiveEnd - 4, tableSize + table - archiveEnd + 4), L"", ""},
      {"a table beyond the end of the file", WithTable(signedFile, static_cast<uint32_t>(signedFile.size()) + 8, 8),
       L"", ""},
      {"a table running past the end of the file", WithTable(signedFile, table, tableSize + 1), L"", ""},
      {"a table shorter than a certificate header", WithTable(signedFile, table, 7), L"", ""},
      {"no PE headers", own, L"", ""},
      {"signed", "", signedStubs + L"HalvernSetup-signed.exe", stubPage},
      {"signed with a table of about 30000 bytes", "", signedStubs + L"HalvernSetup-signed-30k.exe", stubPage},
      {"signed, a package after the certificate", "", publisherFiles + L"stub-planted.exe", stubPage},
      {"the same with its directory entry past the end", "", publisherFiles + L"stub-planted-past-end.exe", ""},
      {"a signed program without a package, one after the certificate", "",
       publisherFiles + L"bootstrapper-planted-64.exe", ""},
  };
  int index = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const std::wstring name = std::to_wstring(++index), folder = scratch.File(name + L"\\");
    std::wstring file = row.fixture;
    if (file.empty()) {
      file = scratch.File(name + L".exe");
      ASSERT_TRUE(WriteFileBytes(file, row.bytes));
    }
    EXPECT_EQ(stubframework::core::LoadPackageFromFile(nullptr, file, folder), !row.page.empty());
    EXPECT_EQ(ReadFileBytes(folder + L"Load.html"), row.page);
    EXPECT_FALSE(PathExists(folder + L"planted-marker.txt"));
  }

  // The signed stub's own start, with a package after the certificate and with a directory entry
  // that describes no table inside the file.
  EXPECT_FALSE(ExtractionFolder(RunAndReadLog(publisherFiles + L"stub-planted.exe")).empty());
  std::string log = RunAndReadLog(publisherFiles + L"stub-planted-past-end.exe");
  EXPECT_NE(log.find("ERROR] Load Resource from pe failed.\r\n"), std::string::npos) << log;
}

TEST_F(EmbeddedPackageTest, TheBareImageFailsToLoadAndTheRunEndsInError) {
  uint64_t startOffset = 0;
  {
    stubframework::utils::FileHandle file(
        CreateFileW(stub_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size = {};
    GetFileSizeEx(file.Get(), &size);
    stubframework::zip::FileSource source(file.Get(), nullptr);
    stubframework::zip::ZipReader reader;
    ASSERT_TRUE(reader.Open(&source, size.QuadPart));
    startOffset = reader.StartOffset();
  }
  ScratchFolder folder;
  std::wstring bare = folder.File(L"HalvernSetup.exe");
  ASSERT_TRUE(WriteFileBytes(bare, ReadFileBytes(stub_).substr(0, startOffset)));

  std::string log = RunAndReadLog(bare);
  EXPECT_NE(log.find("DEBUG] Load Resource from pe.\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("ERROR] Load Resource from pe failed.\r\n"), std::string::npos) << log;
  EXPECT_TRUE(ExtractionFolder(log).empty());
  std::wstring status;
  ASSERT_TRUE(ReadStringValue(HKEY_CURRENT_USER, kProductSubkey, L"status", status));
  EXPECT_EQ(status, L"2");
}
