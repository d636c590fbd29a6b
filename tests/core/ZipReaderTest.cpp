// The archive reader on archives built byte by byte: where it finds the end record, where it
// places an archive inside a larger file, and which damaged or unsupported layouts it refuses.
#include <gtest/gtest.h>

#include <cstring>

#include "core/ZipReader.h"
#include "support/ZipTestFiles.h"

using namespace stubframework::zip;
using namespace testsupport;

namespace {

class MemorySource : public ZipSource {
 public:
  explicit MemorySource(const std::string& bytes) : bytes_(bytes) {}
  uint32_t Read(uint64_t offset, void* buffer, uint32_t length) override {
    if (offset >= bytes_.size()) return 0;
    uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(length, bytes_.size() - offset));
    memcpy(buffer, bytes_.data() + offset, count);
    return count;
  }

 private:
  const std::string& bytes_;
};

struct Opened {
  std::string bytes;
  MemorySource source{bytes};
  ZipReader reader;
  bool ok;
  explicit Opened(std::string data) : bytes(std::move(data)) { ok = reader.Open(&source, bytes.size()); }
  // The entry's bytes, or "<failed>".
  std::string Extract(size_t index, StringSink sink = StringSink()) {
    return reader.Extract(index, sink) ? sink.text : "<failed>";
  }
};

// The central records of a BuildZip result, in directory order.
std::vector<std::string> CentralRecords(const std::string& zip) {
  std::vector<std::string> records;
  for (size_t at = CentralDirectoryAt(zip); at < EndRecordAt(zip);) {
    size_t size = 46 + (GetLe32(zip, at + 28) & 0xFFFF) + (GetLe32(zip, at + 30) & 0xFFFF) +
                  (GetLe32(zip, at + 32) & 0xFFFF);
    records.push_back(zip.substr(at, size));
    at += size;
  }
  return records;
}

// The entries' data of zip with records as its central directory.
std::string WithRecords(const std::string& zip, const std::vector<std::string>& records) {
  std::string result = zip.substr(0, CentralDirectoryAt(zip));
  for (const std::string& record : records) result += record;
  std::string end = zip.substr(EndRecordAt(zip));
  PutLe16(end, 8, static_cast<uint32_t>(records.size()));
  PutLe16(end, 10, static_cast<uint32_t>(records.size()));
  PutLe32(end, 12, static_cast<uint32_t>(result.size() - CentralDirectoryAt(zip)));
  return result + end;
}

const std::vector<RawZipEntry> kTwo = {{"first.txt", "first entry"}, {"second.txt", "second entry"}};
const std::string kImage = "MZ" + std::string(99998, '\x90');

}  // namespace

TEST(ZipEndRecordSearch, FindsTheArchiveBehindForeignDataUpToTheLongestComment) {
  // 4074 keeps the signature in the last 4096-byte block; 4075, 4076 split it across the first
  // block boundary, 8167, 8168 across the second; 65535 is the longest comment.
  // With ZIP64 the directory ends where the ZIP64 end record begins.
  for (bool zip64 : {false, true}) {
    for (size_t trailing : {0u, 4074u, 4075u, 4076u, 8167u, 8168u, 30000u, 65535u}) {
      Opened zip(kImage + BuildZip(kTwo, "", zip64) + std::string(trailing, 'x'));
      ASSERT_TRUE(zip.ok) << trailing << " " << zip64;
      EXPECT_EQ(zip.reader.StartOffset(), kImage.size());
      EXPECT_EQ(zip.Extract(1), "second entry") << trailing << " " << zip64;
    }
  }
  EXPECT_FALSE(Opened(kImage + BuildZip(kTwo) + std::string(70000, 'x')).ok);
  EXPECT_FALSE(Opened(BuildZip({}).substr(0, 21)).ok);
  EXPECT_TRUE(Opened(BuildZip({})).ok);

  // The last signature with room for a record decides, even when its record is damaged.
  std::string zip = BuildZip(kTwo);
  std::string fake = zip.substr(EndRecordAt(zip));
  PutLe16(fake, 8, 7);
  EXPECT_FALSE(Opened(zip + "padding" + fake).ok);
  EXPECT_TRUE(Opened(zip + std::string("PK\x05\x06", 4) + "0123456789").ok);
}

