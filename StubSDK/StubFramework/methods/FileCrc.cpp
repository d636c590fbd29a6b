#include "methods/FileCrc.h"

#include <zlib.h>

#include <memory>
#include <new>

#include "core/FileHandle.h"

namespace stubframework::methods {

constexpr DWORD kBlockSize = 1024 * 1024;

bool ComputeFileCrc(const std::wstring& path, DWORD& crc) {
  crc = 0;
  utils::FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return false;
  std::unique_ptr<Bytef[]> block(new (std::nothrow) Bytef[kBlockSize]);
  if (!block) return false;
  uLong value = crc32(0, nullptr, 0);
  for (;;) {
    DWORD read = 0;
    // A read error would leave the CRC of part of the file, which must not pass for the whole.
    if (!ReadFile(file.Get(), block.get(), kBlockSize, &read, nullptr)) return false;
    if (read == 0) break;
    value = crc32(value, block.get(), read);
  }
  crc = static_cast<DWORD>(value);
  return true;
}

}  // namespace stubframework::methods
