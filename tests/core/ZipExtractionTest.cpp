// Extraction into folders, with archives made by Python's zipfile and the zip tool at test time
// (tests/support/zip-fixtures.py) and hand-built ones for names no tool writes.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <utility>
#include <vector>

#include "core/ComRef.h"
#include "core/FrameworkCore.h"
#include "core/UniqueHandle.h"
#include "core/WorkingFolders.h"
#include "core/ZipExtraction.h"
#include "support/TestCore.h"
#include "support/TestSupport.h"
#include "support/ZipTestFiles.h"

using namespace stubframework::zip;
using namespace testsupport;
using stubframework::core::HtmlExternal;
using stubframework::core::StubParameters;
using stubframework::utils::ComRef;
using stubframework::utils::DeleteFolderTree;
using stubframework::utils::FileHandle;

namespace {

class RecordingReporter : public ZipReporter {
 public:
  void OnProgress(DWORD current, DWORD total) override { progress.emplace_back(current, total); }
  void OnError(DWORD) override {}
  std::vector<std::pair<DWORD, DWORD>> progress;
};

bool Extract(const std::wstring& archive, const std::wstring& destination, ZipReporter* reporter = nullptr) {
  FileHandle file(CreateFileW(archive.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  return file.Valid() && ExtractZipFromHandle(file.Get(), destination, reporter);
}

class ZipExtraction : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(ZipFixture(L"fifty.zip").empty()) << "HALVERN_ZIP_FIXTURES is not set";
  }
  // A fresh destination folder name.
  std::wstring Destination() { return scratch_.File(L"out" + std::to_wstring(++count_) + L"\\"); }
  bool ExtractBuilt(const std::string& zip, const std::wstring& destination) {
    std::wstring path = scratch_.File(L"built.zip");
    return WriteFileBytes(path, zip) && Extract(path, destination);
  }
  ScratchFolder scratch_;
  int count_ = 0;
};

}  // namespace

TEST_F(ZipExtraction, FoldersComeFromDirectoryEntriesOrFileNamesAndFilesAreOverwritten) {
  std::wstring out = Destination();
  ASSERT_TRUE(SHCreateDirectoryExW(nullptr, (out + L"a").c_str(), nullptr) == ERROR_SUCCESS);
  ASSERT_TRUE(WriteFileBytes(out + L"a\\b.txt", std::string(10000, '#')));
  ASSERT_TRUE(Extract(ZipFixture(L"dir-then-file.zip"), out));
  EXPECT_EQ(ReadFileBytes(out + L"a\\b.txt"), "inside a");

  ASSERT_TRUE(Extract(ZipFixture(L"no-dir-entry.zip"), out));
  EXPECT_EQ(ReadFileBytes(out + L"x\\y\\z.txt"), "deep");

  // A folder by its name's "/", by the MS-DOS attribute, or for an entry made on Unix (host 3)
  // by the file type of the mode in the attributes' high half.
  const struct {
    RawZipEntry entry;
    bool folder;
  } kinds[] = {
      {{"dos-folder", "", 0, 0, FILE_ATTRIBUTE_DIRECTORY}, true},
      {{"unix-file", "", 0, 0, 0x81FDFFFF, 0x031E}, false},  // mode 100775, every MS-DOS bit set
      {{"unix-folder", "", 0, 0, 0x41ED0000, 0x031E}, true},
      {{"unix-slash/", "", 0, 0, 0x81A40000, 0x031E}, true},
      {{"unix-no-type", "", 0, 0, FILE_ATTRIBUTE_DIRECTORY, 0x031E}, true},
      {{"other-host", "", 0, 0, 0x41ED0000, 0x0A14}, false},
  };
  for (const auto& kind : kinds) {
    std::string name = kind.entry.name.substr(0, kind.entry.name.find('/'));
    std::wstring path = out + std::wstring(name.begin(), name.end());
    ASSERT_TRUE(ExtractBuilt(BuildZip({kind.entry}), out)) << name;
    DWORD attributes = GetFileAttributesW(path.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << name;
    EXPECT_EQ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0, kind.folder) << name;
  }

  // Behind an image: offsets from the archive's start with a 65535-byte comment, or from the
  // start of the file.
  ASSERT_TRUE(Extract(ZipFixture(L"exe-with-comment.exe"), out));
  EXPECT_EQ(ReadFileBytes(out + L"css\\site.css"), "p{}");
  ASSERT_TRUE(Extract(ZipFixture(L"exe-absolute-offsets.exe"), out));
  EXPECT_EQ(ReadFileBytes(out + L"page.html"), "<p>absolute</p>");
}