TEST(ZipCentralDirectory, RefusesInconsistentAndUnsupportedRecords) {
  const std::string good = BuildZip(kTwo);
  const std::string good64 = BuildZip({{"first.txt", "first entry", 8}, {"second.txt", "second entry"}}, "", true);
  const size_t end = EndRecordAt(good), directory = CentralDirectoryAt(good);
  // The ZIP64 end record, its locator, and the first central record's ZIP64 field (after the
  // name "first.txt"): uncompressed size, compressed size, local header offset.
  const size_t record = Zip64RecordAt(good64), locator = record + 56, directory64 = CentralDirectoryAt(good64);
  const size_t field = directory64 + 46 + 9;
  const struct {
    const char* what;
    const std::string& archive;
    size_t offset;
    uint64_t value;
    int width;
  } damages[] = {
      {"entries on this disk differ from the total", good, end + 8, 1, 2},
      {"disk 0 with the directory on disk 1", good, end + 6, 1, 2},
      {"ZIP64 marker on this disk's entry count only", good, end + 8, 0xFFFF, 2},
      {"less than 46 directory bytes per entry", good, end + 12, 60, 4},
      {"directory size plus offset beyond the file", good, end + 12, 0x7FFFFFF0, 4},
      {"directory offset beyond its position", good, end + 16, static_cast<uint32_t>(directory + 1), 4},
      {"central header signature", good, directory, 0x02014B51, 4},
      {"name running past the directory", good, directory + 28, 0x4000, 2},
      {"local header inside the directory", good, directory + 42, static_cast<uint32_t>(directory), 4},
      {"ZIP64 marker for the compressed size, no ZIP64 field", good, directory + 20, 0xFFFFFFFF, 4},
      {"stored sizes that differ", good, directory + 24, 3, 4},
      {"entry on another disk", good, directory + 34, 1, 2},
      {"ZIP64 locator pointing outside the file", good64, locator + 8, 0x7FFFFFF0, 4},
      {"ZIP64 locator pointing elsewhere in the file", good64, locator + 8, static_cast<uint32_t>(record - 1), 4},
      {"ZIP64 locator counting two disks", good64, locator + 16, 2, 4},
      {"ZIP64 end record signature", good64, record, 0x06064B51, 4},
      {"ZIP64 end record too short", good64, record + 4, 43, 4},
      {"ZIP64 entries on this disk differ from the total", good64, record + 24, 1, 4},
      {"ZIP64 directory below 46 bytes per entry", good64, record + 40, 60, 4},
      {"ZIP64 directory size near 2^64", good64, record + 40, 0xFFFFFFFFFFFFFFF0, 8},
      {"ZIP64 directory offset near 2^64", good64, record + 48, 0xFFFFFFFFFFFFFFF0, 8},
      {"ZIP64 directory offset beyond its position", good64, record + 48, static_cast<uint32_t>(directory64 + 1), 4},
      {"central ZIP64 field missing", good64, field, 0x0009, 2},
      {"central ZIP64 field too short for the offset", good64, field + 2, 16, 2},
      {"central ZIP64 field running past the extra field", good64, field + 2, 28, 2},
      {"disk number marked, no ZIP64 value for it", good64, directory64 + 34, 0xFFFF, 2},
      {"ZIP64 compressed size near 2^64", good64, field + 4 + 8, 0xFFFFFFFFFFFFFFF0, 8},
      {"ZIP64 local header offset near 2^64", good64, field + 4 + 16, 0xFFFFFFFFFFFFFFF0, 8},
      {"ZIP64 local header offset inside the directory", good64, field + 4 + 16, static_cast<uint32_t>(directory64),
       4},
  };
  ASSERT_TRUE(Opened(good64).ok);
  for (const auto& damage : damages) {
    std::string bytes = damage.archive;
    uint32_t low = static_cast<uint32_t>(damage.value);
    damage.width == 2 ? PutLe16(bytes, damage.offset, low) : PutLe32(bytes, damage.offset, low);
    if (damage.width == 8) PutLe32(bytes, damage.offset + 4, static_cast<uint32_t>(damage.value >> 32));
    EXPECT_FALSE(Opened(bytes).ok) << damage.what;
  }
  // A ZIP64 locator without its record in front of it, counted into the directory size, and one
  // whose record would begin before the file.
  std::string zip64 = good.substr(0, end) + std::string("PK\x06\x07", 4) + std::string(16, '\0') + good.substr(end);
  PutLe32(zip64, end + 20 + 12, GetLe32(good, end + 12) + 20);
  EXPECT_FALSE(Opened(zip64).ok);
  EXPECT_TRUE(Opened(BuildZip({}, "", true)).ok);
  EXPECT_FALSE(Opened(BuildZip({}, "", true).substr(56)).ok);
}

