// Adding files to archives in place. The archives left in the fixture folder's "written" folder
// are read back with Python's zipfile by the core_written_zip_check test.
#include <gtest/gtest.h>

#include <vector>

#include "core/UniqueHandle.h"
#include "core/ZipExtraction.h"
#include "core/ZipReader.h"
#include "core/ZipWriter.h"
#include "support/TestSupport.h"
#include "support/ZipTestFiles.h"

using namespace stubframework::zip;
using namespace testsupport;

namespace {

// Names, contents and methods of every entry; ok is false when any of them does not read back.
struct ReadBack {
  std::vector<std::string> names, contents;
  std::vector<uint16_t> methods;
  uint64_t startOffset = 0;
  bool ok = false;
};

ReadBack ReadArchive(const std::wstring& path) {
  ReadBack result;
  stubframework::utils::FileHandle file(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  LARGE_INTEGER size = {};
  GetFileSizeEx(file.Get(), &size);
  FileSource source(file.Get(), nullptr);
  ZipReader reader;
  result.ok = reader.Open(&source, size.QuadPart);
  result.startOffset = reader.StartOffset();
  for (size_t i = 0; result.ok && i < reader.EntryCount(); ++i) {
    StringSink sink;
    result.ok = reader.IsDirectory(i) || reader.Extract(i, sink);
    result.names.push_back(reader.Entry(i).name);
    result.contents.push_back(sink.text);
    result.methods.push_back(reader.Entry(i).method);
  }
  return result;
}

class ZipWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(ZipFixture(L"append-base.zip").empty()) << "HALVERN_ZIP_FIXTURES is not set";
  }
  ScratchFolder scratch_;
};

}  // namespace

TEST_F(ZipWriter, AddingTheSameFileTwiceGivesTwoEntriesThatBothExtract) {
  std::wstring zip = ZipFixture(L"written\\log-twice.zip"), log = scratch_.File(L"log.txt");
  DeleteFileW(zip.c_str());
  std::string second;
  for (int i = 0; i < 50; ++i) second += "second run, longer\r\n";
  ASSERT_TRUE(WriteFileBytes(log, "first run\r\n"));
  ASSERT_TRUE(AddFileToZip(zip, log));
  ASSERT_TRUE(WriteFileBytes(log, second));
  ASSERT_TRUE(AddFileToZip(zip, log));

  ReadBack archive = ReadArchive(zip);
  ASSERT_TRUE(archive.ok);
  EXPECT_EQ(archive.names, (std::vector<std::string>{"log.txt", "log.txt"}));
  EXPECT_EQ(archive.contents, (std::vector<std::string>{"first run\r\n", second}));
  EXPECT_EQ(archive.methods, (std::vector<uint16_t>{0, 8}));  // deflated only where that is smaller
}

TEST_F(ZipWriter, AppendingKeepsTheEntriesTheirOrderAndAnyImageInFront) {
  std::wstring zip = ZipFixture(L"written\\appended.zip");
  ASSERT_TRUE(CopyFileW(ZipFixture(L"append-base.zip").c_str(), zip.c_str(), FALSE));
  ASSERT_TRUE(WriteFileBytes(scratch_.File(L"new.txt"), "appended entry\r\n"));
  ASSERT_TRUE(AddFileToZip(zip, scratch_.File(L"new.txt")));
  ReadBack archive = ReadArchive(zip);
  ASSERT_TRUE(archive.ok);
  EXPECT_EQ(archive.names, (std::vector<std::string>{"page.html", "css/", "new.txt"}));
  EXPECT_EQ(archive.contents[0], "<p>old</p>");

  // A ZIP64 archive keeps its entries' ZIP64 fields and gets an end record without ZIP64.
  zip = ZipFixture(L"written\\appended-zip64.zip");
  ASSERT_TRUE(CopyFileW(ZipFixture(L"zip64.zip").c_str(), zip.c_str(), FALSE));
  ASSERT_TRUE(AddFileToZip(zip, scratch_.File(L"new.txt")));
  archive = ReadArchive(zip);
  ASSERT_TRUE(archive.ok);
  EXPECT_EQ(archive.names, (std::vector<std::string>{"first.txt", "d/", "d/second.txt", "new.txt"}));

  std::wstring stub = ZipFixture(L"written\\appended-stub.exe");
  ASSERT_TRUE(CopyFileW(ZipFixture(L"exe-with-comment.exe").c_str(), stub.c_str(), FALSE));
  std::string image = ReadFileBytes(stub).substr(0, 100000);
  ASSERT_TRUE(AddFileToZip(stub, scratch_.File(L"new.txt")));
  archive = ReadArchive(stub);
  ASSERT_TRUE(archive.ok);
  EXPECT_EQ(archive.startOffset, 100000u);
  EXPECT_EQ(archive.contents.back(), "appended entry\r\n");
  EXPECT_EQ(ReadFileBytes(stub).substr(0, 100000), image);
}

