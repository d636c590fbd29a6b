// The key search behind searchRegKey: the suffix list, the depth-first order and the relative
// path of the key found.
#include <gtest/gtest.h>

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