TEST(ZipCentralDirectory, CountsAllTheEntriesOfAFullEndRecord) {
  // 65535 entries fill the end record's count without ZIP64, as zipfile writes them; one more
  // needs the ZIP64 end record.
  std::vector<RawZipEntry> entries;
  for (int i = 0; i < 65535; ++i) entries.push_back({std::to_string(i), ""});
  Opened full(BuildZip(entries));
  ASSERT_TRUE(full.ok);
  EXPECT_EQ(full.reader.EntryCount(), 65535u);
  entries.push_back({"last.txt", "the last entry"});
  Opened zip64(BuildZip(entries, "", true));
  ASSERT_TRUE(zip64.ok);
  ASSERT_EQ(zip64.reader.EntryCount(), 65536u);
  EXPECT_EQ(zip64.Extract(65535), "the last entry");
}

TEST(ZipCentralDirectory, RefusesEntriesWhoseDataOverlapsAnotherEntry) {
  // Twelve records naming one local header whose 1 MiB of zeros deflates to about 1 KiB.
  const std::string single = BuildZip({{"a00.bin", std::string(1 << 20, '\0'), 8}});
  std::vector<std::string> shared;
  for (int i = 0; i < 12; ++i) {
    shared.push_back(CentralRecords(single)[0]);
    shared.back().replace(46, 7, "c" + std::to_string(10 + i) + ".bin");
  }
  EXPECT_FALSE(Opened(WithRecords(single, shared)).ok) << "one local header, twelve records";

  // The first entry's compressed size reaching into the second entry's local header: inflating
  // stops at its own end, so only the layout tells.
  const std::string two = BuildZip({{"first.txt", std::string(3000, 'f'), 8}, {"second.txt", "second entry"}});
  std::vector<std::string> records = CentralRecords(two);
  PutLe32(records[0], 20, GetLe32(records[0], 20) + 10);
  EXPECT_FALSE(Opened(WithRecords(two, records)).ok) << "data running into the next entry";

  // Records in another order than the data are fine.
  Opened reversed(WithRecords(two, {CentralRecords(two)[1], CentralRecords(two)[0]}));
  ASSERT_TRUE(reversed.ok);
  EXPECT_EQ(reversed.Extract(0), "second entry");
  EXPECT_EQ(reversed.Extract(1), std::string(3000, 'f'));
}

TEST(ZipEntryData, ExtractsStoredAndDeflatedDataAcrossManyChunks) {
  std::string large;
  for (unsigned i = 0; large.size() < 300000; ++i) large += std::to_string(i * 2654435761u) + ",";
  for (bool zip64 : {false, true}) {
    Opened zip(BuildZip({{"stored.bin", large, 0}, {"deflated.bin", large, 8}, {"empty.txt", "", 8}}, "", zip64));
    ASSERT_TRUE(zip.ok) << zip64;
    EXPECT_EQ(zip.Extract(0), large);
    EXPECT_EQ(zip.Extract(1), large);
    EXPECT_EQ(zip.Extract(2), "");
  }
}

TEST(ZipEntryData, RefusesWhatItCannotReadOrWhatDisagreesWithTheDirectory) {
  for (uint16_t flag : {0x0001, 0x0040, 0x0020})  // encrypted, strongly encrypted, patch data
    EXPECT_EQ(Opened(BuildZip({{"a.txt", "abc", 0, flag}})).Extract(0), "<failed>") << flag;

  const std::string bytes = BuildZip({{"a.txt", std::string(5000, 'z'), 8}});
  const size_t directory = CentralDirectoryAt(bytes);
  auto damaged = [&](size_t offset, uint32_t value, int width = 4) {
    std::string copy = bytes;
    width == 2 ? PutLe16(copy, offset, value) : PutLe32(copy, offset, value);
    return Opened(copy);
  };
  EXPECT_EQ(damaged(directory + 10, 14, 2).Extract(0), "<failed>") << "LZMA";
  EXPECT_EQ(damaged(directory + 16, GetLe32(bytes, directory + 16) ^ 1).Extract(0), "<failed>") << "CRC";
  EXPECT_EQ(damaged(directory + 20, GetLe32(bytes, directory + 20) / 2).Extract(0), "<failed>") << "cut data";
  EXPECT_EQ(damaged(0, 0x04034B51).Extract(0), "<failed>") << "local header signature";
  EXPECT_EQ(damaged(28, 0xFFFF, 2).Extract(0), "<failed>") << "local extra field reaching the directory";

  // Inflating beyond the declared size stops there: no more than that is ever written.
  Opened bomb = damaged(directory + 24, 100);
  ASSERT_TRUE(bomb.ok);
  StringSink sink;
  EXPECT_FALSE(bomb.reader.Extract(0, sink));
  EXPECT_LE(sink.text.size(), 100u);
}