TEST_F(ZipWriter, AppendingAfterADirectoryWithTrailingPaddingWritesOnlyItsRecords) {
  // The end record's directory size counts 8 bytes after the last record.
  std::string padded = BuildZip({{"first.txt", "first entry"}, {"second.txt", "second entry", 8}});
  size_t end = EndRecordAt(padded);
  padded.insert(end, 8, '\0');
  PutLe32(padded, end + 8 + 12, GetLe32(padded, end + 8 + 12) + 8);
  std::wstring zip = ZipFixture(L"written\\padded-directory.zip");
  ASSERT_TRUE(WriteFileBytes(zip, padded));
  ASSERT_TRUE(ReadArchive(zip).ok);
  ASSERT_TRUE(WriteFileBytes(scratch_.File(L"new.txt"), "appended entry\r\n"));
  ASSERT_TRUE(AddFileToZip(zip, scratch_.File(L"new.txt")));
  ReadBack archive = ReadArchive(zip);
  ASSERT_TRUE(archive.ok);
  EXPECT_EQ(archive.names, (std::vector<std::string>{"first.txt", "second.txt", "new.txt"}));
  EXPECT_EQ(archive.contents, (std::vector<std::string>{"first entry", "second entry", "appended entry\r\n"}));
}

TEST_F(ZipWriter, FileNamesOutsideAsciiAreWrittenInUtf8AndExtractUnchanged) {
  // Inside code page 1252, and outside it: a snowman, a-macron.
  const std::pair<std::wstring, std::string> names[] = {{L"r\u00e9sum\u00e9.txt", "r\xC3\xA9sum\xC3\xA9.txt"},
                                                        {L"snow\u2603.txt", "snow\xE2\x98\x83.txt"},
                                                        {L"macron\u0101.txt", "macron\xC4\x81.txt"}};
  std::wstring zip = ZipFixture(L"written\\utf8-names.zip"), out = scratch_.File(L"out\\");
  DeleteFileW(zip.c_str());
  std::vector<std::string> written;
  for (const auto& name : names) {
    ASSERT_TRUE(WriteFileBytes(scratch_.File(name.first), "named"));
    ASSERT_TRUE(AddFileToZip(zip, scratch_.File(name.first)));
    written.push_back(name.second);
  }
  EXPECT_EQ(ReadArchive(zip).names, written);
  {
    stubframework::utils::FileHandle file(
        CreateFileW(zip.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(ExtractZipFromHandle(file.Get(), out, nullptr));
  }
  for (const auto& name : names) EXPECT_EQ(ReadFileBytes(out + name.first), "named");

  // A lone surrogate is no text in any encoding.
  EXPECT_FALSE(AddFileToZip(scratch_.File(L"refused.zip"), scratch_.File(L"lone\xD800.txt")));
  EXPECT_FALSE(PathExists(scratch_.File(L"refused.zip")));
}

TEST_F(ZipWriter, RefusesWhatItCannotAppendToAndLeavesNoFileBehind) {
  // Not an archive; one whose directory holds a record beyond its end record's count, which a
  // directory rewritten from the counted records would lose; one whose entries only a ZIP64 end
  // record counts, which this writer does not write.
  std::wstring notes = scratch_.File(L"notes.zip"), source = scratch_.File(L"source.txt");
  ASSERT_TRUE(WriteFileBytes(notes, "not an archive at all"));
  std::vector<std::wstring> archives = {notes};
  for (const wchar_t* name : {L"undercounted.zip", L"zip64-entries.zip"}) {
    archives.push_back(scratch_.File(name));
    ASSERT_TRUE(CopyFileW(ZipFixture(name).c_str(), archives.back().c_str(), FALSE));
  }
  ASSERT_TRUE(WriteFileBytes(source, "data"));
  for (const std::wstring& zip : archives) {
    std::string before = ReadFileBytes(zip);
    EXPECT_FALSE(AddFileToZip(zip, source)) << zip;
    EXPECT_EQ(ReadFileBytes(zip), before) << zip;
  }

  EXPECT_FALSE(AddFileToZip(scratch_.File(L"missing\\log.zip"), source));
  EXPECT_FALSE(AddFileToZip(scratch_.File(L"fresh.zip"), scratch_.File(L"no-such-source.txt")));
  EXPECT_FALSE(PathExists(scratch_.File(L"fresh.zip")));
  for (const char* name : {"a\\b.txt", "c:x.txt", "/rooted.txt", ""}) {
    EXPECT_FALSE(AddEntryToArchive(scratch_.File(L"named.zip"), name, "x", 1)) << name;
    EXPECT_FALSE(PathExists(scratch_.File(L"named.zip"))) << name;
  }
}

TEST_F(ZipWriter, AFailedAppendOnAFullSmallVolumeLeavesTheArchiveAsItWas) {
  ASSERT_TRUE(PathExists(L"K:\\halvern-small-volume.txt")) << "no small volume K: (small_volume_setup)";
  std::wstring zip = L"K:\\temp\\restore.zip";
  ASSERT_TRUE(CopyFileW(ZipFixture(L"append-base.zip").c_str(), zip.c_str(), FALSE));
  std::string before = ReadFileBytes(zip);
  // 300 KB that deflate cannot shrink: more than the volume has left.
  std::string noise(300000, '\0');
  uint32_t state = 12345;
  for (char& c : noise) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
  ASSERT_TRUE(WriteFileBytes(scratch_.File(L"noise.bin"), noise));
  EXPECT_FALSE(AddFileToZip(zip, scratch_.File(L"noise.bin")));
  EXPECT_EQ(ReadFileBytes(zip), before);
  DeleteFileW(zip.c_str());
}
