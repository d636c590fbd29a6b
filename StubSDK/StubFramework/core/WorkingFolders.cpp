#include "core/WorkingFolders.h"

#include <shlwapi.h>

#include <cwchar>

#include "core/TrustedFolder.h"

namespace stubframework::utils {

bool GetLongTempPath(std::wstring& path) {
  wchar_t shortPath[MAX_PATH] = {};
  DWORD length = GetTempPathW(MAX_PATH, shortPath);
  if (length == 0 || length >= MAX_PATH - 1) return false;
  std::wstring temp(shortPath, length);
  if (temp.back() != L'\\') temp += L'\\';
  wchar_t longPath[520] = {};
  DWORD longLength = GetLongPathNameW(temp.c_str(), longPath, 520);
  if (longLength > 0 && longLength < 520) temp.assign(longPath, longLength);
  if (temp.back() != L'\\') temp += L'\\';
  path = temp;
  return true;
}

bool CreateUniqueFolderIn(const std::wstring& base, DWORD firstNumber, std::wstring& path) {
  DWORD number = firstNumber;
  // Bounded so that a directory that refuses every name cannot spin for ever.
  for (int attempt = 0; attempt < 100000; ++attempt, ++number) {
    wchar_t name[16];
    swprintf(name, 16, L"%x", number);
    std::wstring candidate = base + name + L"\\";
    if (PathFileExistsW(candidate.c_str())) continue;
    if (CreateDirectoryW(candidate.c_str(), nullptr)) {
      path = candidate;
      return true;
    }
    // Another thread or process took the name between the test and the creation.
    if (GetLastError() == ERROR_ALREADY_EXISTS) continue;
    return false;
  }
  return false;
}

bool CreateUniqueTempFolder(std::wstring& path) {
  std::wstring temp;
  if (!GetLongTempPath(temp)) return false;
  if (!PathFileExistsW(temp.c_str())) return false;
  return CreateUniqueFolderIn(temp, GetTickCount(), path);
}

bool GetTempSubfolder(const std::wstring& name, std::wstring& path) {
  std::wstring temp;
  if (!GetLongTempPath(temp)) return false;
  // The long form may be longer than the short one: one that does not fit would be cut short.
  if (temp.size() >= MAX_PATH) return false;
  wchar_t combined[MAX_PATH] = {};
  wcsncpy(combined, temp.c_str(), MAX_PATH - 1);
  if (!PathAppendW(combined, name.c_str())) return false;
  std::wstring result = combined;
  if (result.empty() || result.back() != L'\\') result += L'\\';
  CreateDirectoryW(result.c_str(), nullptr);
  // The name is fixed, so another program of the user may have put a link or a file there first:
  // the elevated stub's logs would follow a link anywhere.
  if (!IsTrustedTempFolder(result)) return false;
  path = result;
  return true;
}

namespace {

bool IsLink(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

bool DeleteFolderTree(const std::wstring& path) {
  if (path.empty()) return false;
  std::wstring folder = path;
  if (folder.back() != L'\\') folder += L'\\';
  // A linked folder given as the path itself is unlinked like one found inside the tree.
  std::wstring self = folder.substr(0, folder.size() - 1);
  if (IsLink(self)) return RemoveDirectoryW(self.c_str()) != FALSE;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring entry = folder + data.cFileName;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0) continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
          RemoveDirectoryW(entry.c_str());  // removes the link, not what it points to
        else
          DeleteFolderTree(entry + L"\\");
      } else {
        DeleteFileW(entry.c_str());
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  return RemoveDirectoryW(folder.c_str()) != FALSE;
}

}  // namespace stubframework::utils

namespace stubframework::utils {

bool IsBelowTempFolder(const std::wstring& path) {
  std::wstring temp;
  if (path.empty() || !GetLongTempPath(temp)) return false;
  wchar_t full[MAX_PATH] = {};
  DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
  if (length == 0 || length >= MAX_PATH) return false;
  std::wstring resolved(full, length);
  wchar_t longForm[520] = {};
  DWORD longLength = GetLongPathNameW(resolved.c_str(), longForm, 520);
  if (longLength > 0 && longLength < 520) resolved.assign(longForm, longLength);
  if (resolved.back() != L'\\') resolved += L'\\';
  if (resolved.size() <= temp.size() || _wcsnicmp(resolved.c_str(), temp.c_str(), temp.size()) != 0)
    return false;
  // A linked folder on the way (anyone may make one in the temporary directory) leads anywhere.
  return !HasLinkBelow(resolved, temp.size());
}

bool HasLinkBelow(const std::wstring& path, size_t baseLength) {
  for (size_t end = path.find(L'\\', baseLength); end != std::wstring::npos; end = path.find(L'\\', end + 1))
    if (end > baseLength && IsLink(path.substr(0, end))) return true;
  return baseLength < path.size() && path.back() != L'\\' && IsLink(path);
}

}  // namespace stubframework::utils
