#include "methods/RegularFile.h"

#include <cwchar>
#include <cwctype>

#include "core/DeviceName.h"
#include "core/UniqueHandle.h"

namespace stubframework::methods {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
  return text.compare(0, wcslen(prefix), prefix) == 0;
}

}  // namespace

bool IsDeviceName(const std::wstring& path) {
  if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) && IsSeparator(path[3])) {
    if (path[2] == L'.') return true;
    if (path[2] == L'?') {
      std::wstring rest = path.substr(4);
      bool drivePath = rest.size() >= 3 && iswalpha(rest[0]) && rest[1] == L':' && IsSeparator(rest[2]);
      bool uncPath = rest.size() >= 4 && (StartsWith(rest, L"UNC") || StartsWith(rest, L"unc")) &&
                     IsSeparator(rest[3]);
      if (!drivePath && !uncPath) return true;
    }
  }
  size_t start = path.find_last_of(L"\\/");
  std::wstring component = start == std::wstring::npos ? path : path.substr(start + 1);
  // A drive-relative name (C:COM1) names the component after the drive.
  if (start == std::wstring::npos && component.size() >= 2 && iswalpha(component[0]) && component[1] == L':')
    component.erase(0, 2);
  return utils::IsReservedDeviceName(component);
}

HANDLE OpenRegularFile(const std::wstring& path, DWORD access, DWORD share) {
  if (path.empty() || IsDeviceName(path)) return INVALID_HANDLE_VALUE;
  utils::FileHandle file(
      CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.Valid() && GetFileType(file.Get()) != FILE_TYPE_DISK) return INVALID_HANDLE_VALUE;
  return file.Release();
}

bool IsRegularFile(const std::wstring& path) {
  utils::FileHandle file(
      OpenRegularFile(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
  return file.Valid();
}

}  // namespace stubframework::methods
