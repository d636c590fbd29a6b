#include "core/ZipWriter.h"

#include <shlwapi.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include "core/UniqueHandle.h"
#include "core/ZipReader.h"

namespace stubframework::zip {
namespace {

constexpr uint16_t kVersion = 20;  // 2.0: deflate, no ZIP64
constexpr uint32_t kLimit32 = 0xFFFFFFFF;
constexpr uint16_t kLimitEntries = 0xFFFF;

void PutLe16(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutLe32(std::vector<uint8_t>& out, uint32_t value) {
  PutLe16(out, value & 0xFFFF);
  PutLe16(out, value >> 16);
}

bool ValidEntryName(const std::string& name) {
  if (name.empty() || name.size() > 0xFFFF || name[0] == '/') return false;
  return name.find_first_of("\\:") == std::string::npos;
}

struct EntryRecord {
  uint16_t flags = 0;
  uint16_t method = kMethodStored;
  uint16_t time = 0;
  uint16_t date = 0;
  uint32_t crc = 0;
  uint32_t compressedSize = 0;
  uint32_t size = 0;
  uint32_t localOffset = 0;  // relative to the archive's first byte
  uint16_t disk = 0;
};

// The fields both headers share, from "version needed" to the name length.
void PutCommonFields(std::vector<uint8_t>& out, const EntryRecord& entry, const std::string& name) {
  PutLe16(out, kVersion);
  PutLe16(out, entry.flags);
  PutLe16(out, entry.method);
  PutLe16(out, entry.time);
  PutLe16(out, entry.date);
  PutLe32(out, entry.crc);
  PutLe32(out, entry.compressedSize);
  PutLe32(out, entry.size);
  PutLe16(out, static_cast<uint32_t>(name.size()));
  PutLe16(out, 0);  // extra field length
}

std::vector<uint8_t> LocalHeader(const EntryRecord& entry, const std::string& name) {
  std::vector<uint8_t> out;
  PutLe32(out, kLocalHeaderSignature);
  PutCommonFields(out, entry, name);
  out.insert(out.end(), name.begin(), name.end());
  return out;
}

void PutCentralHeader(std::vector<uint8_t>& out, const EntryRecord& entry, const std::string& name) {
  PutLe32(out, kCentralHeaderSignature);
  PutLe16(out, kVersion);  // made by: MS-DOS attributes
  PutCommonFields(out, entry, name);
  PutLe16(out, 0);  // comment length
  PutLe16(out, entry.disk);
  PutLe16(out, 0);  // internal attributes
  PutLe32(out, 0);  // external attributes
  PutLe32(out, entry.localOffset);
  out.insert(out.end(), name.begin(), name.end());
}

void PutEndRecord(std::vector<uint8_t>& out, uint16_t disk, uint16_t entries, uint32_t directorySize,
                  uint32_t directoryOffset) {
  PutLe32(out, kEndRecordSignature);
  PutLe16(out, disk);
  PutLe16(out, disk);
  PutLe16(out, entries);
  PutLe16(out, entries);
  PutLe32(out, directorySize);
  PutLe32(out, directoryOffset);
  PutLe16(out, 0);  // comment length
}

void DosTimeNow(uint16_t& time, uint16_t& date) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  time = static_cast<uint16_t>((now.wHour << 11) | (now.wMinute << 5) | (now.wSecond / 2));
  date = static_cast<uint16_t>(((std::max<int>(now.wYear, 1980) - 1980) << 9) | (now.wMonth << 5) |
                               now.wDay);
}

bool Seek(HANDLE file, uint64_t offset) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) != FALSE;
}

// Writes at the current file position. A short write is followed by another, which either goes
// on or fails with the reason.
bool WriteAll(HANDLE file, const void* data, size_t size) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  while (size > 0) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1 << 20));
    DWORD written = 0;
    if (!WriteFile(file, bytes, chunk, &written, nullptr) || written == 0) return false;
    bytes += written;
    size -= written;
  }
  return true;
}

// Raw deflate at level 9; false when the result would be no smaller than the input.
bool Deflate(const void* data, uint32_t size, std::unique_ptr<uint8_t[]>& compressed,
             uint32_t& compressedSize) {
  z_stream stream = {};
  if (deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  uLong bound = deflateBound(&stream, size);
  compressed.reset(new (std::nothrow) uint8_t[bound]);
  bool ok = false;
  if (compressed) {
    stream.next_in = static_cast<Bytef*>(const_cast<void*>(data));
    stream.avail_in = size;
    stream.next_out = compressed.get();
    stream.avail_out = static_cast<uInt>(bound);
    ok = deflate(&stream, Z_FINISH) == Z_STREAM_END && stream.total_out < size;
    if (ok) compressedSize = static_cast<uint32_t>(stream.total_out);
  }
  deflateEnd(&stream);
  return ok;
}

// The name in UTF-8, which holds every name; false for one that is no text (a lone surrogate).
bool ToUtf8Name(const wchar_t* wide, std::string& name) {
  int size = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return false;
  name.resize(static_cast<size_t>(size));
  if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, &name[0], size, nullptr, nullptr) != size)
    return false;
  name.pop_back();
  return true;
}

}  // namespace

