#pragma once
// Test archives: the ones made on the build machine (tests/support/zip-fixtures.py) and small ones
// built byte by byte in the test, for layouts no tool writes.
#include <windows.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/ZipReader.h"

namespace testsupport {

// Collects what an entry extracts to.
class StringSink : public stubframework::zip::ZipSink {
 public:
  bool Write(const void* data, uint32_t length) override {
    text.append(static_cast<const char*>(data), length);
    return true;
  }
  std::string text;
};

// A file of the fixture folder, as the Windows side sees it (empty without the fixture).
inline std::wstring ZipFixture(const std::wstring& name) {
  const wchar_t* folder = _wgetenv(L"HALVERN_ZIP_FIXTURES");
  if (!folder || !*folder) return std::wstring();
  return std::wstring(folder) + L"\\" + name;
}

inline void PutLe16(std::string& bytes, size_t offset, uint32_t value) {
  bytes[offset] = static_cast<char>(value & 0xFF);
  bytes[offset + 1] = static_cast<char>((value >> 8) & 0xFF);
}

inline void PutLe32(std::string& bytes, size_t offset, uint32_t value) {
  PutLe16(bytes, offset, value & 0xFFFF);
  PutLe16(bytes, offset + 2, value >> 16);
}

inline uint32_t GetLe32(const std::string& bytes, size_t offset) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data()) + offset;
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

struct RawZipEntry {
  std::string name;
  std::string content;  // the bytes the entry extracts to
  uint16_t method = 0;  // 0 stored; 8 deflated by the builder
  uint16_t flags = 0;
  uint32_t externalAttributes = 0;
  uint16_t madeBy = 20;  // "version made by": the host in the high byte (0 MS-DOS, 3 Unix)
};

inline std::string RawDeflate(const std::string& content) {
  z_stream stream = {};
  deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, content.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
  stream.avail_in = static_cast<uInt>(content.size());
  stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

// A well-formed archive, offsets from its own first byte; tests damage it at the offsets below.
// A ZIP64 archive keeps every size, offset and count in ZIP64 fields with the 32/16-bit fields
// marked: the entries' in a ZIP64 extra field (both sizes in the local header, as zipfile writes
// them; both sizes and the offset in the central one), the directory's in a ZIP64 end record.
inline std::string BuildZip(const std::vector<RawZipEntry>& entries, const std::string& comment = "",
                            bool zip64 = false) {
  auto le16 = [](uint32_t v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)}; };
  auto le32 = [&](uint32_t v) { return le16(v & 0xFFFF) + le16(v >> 16); };
  auto le64 = [&](uint64_t v) { return le32(static_cast<uint32_t>(v)) + le32(static_cast<uint32_t>(v >> 32)); };
  auto small = [&](uint64_t v) { return le32(zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(v)); };
  std::string body, directory;
  for (const RawZipEntry& entry : entries) {
    std::string data = entry.method == 8 ? RawDeflate(entry.content) : entry.content;
    uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(entry.content.data()),
                         static_cast<uInt>(entry.content.size()));
    std::string sizes = le64(entry.content.size()) + le64(data.size());
    std::string localExtra = zip64 ? le16(1) + le16(16) + sizes : "";
    std::string centralExtra = zip64 ? le16(1) + le16(24) + sizes + le64(body.size()) : "";
    std::string common = le16(zip64 ? 45 : 20) + le16(entry.flags) + le16(entry.method) + le16(0) + le16(0x21) +
                         le32(crc) + small(data.size()) + small(entry.content.size()) +
                         le16(static_cast<uint32_t>(entry.name.size()));
    uint64_t offset = body.size();
    body += le32(0x04034B50) + common + le16(static_cast<uint32_t>(localExtra.size())) + entry.name + localExtra + data;
    directory += le32(0x02014B50) + le16(entry.madeBy) + common + le16(static_cast<uint32_t>(centralExtra.size())) +
                 le16(0) + le16(0) + le16(0) + le32(entry.externalAttributes) + small(offset) + entry.name +
                 centralExtra;
  }
  std::string tail;
  uint32_t count = static_cast<uint32_t>(entries.size());
  if (zip64) {
    tail = le32(0x06064B50) + le64(44) + le16(45) + le16(45) + le32(0) + le32(0) + le64(count) + le64(count) +
           le64(directory.size()) + le64(body.size()) + le32(0x07064B50) + le32(0) +
           le64(body.size() + directory.size()) + le32(1);
    count = 0xFFFF;
  }
  return body + directory + tail + le32(0x06054B50) + le16(0) + le16(0) + le16(count) + le16(count) +
         small(directory.size()) + small(body.size()) + le16(static_cast<uint32_t>(comment.size())) + comment;
}

inline uint64_t GetLe64(const std::string& bytes, size_t offset) {
  return GetLe32(bytes, offset) | (static_cast<uint64_t>(GetLe32(bytes, offset + 4)) << 32);
}

// Offsets into a BuildZip result (no comment unless commentSize says so).
inline size_t EndRecordAt(const std::string& zip, size_t commentSize = 0) {
  return zip.size() - 22 - commentSize;
}
// The ZIP64 end record, directly in front of the 20-byte locator.
inline size_t Zip64RecordAt(const std::string& zip, size_t commentSize = 0) {
  return EndRecordAt(zip, commentSize) - 20 - 56;
}
inline size_t CentralDirectoryAt(const std::string& zip, size_t commentSize = 0) {
  uint32_t offset = GetLe32(zip, EndRecordAt(zip, commentSize) + 16);
  return offset != 0xFFFFFFFF ? offset : static_cast<size_t>(GetLe64(zip, Zip64RecordAt(zip, commentSize) + 48));
}

}  // namespace testsupport
