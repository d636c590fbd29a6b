#include "core/LockedFile.h"

namespace stubframework::utils {

HANDLE OpenLockedForUse(const std::wstring& path) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION information;
  // A link would be held while the system runs what it points to; a second name could be written.
  if (!file.Valid() || !GetFileInformationByHandle(file.Get(), &information) ||
      (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
      information.nNumberOfLinks != 1)
    return INVALID_HANDLE_VALUE;
  return file.Release();
}

}  // namespace stubframework::utils
