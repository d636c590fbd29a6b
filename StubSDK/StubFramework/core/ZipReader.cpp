#include "core/ZipReader.h"

#include <zlib.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <new>

namespace stubframework::zip {
namespace {

constexpr uint32_t kSearchBlock = 4096;
// Each block overlaps the previous one by three bytes, so a signature that straddles two blocks
// is still seen whole.
constexpr uint32_t kSearchStep = kSearchBlock - 3;
// The end record is at most its own size plus the longest comment away from the end.
constexpr uint64_t kSearchLimit = 0xFFFF + kEndRecordSize;
constexpr uint32_t kChunk = 64 * 1024;

constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagPatchData = 0x0020;
constexpr uint16_t kFlagStrongEncryption = 0x0040;

constexpr uint16_t kHostUnix = 3;
constexpr uint32_t kUnixTypeMask = 0xF000;  // S_IFMT
constexpr uint32_t kUnixDirectory = 0x4000;  // S_IFDIR

// Markers of counts, sizes and offsets whose values live in ZIP64 records and fields.
constexpr uint16_t kZip64Count = 0xFFFF;
constexpr uint32_t kZip64Value = 0xFFFFFFFF;

bool ReadExactly(ZipSource* source, uint64_t offset, void* buffer, uint32_t length) {
  return source->Read(offset, buffer, length) == length;
}

// Whether length bytes from offset end at limit or before it; no sum that could overflow.
bool EndsBy(uint64_t offset, uint64_t length, uint64_t limit) {
  return offset <= limit && length <= limit - offset;
}

// Replaces each value that holds its marker by the next one of the ZIP64 extra field (id 1) in
// extra, in the order the format fixes: the sizes and the offset in 8 bytes, the disk in 4. False
// when a value is marked and the field is missing, runs past extra or is too short for it.
bool TakeZip64Values(const uint8_t* extra, uint32_t length, uint64_t& uncompressed, uint64_t& compressed,
                     uint64_t& offset, uint32_t& disk) {
  uint64_t* const values[] = {&uncompressed, &compressed, &offset};
  const bool marked[] = {uncompressed == kZip64Value, compressed == kZip64Value, offset == kZip64Value,
                         disk == kZip64Count};
  if (!marked[0] && !marked[1] && !marked[2] && !marked[3]) return true;
  for (uint32_t at = 0; length - at >= 4;) {
    uint32_t size = ReadLe16(extra + at + 2);
    if (size > length - at - 4) return false;
    if (ReadLe16(extra + at) == kZip64ExtraId) {
      const uint8_t* value = extra + at + 4;
      for (int i = 0; i < 3; ++i) {
        if (!marked[i]) continue;
        if (size < 8) return false;
        *values[i] = ReadLe64(value);
        value += 8;
        size -= 8;
      }
      if (marked[3]) {
        if (size < 4) return false;
        disk = ReadLe32(value);
      }
      return true;
    }
    at += 4 + size;
  }
  return false;
}

}  // namespace

uint32_t FileSource::Read(uint64_t offset, void* buffer, uint32_t length) {
  OVERLAPPED overlapped = {};
  overlapped.Offset = static_cast<DWORD>(offset);
  overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD read = 0;
  BOOL ok = ReadFile(file_, buffer, length, &read, &overlapped);
  if (read < length && reporter_) reporter_->OnError(ok ? ERROR_HANDLE_EOF : GetLastError());
  return read;
}

bool ZipReader::FindEndRecord(uint64_t& position) const {
  uint8_t block[kSearchBlock];
  uint64_t start = size_ > kSearchBlock ? size_ - kSearchBlock : 0;
  for (;;) {
    uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(kSearchBlock, size_ - start));
    if (!ReadExactly(source_, start, block, length)) return false;
    for (int64_t i = static_cast<int64_t>(length) - 4; i >= 0; --i) {
      // Only a signature with room for the whole record after it counts.
      if (ReadLe32(block + i) == kEndRecordSignature && size_ - (start + i) >= kEndRecordSize) {
        position = start + i;
        return true;
      }
    }
    if (start == 0 || size_ - start >= kSearchLimit) return false;
    start = start > kSearchStep ? start - kSearchStep : 0;
  }
}

