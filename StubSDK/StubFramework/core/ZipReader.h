#pragma once
// Reading ZIP archives: the end record (with its ZIP64 form), the central directory and the data
// of stored and deflated entries. Every byte of an archive is untrusted: offsets and sizes are
// checked against the file before they are used, in 64 bits without overflow, and decompression
// stops at the size the central directory declares.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/ZipReporter.h"

namespace stubframework::zip {

// Supplies archive bytes: reads length bytes at a file offset and returns how many it read.
class ZipSource {
 public:
  virtual uint32_t Read(uint64_t offset, void* buffer, uint32_t length) = 0;

 protected:
  ~ZipSource() = default;
};

// Receives the bytes of an extracted entry; false stops the extraction.
class ZipSink {
 public:
  virtual bool Write(const void* data, uint32_t length) = 0;

 protected:
  ~ZipSink() = default;
};

// Reads through a file handle at explicit offsets. A short read is reported to the reporter, when
// there is one, with the system's error code.
class FileSource : public ZipSource {
 public:
  FileSource(HANDLE file, ZipReporter* reporter) : file_(file), reporter_(reporter) {}
  uint32_t Read(uint64_t offset, void* buffer, uint32_t length) override;
  HANDLE File() const { return file_; }

 private:
  HANDLE file_;
  ZipReporter* reporter_;
};

struct ZipEntry {
  std::string name;  // the raw name bytes
  uint16_t madeBy = 0;  // "version made by": the host system in the high byte
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t crc = 0;
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;
  uint32_t externalAttributes = 0;
  uint64_t localHeaderOffset = 0;  // file offset: the archive start offset is already added
  // File offset of the next entry's local header or of the central directory: the entry's data
  // ends before it, so no two entries share bytes.
  uint64_t dataLimit = 0;
};

class ZipReader {
 public:
  // Locates the archive in the first size bytes of source and reads its central directory. The
  // archive may follow other data (an executable image) and be followed by a short block of
  // foreign data (a signature). A count, size or offset whose field holds the ZIP64 marker is
  // taken from the ZIP64 end record or the entry's ZIP64 extra field. False when there is no
  // archive this reader supports, when the directory holds a record beyond the count of its end
  // record (no entry is ever left out), and when the directory needs more memory than there is.
  bool Open(ZipSource* source, uint64_t size);

  size_t EntryCount() const { return entries_.size(); }
  const ZipEntry& Entry(size_t index) const { return entries_[index]; }
  // A name ending in "/"; otherwise, for an entry made on Unix whose mode has a file type, that
  // type; otherwise the MS-DOS directory attribute.
  bool IsDirectory(size_t index) const;
  // The sum of the sizes the entries declare, at most 2^64 - 1: what extracting them all writes at
  // most.
  uint64_t TotalUncompressedSize() const;

  // Decompresses an entry into sink; false for encrypted entries, methods other than stored and
  // deflated, damaged data, a size or CRC that differs from the central directory, or a sink
  // that refuses the data.
  bool Extract(size_t index, ZipSink& sink) const;

  // File offsets of the archive's first byte and of its central directory, the directory's
  // records (without any bytes the end record counts after the last one) and the disk number of
  // the end record; what appending an entry in place needs.
  uint64_t StartOffset() const { return startOffset_; }
  uint16_t Disk() const { return disk_; }
  uint64_t CentralDirectoryOffset() const { return centralDirectoryOffset_; }
  const std::vector<uint8_t>& CentralDirectory() const { return centralDirectory_; }

 private:
  bool FindEndRecord(uint64_t& position) const;
  bool ReadArchive();
  bool ReadCentralDirectory(uint64_t count);
  bool SetDataLimits();

  ZipSource* source_ = nullptr;
  uint64_t size_ = 0;
  uint64_t startOffset_ = 0;
  uint16_t disk_ = 0;
  uint64_t centralDirectoryOffset_ = 0;
  std::vector<uint8_t> centralDirectory_;
  std::vector<ZipEntry> entries_;
};

// Little-endian field access and the record layout shared by the reader and the writer.
inline uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t ReadLe64(const uint8_t* p) { return ReadLe32(p) | (static_cast<uint64_t>(ReadLe32(p + 4)) << 32); }

constexpr uint32_t kLocalHeaderSignature = 0x04034B50;
constexpr uint32_t kCentralHeaderSignature = 0x02014B50;
constexpr uint32_t kEndRecordSignature = 0x06054B50;
constexpr uint32_t kZip64RecordSignature = 0x06064B50;
constexpr uint32_t kZip64LocatorSignature = 0x07064B50;
constexpr uint32_t kLocalHeaderSize = 30;
constexpr uint32_t kCentralHeaderSize = 46;
constexpr uint32_t kEndRecordSize = 22;
constexpr uint32_t kZip64RecordSize = 56;  // without the extensible data no writer adds
constexpr uint32_t kZip64LocatorSize = 20;
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint16_t kFlagUtf8 = 0x0800;  // the name (and comment) are UTF-8
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;

}  // namespace stubframework::zip