TEST_F(ZipExtraction, Zip64ArchivesExtractWhereverTheirRecordsPlaceTheEntries) {
  // zipfile's ZIP64 fields for every size and offset, alone and behind an image.
  for (const wchar_t* name : {L"zip64.zip", L"exe-zip64.exe"}) {
    std::wstring out = Destination();
    ASSERT_TRUE(Extract(ZipFixture(name), out)) << name;
    EXPECT_EQ(ReadFileBytes(out + L"first.txt").size(), 2400u) << name;
    EXPECT_EQ(ReadFileBytes(out + L"d\\second.txt"), "second") << name;
  }
  // An entry and the directory 5 GiB into a sparse file.
  std::wstring out = Destination();
  ASSERT_TRUE(Extract(ZipFixture(L"zip64-far.zip"), out));
  EXPECT_EQ(ReadFileBytes(out + L"near.txt"), "at the start");
  EXPECT_EQ(ReadFileBytes(out + L"far.txt"), "5 GiB further");

  // 70,001 entries, more than the end record counts: read, not written out.
  FileHandle file(CreateFileW(ZipFixture(L"zip64-entries.zip").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(file.Valid());
  LARGE_INTEGER size = {};
  GetFileSizeEx(file.Get(), &size);
  FileSource source(file.Get(), nullptr);
  ZipReader reader;
  EXPECT_TRUE(reader.Open(&source, size.QuadPart));
  ASSERT_EQ(reader.EntryCount(), 70001u);
  StringSink sink;
  EXPECT_TRUE(reader.Extract(70000, sink));
  EXPECT_EQ(sink.text, "entry 70001");
}

TEST_F(ZipExtraction, ProgressComesBeforeEachEntryAndOnceAtTheEnd) {
  RecordingReporter reporter;
  ASSERT_TRUE(Extract(ZipFixture(L"fifty.zip"), Destination(), &reporter));
  ASSERT_EQ(reporter.progress.size(), 51u);
  for (DWORD i = 0; i <= 50; ++i) EXPECT_EQ(reporter.progress[i], std::make_pair(i, 50ul));

  StubParameters parameters;
  ComRef<HtmlExternal> external(new HtmlExternal(&parameters));
  ASSERT_TRUE(Extract(ZipFixture(L"fifty.zip"), Destination(), external.Get()));
  EXPECT_EQ(external->GetInstallCurrent(), 5);
  EXPECT_EQ(external->GetInstallTotal(), 50);
}

TEST_F(ZipExtraction, DamagedArchivesStopAtTheFailingEntryKeepEarlierOnesAndDeleteIt) {
  std::wstring out = Destination();
  EXPECT_FALSE(Extract(ZipFixture(L"truncated.zip"), out));
  EXPECT_FALSE(PathExists(out + L"one.txt"));
  // A directory holding more records than its end record counts would lose the rest.
  EXPECT_FALSE(Extract(ZipFixture(L"undercounted.zip"), out));
  EXPECT_FALSE(PathExists(out + L"file1.txt"));

  for (const wchar_t* name : {L"corrupt-deflate.zip", L"crc-mismatch.zip"}) {
    out = Destination();
    RecordingReporter reporter;
    EXPECT_FALSE(Extract(ZipFixture(name), out, &reporter)) << name;
    EXPECT_EQ(ReadFileBytes(out + L"first.txt").size(), 2400u) << name;
    EXPECT_FALSE(PathExists(out + L"second.txt")) << name;
    EXPECT_FALSE(PathExists(out + L"third.txt")) << name;
    EXPECT_EQ(reporter.progress.back(), std::make_pair(3ul, 3ul));
  }

  out = Destination();
  EXPECT_FALSE(Extract(ZipFixture(L"encrypted.zip"), out));
  EXPECT_EQ(ReadFileBytes(out + L"plain.txt"), "plain");
  EXPECT_FALSE(PathExists(out + L"secret.txt"));
  EXPECT_FALSE(Extract(ZipFixture(L"bzip2.zip"), out));
  EXPECT_FALSE(PathExists(out + L"packed.txt"));
}

TEST_F(ZipExtraction, NamesLeadingOutsideTheDestinationFailAndWriteNothingThere) {
  const std::pair<const wchar_t*, const wchar_t*> archives[] = {
      {L"escape-parent.zip", L"halvern-escape-parent.txt"},
      {L"escape-nested.zip", L"halvern-escape-nested.txt"},
      {L"escape-inner-dotdot.zip", L"halvern-escape-inner.txt"},
      {L"escape-backslash.zip", L"halvern-escape-backslash.txt"},
      {L"escape-drive.zip", L"halvern-escape-drive.txt"},
      {L"escape-drive-relative.zip", L"halvern-escape-drive-relative.txt"},
      {L"escape-rooted.zip", L"halvern-escape-rooted.txt"},
      {L"escape-unc.zip", L"halvern-escape-unc.txt"},
  };
  wchar_t current[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, current);
  for (const auto& archive : archives) {
    std::wstring out = Destination();
    EXPECT_FALSE(Extract(ZipFixture(archive.first), out)) << archive.first;
    EXPECT_EQ(ReadFileBytes(out + L"ok.txt"), "ok") << archive.first;
    for (const std::wstring& folder : {out, scratch_.Path(), std::wstring(L"C:\\"), std::wstring(current) + L"\\"})
      EXPECT_FALSE(PathExists(folder + archive.second)) << archive.first;
  }
}

TEST_F(ZipExtraction, DeviceStreamDotAndOverlongNamesAreRefusedButLookAlikesAreNot) {
  const std::string refused[] = {
      "CON", "sub/aux.txt", "NUL.log", "com1", "LPT9.txt", "CONOUT$", "file.txt:stream", "a/.../b.txt",
      "a/.. /b.txt", std::string("a\0/../../x.txt", 14), std::string(300, 'n'), "", "\\\\server\\share\\x.txt"};
  for (const std::string& name : refused) {
    std::wstring out = Destination();
    EXPECT_FALSE(ExtractBuilt(BuildZip({{"ok.txt", "ok"}, {name, "bad"}}), out)) << name;
    EXPECT_TRUE(PathExists(out + L"ok.txt")) << name;
  }
  const std::pair<std::string, std::wstring> accepted[] = {
      {"a/./b.txt", L"a\\b.txt"}, {"dir//file.txt", L"dir\\file.txt"}, {"CONSOLE.txt", L"CONSOLE.txt"},
      {"com10.txt", L"com10.txt"}, {"..name.txt", L"..name.txt"}, {"name..txt", L"name..txt"}};
  for (const auto& name : accepted) {
    std::wstring out = Destination();
    EXPECT_TRUE(ExtractBuilt(BuildZip({{name.first, name.first}}), out)) << name.first;
    EXPECT_EQ(ReadFileBytes(out + name.second), name.first);
  }
}

TEST_F(ZipExtraction, NamesAreUtf8WhereTheirFlagSaysSoAndInTheCodePageOtherwise) {
  ASSERT_EQ(GetACP(), 1252u) << "the names without the flag below are chosen for code page 1252";
  std::wstring out = Destination();
  ASSERT_TRUE(Extract(ZipFixture(L"utf8-names.zip"), out));
  EXPECT_EQ(ReadFileBytes(out + L"\u00c4\u00d6\u00dc\u00df\u00e4\u00f6\u00fc.txt"), "umlauts");
  EXPECT_EQ(ReadFileBytes(out + L"caf\u00e9\\men\u00fc.txt"), "menu");

  const struct {
    std::string name;
    uint16_t flags;
    std::wstring extracted;  // empty: the name is refused
  } rows[] = {
      {"\xC3\x84.txt", 0x0800, L"\u00c4.txt"},
      {"\xE2\x98\x83.txt", 0x0800, L"\u2603.txt"},
      {"\xF0\x9F\x93\xA6.txt", 0x0800, L"\U0001F4E6.txt"},
      {"\xC4.txt", 0, L"\u00c4.txt"},
      {"\xC3\x84.txt", 0, L"\u00c3\u201e.txt"},
      {"\xC4.txt", 0x0800, L""},
      {"cut\xC3", 0x0800, L""},
      {"\xC0\xAF..\xC0\xAFoverlong.txt", 0x0800, L""},
      {"\xED\xA0\x80.txt", 0x0800, L""},  // a surrogate
      {"\xF4\x90\x80\x80.txt", 0x0800, L""},  // beyond U+10FFFF
      {"\xFF.txt", 0x0800, L""},
  };
  for (const auto& row : rows) {
    out = Destination();
    bool extracted = ExtractBuilt(BuildZip({{"ok.txt", "ok"}, {row.name, "data", 0, row.flags}}), out);
    EXPECT_EQ(extracted, !row.extracted.empty()) << row.name;
    EXPECT_EQ(ReadFileBytes(out + row.extracted), extracted ? "data" : "") << row.name;
  }
}

namespace {

class UnzipPackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(ZipFixture(L"fifty.zip").empty()) << "HALVERN_ZIP_FIXTURES is not set";
  }
  void TearDown() override {
    if (!extraction_.empty()) DeleteFolderTree(extraction_);
  }
  int Unzip(const std::wstring& package) {
    if (!extraction_.empty()) DeleteFolderTree(extraction_);
    return UnzipPackage(&core_, package, extraction_, setup_);
  }
  bool Logged(const std::wstring& line) {
    std::string log = ReadFileBytes(core_.log->FilePath());
    return log.find(std::string(line.begin(), line.end()) + "\r\n") != std::string::npos;
  }

  testsupport::TestCore test_;
  stubframework::core::FrameworkCore& core_ = test_.core;
  std::wstring extraction_, setup_;
};

}  // namespace