bool AddEntryToArchive(const std::wstring& path, const std::string& name, const void* data,
                       uint32_t size) {
  if (!ValidEntryName(name) || size == kLimit32) return false;

  EntryRecord entry;
  // Readers take names without the flag in a code page of their own choosing.
  if (std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
    entry.flags = kFlagUtf8;
  DosTimeNow(entry.time, entry.date);
  entry.size = size;
  entry.crc = static_cast<uint32_t>(crc32(crc32(0, nullptr, 0), static_cast<const Bytef*>(data), size));
  std::unique_ptr<uint8_t[]> compressed;
  const void* payload = data;
  entry.compressedSize = size;
  if (size > 0 && Deflate(data, size, compressed, entry.compressedSize)) {
    entry.method = kMethodDeflated;
    payload = compressed.get();
  }

  bool created = false;
  utils::FileHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) {
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    HANDLE fresh = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (fresh == INVALID_HANDLE_VALUE) return false;
    file.Reset(fresh);
    created = true;
  }

  // Where the new entry goes: over the old central directory, which is written again after it.
  uint64_t writeAt = 0;
  uint64_t startOffset = 0;
  uint64_t oldSize = 0;
  size_t oldCount = 0;
  std::vector<uint8_t> directory;
  std::unique_ptr<uint8_t[]> oldTail;
  uint32_t oldTailSize = 0;
  if (!created) {
    LARGE_INTEGER fileSize;
    if (!GetFileSizeEx(file.Get(), &fileSize)) return false;
    oldSize = static_cast<uint64_t>(fileSize.QuadPart);
    FileSource source(file.Get(), nullptr);
    ZipReader reader;
    if (!reader.Open(&source, oldSize)) return false;
    writeAt = reader.CentralDirectoryOffset();
    startOffset = reader.StartOffset();
    oldCount = reader.EntryCount();
    entry.disk = reader.Disk();
    directory = reader.CentralDirectory();
    // Kept to put the archive back as it was if writing fails half-way.
    if (oldSize - writeAt >= kLimit32) return false;
    oldTailSize = static_cast<uint32_t>(oldSize - writeAt);
    oldTail.reset(new (std::nothrow) uint8_t[oldTailSize]);
    if (!oldTail || source.Read(writeAt, oldTail.get(), oldTailSize) != oldTailSize) return false;
  }

  std::vector<uint8_t> local;
  std::vector<uint8_t> tail;
  uint64_t localOffset = writeAt - startOffset;
  uint64_t directoryOffset = localOffset + kLocalHeaderSize + name.size() + entry.compressedSize;
  uint64_t directorySize = directory.size() + kCentralHeaderSize + name.size();
  bool fits = oldCount + 1 < kLimitEntries && directoryOffset < kLimit32 &&
              directorySize < kLimit32 && directoryOffset + directorySize < kLimit32;
  bool ok = false;
  if (fits) {
    entry.localOffset = static_cast<uint32_t>(localOffset);
    local = LocalHeader(entry, name);
    tail = std::move(directory);
    PutCentralHeader(tail, entry, name);
    PutEndRecord(tail, entry.disk, static_cast<uint16_t>(oldCount + 1),
                 static_cast<uint32_t>(directorySize), static_cast<uint32_t>(directoryOffset));
    ok = Seek(file.Get(), writeAt) && WriteAll(file.Get(), local.data(), local.size()) &&
         WriteAll(file.Get(), payload, entry.compressedSize) &&
         WriteAll(file.Get(), tail.data(), tail.size()) && SetEndOfFile(file.Get());
  }
  if (ok) return true;

  if (created) {
    file.Close();
    DeleteFileW(path.c_str());
  } else if (fits) {
    if (Seek(file.Get(), writeAt)) WriteAll(file.Get(), oldTail.get(), oldTailSize);
    if (Seek(file.Get(), oldSize)) SetEndOfFile(file.Get());
  }
  return false;
}

bool AddFileToZip(const std::wstring& zipPath, const std::wstring& sourcePath) {
  std::string name;
  if (!ToUtf8Name(PathFindFileNameW(sourcePath.c_str()), name)) return false;

  utils::FileHandle source(CreateFileW(sourcePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!source.Valid()) return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(source.Get(), &size) || size.QuadPart >= kLimit32) return false;
  DWORD length = static_cast<DWORD>(size.QuadPart);
  std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[length ? length : 1]);
  if (!data) return false;
  DWORD read = 0;
  if (length > 0 && (!ReadFile(source.Get(), data.get(), length, &read, nullptr) || read != length))
    return false;
  source.Close();
  return AddEntryToArchive(zipPath, name, data.get(), length);
}

}  // namespace stubframework::zip
