// The key search behind searchRegKey: the suffix list, the depth-first order and the relative
// path of the key found.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "methods/RegistrySearch.h"
#include "support/TestSupport.h"

using namespace stubframework;

TEST(RegistrySearch, SuffixListDropsEmptyItems) {
  EXPECT_EQ(methods::SplitSearchSuffixes(L"{A};;{B}"), (std::vector<std::wstring>{L"{A}", L"{B}"}));
  EXPECT_EQ(methods::SplitSearchSuffixes(L";x;"), (std::vector<std::wstring>{L"x"}));
  EXPECT_TRUE(methods::SplitSearchSuffixes(L";;").empty());
  EXPECT_TRUE(methods::SplitSearchSuffixes(L"").empty());
}

TEST(RegistrySearch, FindsTheFirstKeyDepthFirstAndReportsItsRelativePath) {
  const std::wstring top = L"Software\\HalvernSearchUnitTest";
  testsupport::DeleteKeyTree(HKEY_CURRENT_USER, top);
  const wchar_t* const withValue[] = {L"\\A\\Deep\\Code1", L"\\B\\Code1", L"\\C\\Code2"};
  for (const wchar_t* key : withValue) {
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, (top + key).c_str(), L"DisplayName", REG_SZ, L"x", 4),
              ERROR_SUCCESS);
  }

  std::wstring found;
  bool isFound = false;
  methods::SearchRegistryKeys(false, HKEY_CURRENT_USER, top, L"", {L"code2", L"CODE1"}, L"DisplayName", found,
                              isFound);
  EXPECT_TRUE(isFound);
  EXPECT_EQ(found, L"A\\Deep\\Code1\\");  // A comes first; the list order does not matter

  // Once found, further calls change nothing.
  methods::SearchRegistryKeys(false, HKEY_CURRENT_USER, top, L"", {L"Code2"}, L"DisplayName", found, isFound);
  EXPECT_EQ(found, L"A\\Deep\\Code1\\");

  found.clear();
  isFound = false;
  methods::SearchRegistryKeys(false, HKEY_CURRENT_USER, top, L"", {L"Deep"}, L"DisplayName", found, isFound);
  EXPECT_FALSE(isFound) << "Deep has no value of that name";
  testsupport::DeleteKeyTree(HKEY_CURRENT_USER, top);
}

namespace {

// The native path of a key under HKEY_CURRENT_USER, which a registry link must name.
std::wstring CurrentUserNativePath(const std::wstring& subkey) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return L"";
  BYTE buffer[256];
  DWORD length = 0;
  BOOL ok = GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &length);
  CloseHandle(token);
  wchar_t* sid = nullptr;
  if (!ok || !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) return L"";
  std::wstring path = std::wstring(L"\\Registry\\User\\") + sid + L"\\" + subkey;
  LocalFree(sid);
  return path;
}

}  // namespace

TEST(RegistrySearch, AKeyLinkedToItsOwnParentEndsTheSearchWithoutAMatch) {
  const std::wstring top = L"Software\\HalvernSearchLinkTest";
  testsupport::DeleteKeyTree(HKEY_CURRENT_USER, top);
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, (top + L"\\Loop\\Other").c_str(), L"Name", REG_SZ, L"x", 4),
            ERROR_SUCCESS);
  std::wstring target = CurrentUserNativePath(top + L"\\Loop");
  ASSERT_FALSE(target.empty());
  HKEY link = nullptr;
  LONG created = RegCreateKeyExW(HKEY_CURRENT_USER, (top + L"\\Loop\\Back").c_str(), 0, nullptr,
                                 REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE, KEY_ALL_ACCESS | KEY_CREATE_LINK,
                                 nullptr, &link, nullptr);
  if (created != ERROR_SUCCESS) GTEST_SKIP() << "registry links cannot be made here: " << created;
  LONG set = RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target.data()),
                            static_cast<DWORD>(target.size() * sizeof(wchar_t)));
  RegCloseKey(link);
  ASSERT_EQ(set, ERROR_SUCCESS);

  std::wstring found;
  bool isFound = false;
  methods::SearchRegistryKeys(false, HKEY_CURRENT_USER, top, L"", {L"{Missing}"}, L"DisplayName", found,
                              isFound);
  EXPECT_FALSE(isFound);

  HKEY loop = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, (top + L"\\Loop").c_str(), 0, KEY_ALL_ACCESS, &loop) == ERROR_SUCCESS) {
    // The link itself goes with the option that opens it rather than its target.
    HKEY opened = nullptr;
    if (RegOpenKeyExW(loop, L"Back", REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS, &opened) == ERROR_SUCCESS) {
      RegDeleteValueW(opened, L"SymbolicLinkValue");
      RegCloseKey(opened);
    }
    RegDeleteKeyW(loop, L"Back");
    RegCloseKey(loop);
  }
  testsupport::DeleteKeyTree(HKEY_CURRENT_USER, top);
}