bool ZipReader::Open(ZipSource* source, uint64_t size) {
  source_ = source;
  size_ = size;
  entries_.clear();
  centralDirectory_.clear();
  bool ok = false;
  // A directory may declare more than memory holds (std::bad_alloc, std::length_error): then it is
  // refused like any other archive that cannot be read.
  try {
    ok = ReadArchive();
  } catch (const std::exception&) {
    ok = false;
  }
  if (!ok) {
    entries_.clear();
    centralDirectory_.clear();
  }
  return ok;
}

bool ZipReader::ReadArchive() {
  if (size_ < kEndRecordSize) return false;

  // The first end record found from the end decides; a damaged one rejects the file rather than
  // sending the search on to older data.
  uint64_t endPosition = 0;
  if (!FindEndRecord(endPosition)) return false;
  uint8_t end[kEndRecordSize];
  if (!ReadExactly(source_, endPosition, end, kEndRecordSize)) return false;
  if (ReadLe32(end) != kEndRecordSignature) return false;
  uint32_t disk = ReadLe16(end + 4);
  uint32_t directoryDisk = ReadLe16(end + 6);
  uint64_t entriesOnDisk = ReadLe16(end + 8);
  uint64_t entries = ReadLe16(end + 10);
  uint64_t directorySize = ReadLe32(end + 12);
  uint64_t directoryOffset = ReadLe32(end + 16);

  // With a ZIP64 locator in front of the end record, the ZIP64 end record lies in front of the
  // locator and the directory ends where it begins. Its values stand in for the marked fields
  // only; a marked field without it means what it says (zipfile writes 65535 entries so).
  uint64_t directoryEnd = endPosition;
  bool zip64 = false;
  uint64_t zip64RecordOffset = 0;
  if (endPosition >= kZip64LocatorSize) {
    uint8_t locator[kZip64LocatorSize];
    if (!ReadExactly(source_, endPosition - kZip64LocatorSize, locator, kZip64LocatorSize)) return false;
    zip64 = ReadLe32(locator) == kZip64LocatorSignature;
    if (zip64) {
      if (ReadLe32(locator + 4) != 0 || ReadLe32(locator + 16) > 1) return false;  // more than one disk
      if (endPosition < kZip64LocatorSize + kZip64RecordSize) return false;
      directoryEnd = endPosition - kZip64LocatorSize - kZip64RecordSize;
      uint8_t record[kZip64RecordSize];
      if (!ReadExactly(source_, directoryEnd, record, kZip64RecordSize)) return false;
      // The record's size counts what follows the field; no more than the fixed part fits here.
      if (ReadLe32(record) != kZip64RecordSignature || ReadLe64(record + 4) != kZip64RecordSize - 12) return false;
      if (disk == kZip64Count) disk = ReadLe32(record + 16);
      if (directoryDisk == kZip64Count) directoryDisk = ReadLe32(record + 20);
      if (entriesOnDisk == kZip64Count) entriesOnDisk = ReadLe64(record + 24);
      if (entries == kZip64Count) entries = ReadLe64(record + 32);
      if (directorySize == kZip64Value) directorySize = ReadLe64(record + 40);
      if (directoryOffset == kZip64Value) directoryOffset = ReadLe64(record + 48);
      zip64RecordOffset = ReadLe64(locator + 8);
    }
  }

  if (entriesOnDisk != entries) return false;
  if (!((disk == 0 && directoryDisk == 0) || (disk == 1 && directoryDisk == 1))) return false;
  disk_ = static_cast<uint16_t>(disk);
  if (entries > directorySize / kCentralHeaderSize) return false;
  if (!EndsBy(directoryOffset, directorySize, size_)) return false;

  // The directory's end is known; the distance from its start to the offset it claims is the
  // data in front of the archive. The locator counts from the archive's start as well.
  if (directorySize > directoryEnd) return false;
  centralDirectoryOffset_ = directoryEnd - directorySize;
  if (centralDirectoryOffset_ < directoryOffset) return false;
  startOffset_ = centralDirectoryOffset_ - directoryOffset;
  if (zip64 && zip64RecordOffset != directoryEnd - startOffset_) return false;

  if (directorySize > kZip64Value) return false;  // more than one read; no process holds it anyway
  centralDirectory_.resize(static_cast<size_t>(directorySize));
  if (directorySize > 0 &&
      !ReadExactly(source_, centralDirectoryOffset_, centralDirectory_.data(), static_cast<uint32_t>(directorySize)))
    return false;
  return ReadCentralDirectory(entries);
}

