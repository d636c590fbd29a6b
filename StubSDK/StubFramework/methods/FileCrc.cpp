#include "methods/FileCrc.h"

#include <zlib.h>

#include <memory>
#include <new>

#include "core/UniqueHandle.h"
#include "methods/RegularFile.h"

namespace stubframework::methods {

constexpr DWORD kBlockSize = 1024 * 1024;

bool ComputeFileCrc(const std::wstring& path, DWORD& crc) {
  crc = 0;
  // Readers only: nobody may write the file while its CRC is taken.
  utils::FileHandle file(OpenRegularFile(path, GENERIC_READ, FILE_SHARE_READ));
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
