#include "core/LockedFile.h"

#include "core/PlainPath.h"

namespace stubframework::utils {

HANDLE OpenLockedForUse(const std::wstring& path) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  // A link would be held while the system runs what it points to; a second name could be written.
  if (!file.Valid() || !IsPlainFile(file.Get())) return INVALID_HANDLE_VALUE;
  return file.Release();
}

}  // namespace stubframework::utils
