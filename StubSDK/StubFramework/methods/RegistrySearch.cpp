#include "methods/RegistrySearch.h"

#include <algorithm>
#include <cwctype>

#include "core/UniqueHandle.h"

namespace stubframework::methods {
namespace {

// Far deeper than any product key lies; it ends the walk where a registry link leads back to one
// of its own parents.
constexpr long kMaxSearchDepth = 64;

bool SameIgnoringCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (towlower(a[i]) != towlower(b[i])) return false;
  return true;
}

// relative ends with a backslash; its text just before that is what a suffix must match.
bool EndsWithSuffix(const std::wstring& relative, const std::wstring& suffix) {
  if (relative.size() <= suffix.size()) return false;
  return SameIgnoringCase(relative.substr(relative.size() - 1 - suffix.size(), suffix.size()), suffix);
}

}  // namespace

std::vector<std::wstring> SplitSearchSuffixes(const std::wstring& suffixes) {
  std::vector<std::wstring> items;
  size_t start = 0;
  while (start <= suffixes.size()) {
    size_t end = suffixes.find(L';', start);
    if (end == std::wstring::npos) end = suffixes.size();
    if (end > start) items.push_back(suffixes.substr(start, end - start));
    start = end + 1;
  }
  return items;
}

void SearchRegistryKeys(bool view64, HKEY parent, const std::wstring& subkey, const std::wstring& relative,
                        const std::vector<std::wstring>& suffixes, const std::wstring& valueName,
                        std::wstring& foundPath, bool& found) {
  if (found || suffixes.empty() || !parent) return;
  if (std::count(relative.begin(), relative.end(), L'\\') > kMaxSearchDepth) return;
  utils::RegistryKey key;
  if (RegOpenKeyExW(parent, subkey.c_str(), 0, KEY_READ | (view64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY), key.Out()) !=
      ERROR_SUCCESS)
    return;

  if (RegQueryValueExW(key.Get(), valueName.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
    for (const std::wstring& suffix : suffixes) {
      if (EndsWithSuffix(relative, suffix)) {
        found = true;
        foundPath = relative;
        break;
      }
    }
    return;
  }

  DWORD subkeyCount = 0;
  if (RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeyCount, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return;
  for (DWORD index = 0; index < subkeyCount && !found; ++index) {
    wchar_t name[260];
    DWORD nameLength = 260;
    if (RegEnumKeyExW(key.Get(), index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      continue;
    std::wstring child(name, nameLength);
    SearchRegistryKeys(view64, key.Get(), child, relative + child + L"\\", suffixes, valueName, foundPath, found);
  }
}

}  // namespace stubframework::methods
