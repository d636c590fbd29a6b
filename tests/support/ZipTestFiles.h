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
inline std::string BuildZip(const std::vector<RawZipEntry>& entries, const std::string& comment = "") {
  auto le16 = [](uint32_t v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)}; };
  auto le32 = [&](uint32_t v) { return le16(v & 0xFFFF) + le16(v >> 16); };
  std::string body, directory;
  for (const RawZipEntry& entry : entries) {
    std::string data = entry.method == 8 ? RawDeflate(entry.content) : entry.content;
    uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(entry.content.data()),
                         static_cast<uInt>(entry.content.size()));
    std::string common = le16(20) + le16(entry.flags) + le16(entry.method) + le16(0) + le16(0x21) +
                         le32(crc) + le32(static_cast<uint32_t>(data.size())) +
                         le32(static_cast<uint32_t>(entry.content.size())) +
                         le16(static_cast<uint32_t>(entry.name.size())) + le16(0);
    uint32_t offset = static_cast<uint32_t>(body.size());
    body += le32(0x04034B50) + common + entry.name + data;
    directory += le32(0x02014B50) + le16(20) + common + le16(0) + le16(0) + le16(0) +
                 le32(entry.externalAttributes) + le32(offset) + entry.name;
  }
  return body + directory + le32(0x06054B50) + le16(0) + le16(0) +
         le16(static_cast<uint32_t>(entries.size())) + le16(static_cast<uint32_t>(entries.size())) +
         le32(static_cast<uint32_t>(directory.size())) + le32(static_cast<uint32_t>(body.size())) +
         le16(static_cast<uint32_t>(comment.size())) + comment;
}

// Offsets into a BuildZip result (no comment unless commentSize says so).
inline size_t EndRecordAt(const std::string& zip, size_t commentSize = 0) {
  return zip.size() - 22 - commentSize;
}
inline size_t CentralDirectoryAt(const std::string& zip, size_t commentSize = 0) {
  return GetLe32(zip, EndRecordAt(zip, commentSize) + 16);
}

}  // namespace testsupport