bool ZipReader::ReadCentralDirectory(uint64_t count) {
  const uint8_t* directory = centralDirectory_.data();
  const uint64_t directorySize = centralDirectory_.size();
  uint64_t position = 0;
  entries_.reserve(static_cast<size_t>(count));
  for (uint64_t i = 0; i < count; ++i) {
    if (directorySize - position < kCentralHeaderSize) return false;
    const uint8_t* header = directory + position;
    if (ReadLe32(header) != kCentralHeaderSignature) return false;
    uint16_t nameLength = ReadLe16(header + 28);
    uint16_t extraLength = ReadLe16(header + 30);
    uint16_t commentLength = ReadLe16(header + 32);
    uint64_t recordSize = uint64_t{kCentralHeaderSize} + nameLength + extraLength + commentLength;
    if (directorySize - position < recordSize) return false;

    ZipEntry entry;
    entry.madeBy = ReadLe16(header + 4);
    entry.flags = ReadLe16(header + 8);
    entry.method = ReadLe16(header + 10);
    entry.crc = ReadLe32(header + 16);
    entry.compressedSize = ReadLe32(header + 20);
    entry.uncompressedSize = ReadLe32(header + 24);
    uint32_t entryDisk = ReadLe16(header + 34);
    entry.externalAttributes = ReadLe32(header + 38);
    uint64_t localOffset = ReadLe32(header + 42);
    entry.name.assign(reinterpret_cast<const char*>(header + kCentralHeaderSize), nameLength);
    if (!TakeZip64Values(header + kCentralHeaderSize + nameLength, extraLength, entry.uncompressedSize,
                         entry.compressedSize, localOffset, entryDisk))
      return false;

    if (entryDisk != disk_) return false;
    // Encrypted data carries a header of its own; such entries are refused when extracted.
    if (entry.method == kMethodStored && !(entry.flags & kFlagEncrypted) &&
        entry.compressedSize != entry.uncompressedSize)
      return false;
    if (entry.uncompressedSize != 0 && entry.compressedSize == 0) return false;
    // Every local header lies in front of the directory, which also bounds the sums made of it.
    if (localOffset > centralDirectoryOffset_ - startOffset_) return false;
    entry.localHeaderOffset = startOffset_ + localOffset;

    entries_.push_back(std::move(entry));
    position += recordSize;
  }
  // Bytes after the last record are padding of no entry; an appended record must follow the last
  // one directly, as the records are read back to back. A record there is an entry the end record
  // does not count: reading on would disagree with the count, stopping would lose it.
  if (directorySize - position >= 4 && ReadLe32(directory + position) == kCentralHeaderSignature) return false;
  centralDirectory_.resize(position);
  return SetDataLimits();
}

// Each entry's local header and data end where the next one in the file begins, the last one's
// where the central directory begins. Records that share or overlap data would let a small
// archive extract to many times the data it holds.
bool ZipReader::SetDataLimits() {
  std::vector<size_t> order(entries_.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [this](size_t a, size_t b) {
    return entries_[a].localHeaderOffset < entries_[b].localHeaderOffset;
  });
  for (size_t k = 0; k < order.size(); ++k) {
    ZipEntry& entry = entries_[order[k]];
    entry.dataLimit = k + 1 < order.size() ? entries_[order[k + 1]].localHeaderOffset : centralDirectoryOffset_;
    if (!EndsBy(entry.localHeaderOffset, kLocalHeaderSize, entry.dataLimit) ||
        !EndsBy(entry.localHeaderOffset + kLocalHeaderSize, entry.compressedSize, entry.dataLimit))
      return false;
  }
  return true;
}

