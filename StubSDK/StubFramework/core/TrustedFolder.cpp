#include "core/TrustedFolder.h"

#include <windows.h>

#include <cwchar>

#include "core/CommonFolders.h"
#include "core/PlainPath.h"
#include "core/WorkingFolders.h"

namespace stubframework::utils {

bool IsTrustedTempFolder(const std::wstring& folder) {
  std::wstring temp;
  if (folder.empty() || folder.size() >= MAX_PATH || !GetLongTempPath(temp)) return false;
  std::wstring path = folder.back() == L'\\' ? folder : folder + L'\\';
  if (path.size() <= temp.size() || _wcsnicmp(path.c_str(), temp.c_str(), temp.size()) != 0) return false;
  // Each element below the temporary directory, checked on the disk as it is now.
  for (size_t start = temp.size(); start < path.size();) {
    size_t end = path.find(L'\\', start);
    if (!IsPlainFolderName(path.substr(start, end - start)) || !IsPlainFolder(path.substr(0, end))) return false;
    start = end + 1;
  }
  // A short name spells the same folder another way.
  wchar_t longForm[MAX_PATH] = {};
  DWORD length = GetLongPathNameW(path.c_str(), longForm, MAX_PATH);
  return length == path.size() && _wcsnicmp(longForm, path.c_str(), length) == 0;
}

}  // namespace stubframework::utils
