#include "core/ZipReader.h"

#include <zlib.h>

#include <algorithm>
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

// Marks of sizes and offsets that live in ZIP64 records, which this reader does not read.
constexpr uint16_t kZip64Count = 0xFFFF;
constexpr uint32_t kZip64Value = 0xFFFFFFFF;

bool ReadExactly(ZipSource* source, uint64_t offset, void* buffer, uint32_t length) {
  return source->Read(offset, buffer, length) == length;
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
  if (size_ < kEndRecordSize) return false;

  // The first end record found from the end decides; a damaged one rejects the file rather than
  // sending the search on to older data.
  uint64_t endPosition = 0;
  if (!FindEndRecord(endPosition)) return false;
  uint8_t end[kEndRecordSize];
  if (!ReadExactly(source_, endPosition, end, kEndRecordSize)) return false;
  if (ReadLe32(end) != kEndRecordSignature) return false;
  disk_ = ReadLe16(end + 4);
  uint16_t directoryDisk = ReadLe16(end + 6);
  uint16_t entriesOnDisk = ReadLe16(end + 8);
  uint16_t entries = ReadLe16(end + 10);
  uint32_t directorySize = ReadLe32(end + 12);
  uint32_t directoryOffsetField = ReadLe32(end + 16);

  if (entriesOnDisk != entries) return false;
  if (!((disk_ == 0 && directoryDisk == 0) || (disk_ == 1 && directoryDisk == 1))) return false;
  if (entries == kZip64Count || directorySize == kZip64Value || directoryOffsetField == kZip64Value)
    return false;
  if (endPosition >= kZip64LocatorSize) {
    uint8_t locator[4];
    if (!ReadExactly(source_, endPosition - kZip64LocatorSize, locator, 4)) return false;
    if (ReadLe32(locator) == kZip64LocatorSignature) return false;
  }
  if (static_cast<uint64_t>(directorySize) < static_cast<uint64_t>(kCentralHeaderSize) * entries)
    return false;
  if (static_cast<uint64_t>(directorySize) + directoryOffsetField > size_) return false;

  // The central directory ends where the end record begins; the distance to the offset it
  // claims is the data in front of the archive.
  if (endPosition < directorySize) return false;
  centralDirectoryOffset_ = endPosition - directorySize;
  if (centralDirectoryOffset_ < directoryOffsetField) return false;
  startOffset_ = centralDirectoryOffset_ - directoryOffsetField;

  uint8_t* bytes = new (std::nothrow) uint8_t[directorySize ? directorySize : 1];
  if (!bytes) return false;
  std::unique_ptr<uint8_t[]> owner(bytes);
  if (!ReadExactly(source_, centralDirectoryOffset_, bytes, directorySize)) return false;
  centralDirectory_.assign(bytes, bytes + directorySize);
  if (!ReadCentralDirectory(entries)) {
    entries_.clear();
    centralDirectory_.clear();
    return false;
  }
  return true;
}

bool ZipReader::ReadCentralDirectory(uint16_t count) {
  const uint8_t* directory = centralDirectory_.data();
  const uint64_t directorySize = centralDirectory_.size();
  uint64_t position = 0;
  entries_.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    if (directorySize - position < kCentralHeaderSize) return false;
    const uint8_t* header = directory + position;
    if (ReadLe32(header) != kCentralHeaderSignature) return false;
    uint16_t nameLength = ReadLe16(header + 28);
    uint16_t extraLength = ReadLe16(header + 30);
    uint16_t commentLength = ReadLe16(header + 32);
    uint64_t recordSize = uint64_t{kCentralHeaderSize} + nameLength + extraLength + commentLength;
    if (directorySize - position < recordSize) return false;

    ZipEntry entry;
    entry.flags = ReadLe16(header + 8);
    entry.method = ReadLe16(header + 10);
    entry.crc = ReadLe32(header + 16);
    entry.compressedSize = ReadLe32(header + 20);
    entry.uncompressedSize = ReadLe32(header + 24);
    uint16_t entryDisk = ReadLe16(header + 34);
    entry.externalAttributes = ReadLe32(header + 38);
    uint32_t localOffset = ReadLe32(header + 42);
    entry.name.assign(reinterpret_cast<const char*>(header + kCentralHeaderSize), nameLength);

    if (entryDisk != disk_) return false;
    if (entry.compressedSize == kZip64Value || entry.uncompressedSize == kZip64Value ||
        localOffset == kZip64Value)
      return false;
    // Encrypted data carries a header of its own; such entries are refused when extracted.
    if (entry.method == kMethodStored && !(entry.flags & kFlagEncrypted) &&
        entry.compressedSize != entry.uncompressedSize)
      return false;
    if (entry.uncompressedSize != 0 && entry.compressedSize == 0) return false;
    entry.localHeaderOffset = startOffset_ + localOffset;

    entries_.push_back(std::move(entry));
    position += recordSize;
  }
  // Bytes after the last record are not part of any entry; an appended record must follow the
  // last one directly, as the records are read back to back.
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
    if (entry.localHeaderOffset + kLocalHeaderSize + entry.compressedSize > entry.dataLimit) return false;
  }
  return true;
}

bool ZipReader::IsDirectory(size_t index) const {
  const ZipEntry& entry = entries_[index];
  if (!entry.name.empty() && entry.name.back() == '/') return true;
  return (entry.externalAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

uint64_t ZipReader::TotalUncompressedSize() const {
  uint64_t total = 0;
  for (const ZipEntry& entry : entries_) total += entry.uncompressedSize;
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
  if (dataOffset + entry.compressedSize > entry.dataLimit) return false;

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