bool ZipReader::IsDirectory(size_t index) const {
  const ZipEntry& entry = entries_[index];
  if (!entry.name.empty() && entry.name.back() == '/') return true;
  // Unix hosts keep the mode in the high half and leave the low half to chance (0xFFFF, say).
  uint32_t type = (entry.externalAttributes >> 16) & kUnixTypeMask;
  if ((entry.madeBy >> 8) == kHostUnix && type != 0) return type == kUnixDirectory;
  return (entry.externalAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

uint64_t ZipReader::TotalUncompressedSize() const {
  uint64_t total = 0;
  for (const ZipEntry& entry : entries_)
    total = entry.uncompressedSize > UINT64_MAX - total ? UINT64_MAX : total + entry.uncompressedSize;
  return total;
}

bool ZipReader::Extract(size_t index, ZipSink& sink) const {
  const ZipEntry& entry = entries_[index];
  if (entry.flags & (kFlagEncrypted | kFlagStrongEncryption | kFlagPatchData)) return false;
  if (entry.method != kMethodStored && entry.method != kMethodDeflated) return false;

  uint8_t local[kLocalHeaderSize];
  if (!ReadExactly(source_, entry.localHeaderOffset, local, kLocalHeaderSize)) return false;
  if (ReadLe32(local) != kLocalHeaderSignature) return false;
  uint64_t dataOffset =
      entry.localHeaderOffset + kLocalHeaderSize + ReadLe16(local + 26) + ReadLe16(local + 28);
  if (!EndsBy(dataOffset, entry.compressedSize, entry.dataLimit)) return false;

  std::unique_ptr<uint8_t[]> input(new (std::nothrow) uint8_t[kChunk]);
  if (!input) return false;
  uLong crc = crc32(0, nullptr, 0);
  uint64_t remaining = entry.compressedSize;

  if (entry.method == kMethodStored) {
    while (remaining > 0) {
      uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(kChunk, remaining));
      if (!ReadExactly(source_, dataOffset, input.get(), length)) return false;
      crc = crc32(crc, input.get(), length);
      if (!sink.Write(input.get(), length)) return false;
      dataOffset += length;
      remaining -= length;
    }
    return crc == entry.crc;
  }

  std::unique_ptr<uint8_t[]> output(new (std::nothrow) uint8_t[kChunk]);
  if (!output) return false;
  z_stream stream = {};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return false;
  uint64_t produced = 0;
  bool finished = false;
  bool failed = false;
  while (!finished && !failed) {
    if (stream.avail_in == 0 && remaining > 0) {
      uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(kChunk, remaining));
      if (!ReadExactly(source_, dataOffset, input.get(), length)) {
        failed = true;
        break;
      }
      stream.next_in = input.get();
      stream.avail_in = length;
      dataOffset += length;
      remaining -= length;
    }
    stream.next_out = output.get();
    stream.avail_out = kChunk;
    int result = inflate(&stream, Z_NO_FLUSH);
    uint32_t length = kChunk - stream.avail_out;
    // A stream that inflates beyond the declared size is refused before its excess is written.
    if (produced + length > entry.uncompressedSize) {
      failed = true;
      break;
    }
    if (length > 0) {
      crc = crc32(crc, output.get(), length);
      if (!sink.Write(output.get(), length)) {
        failed = true;
        break;
      }
      produced += length;
    }
    if (result == Z_STREAM_END) {
      finished = true;
    } else if (result == Z_BUF_ERROR) {
      // No progress was possible: unless more input can be read, the data ended too early.
      if (length == 0 && (stream.avail_in > 0 || remaining == 0)) failed = true;
    } else if (result != Z_OK) {
      failed = true;
    }
  }
  inflateEnd(&stream);
  return finished && produced == entry.uncompressedSize && crc == entry.crc;
}

}  // namespace stubframework::zip