TEST_F(UnzipPackageTest, ExtractsIntoAFreshTemporaryFolderAndFindsSetup) {
  ASSERT_EQ(Unzip(ZipFixture(L"Package.ZIP")), kUnzipNoError);  // upper case is accepted
  EXPECT_TRUE(stubframework::utils::IsRunFolder(extraction_)) << extraction_;
  EXPECT_EQ(setup_, extraction_);
  EXPECT_EQ(core_.external->GetInstallTotal(), 2);

  ASSERT_EQ(Unzip(ZipFixture(L"setup-in-subfolder.zip")), kUnzipNoError);
  EXPECT_EQ(setup_, extraction_ + L"bin\\tools");
  EXPECT_EQ(ReadFileBytes(setup_ + L"\\setup.exe"), "MZ deep setup");
}

TEST_F(UnzipPackageTest, RefusalsAndFailuresGiveTheirCodesAndLogLines) {
  EXPECT_EQ(Unzip(ZipFixture(L"package.zip.exe")), kUnzipFailure);
  EXPECT_TRUE(extraction_.empty());

  EXPECT_EQ(Unzip(ZipFixture(L"no-setup.zip")), kUnzipFileNotExist);
  EXPECT_TRUE(setup_.empty());
  EXPECT_TRUE(Logged(L"Can not find setup.exe, unzip path : " + extraction_));

  std::wstring missing = ZipFixture(L"missing.zip");
  EXPECT_EQ(Unzip(missing), kUnzipFailure);
  EXPECT_TRUE(Logged(L"Unzip failed, package_path: " + missing + L", unzip to: " + extraction_ + L"\r\n"));

  // An error left from an earlier extraction does not turn this failure into "disk full".
  core_.external->lastZipError = ERROR_DISK_FULL;
  ScratchFolder holder;
  ASSERT_TRUE(CopyFileW(ZipFixture(L"crc-mismatch.zip").c_str(), holder.File(L"bad.zip").c_str(), FALSE));
  EXPECT_EQ(Unzip(holder.File(L"bad.zip")), kUnzipFailure);
}

