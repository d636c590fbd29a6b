#include "core/PlainPath.h"

namespace stubframework::utils {

bool IsPlainFolder(std::wstring path) {
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool IsLink(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool IsPlainFile(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION information = {};
  return GetFileInformationByHandle(file, &information) &&
         !(information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
         information.nNumberOfLinks == 1;
}

}  // namespace stubframework::utils
