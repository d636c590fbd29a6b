// The key search behind searchRegKey: the suffix list, the depth-first order and the relative
// path of the key found.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "core/UniqueHandle.h"
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
  stubframework::utils::KernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Out())) return L"";
  BYTE buffer[256];
  DWORD length = 0;
  wchar_t* sid = nullptr;
  if (!GetTokenInformation(token.Get(), TokenUser, buffer, sizeof(buffer), &length) ||
      !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid))
    return L"";
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
  {
    stubframework::utils::RegistryKey link;
    LONG created = RegCreateKeyExW(HKEY_CURRENT_USER, (top + L"\\Loop\\Back").c_str(), 0, nullptr,
                                   REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE, KEY_ALL_ACCESS | KEY_CREATE_LINK,
                                   nullptr, link.Out(), nullptr);
    if (created != ERROR_SUCCESS) GTEST_SKIP() << "registry links cannot be made here: " << created;
    ASSERT_EQ(RegSetValueExW(link.Get(), L"SymbolicLinkValue", 0, REG_LINK,
                             reinterpret_cast<const BYTE*>(target.data()),
                             static_cast<DWORD>(target.size() * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }

  std::wstring found;
  bool isFound = false;
  methods::SearchRegistryKeys(false, HKEY_CURRENT_USER, top, L"", {L"{Missing}"}, L"DisplayName", found,
                              isFound);
  EXPECT_FALSE(isFound);

  stubframework::utils::RegistryKey loop;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, (top + L"\\Loop").c_str(), 0, KEY_ALL_ACCESS, loop.Out()) == ERROR_SUCCESS) {
    // The link itself goes with the option that opens it rather than its target.
    {
      stubframework::utils::RegistryKey opened;
      if (RegOpenKeyExW(loop.Get(), L"Back", REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS, opened.Out()) == ERROR_SUCCESS)
        RegDeleteValueW(opened.Get(), L"SymbolicLinkValue");
    }
    RegDeleteKeyW(loop.Get(), L"Back");
    loop.Close();
  }
  testsupport::DeleteKeyTree(HKEY_CURRENT_USER, top);
}