TEST_F(UnzipPackageTest, DeclaredSizesBeyondTheFreeSpaceGiveDiskFullBeforeAnythingIsWritten) {
  // A setup program, then 1000 entries of one deflated byte that each claim 4 GiB: about 4 TB.
  std::vector<RawZipEntry> entries = {{"setup.exe", "MZ setup stand-in"}};
  for (int i = 0; i < 1000; ++i) entries.push_back({"claim" + std::to_string(i) + ".bin", "x", 8});
  std::string zip = BuildZip(entries);
  size_t at = CentralDirectoryAt(zip);
  for (const RawZipEntry& entry : entries) {
    if (entry.method == 8) PutLe32(zip, at + 24, 0xFFFFFFF0u);
    at += 46 + entry.name.size();
  }
  ScratchFolder holder;
  ASSERT_TRUE(WriteFileBytes(holder.File(L"claims.zip"), zip));
  EXPECT_EQ(Unzip(holder.File(L"claims.zip")), kUnzipDiskFull);
  EXPECT_TRUE(Logged(L"Unzip failed, package_path: " + holder.File(L"claims.zip") + L", unzip to: " + extraction_ +
                     L"\r\n"));
  EXPECT_FALSE(PathExists(extraction_ + L"setup.exe"));
}

TEST_F(UnzipPackageTest, RunningOutOfDiskSpaceOnAFullSmallVolumeGivesDiskFull) {
  ASSERT_TRUE(PathExists(L"K:\\halvern-small-volume.txt")) << "no small volume K: (small_volume_setup)";
  std::wstring folder;
  ASSERT_TRUE(stubframework::utils::CreateUniqueFolderIn(L"K:\\temp\\", GetTickCount(), folder));
  extraction_ = folder;
  int result = UnzipPackageInto(&core_, ZipFixture(L"big-zeros.zip"), folder, setup_);
  EXPECT_EQ(result, kUnzipDiskFull);
  EXPECT_EQ(core_.external->lastZipError, static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_FALSE(PathExists(extraction_ + L"payload.bin"));  // the half-written file is deleted
}
