#include <gtest/gtest.h>

#include "core/Registry.h"
#include "core/UniqueHandle.h"
#include "support/TestCore.h"
#include "support/TestSupport.h"

using namespace stubframework::utils;

namespace {

const wchar_t kTestKey[] = L"HKEY_CURRENT_USER\\Software\\HalvernRegistryTest";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { Clean(); }
  void TearDown() override { Clean(); }
  static void Clean() {
    testsupport::DeleteKeyTree(HKEY_CURRENT_USER, L"Software\\HalvernRegistryTest");
    testsupport::DeleteKeyTree(HKEY_LOCAL_MACHINE, L"Software\\HalvernRegistryTest");
  }
};

}  // namespace

TEST(RegistryRoot, KnowsEveryRootNameWithoutRegardToCase) {
  struct Case {
    const wchar_t* path;
    HKEY root;
  } cases[] = {
      {L"HKEY_LOCAL_MACHINE\\x", HKEY_LOCAL_MACHINE}, {L"hklm\\x", HKEY_LOCAL_MACHINE},
      {L"HKEY_CURRENT_USER\\x", HKEY_CURRENT_USER},   {L"HkCu\\x", HKEY_CURRENT_USER},
      {L"HKEY_CURRENT_CONFIG\\x", HKEY_CURRENT_CONFIG}, {L"HKCC\\x", HKEY_CURRENT_CONFIG},
      {L"HKEY_USERS\\x", HKEY_USERS},                 {L"HKU\\x", HKEY_USERS},
      {L"HKEY_CLASSES_ROOT\\x", HKEY_CLASSES_ROOT},   {L"HKCR\\x", HKEY_CLASSES_ROOT},
      {L"HKEY_DTN_DATA\\x", reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000006))},
      {L"HKDD\\x", reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000006))},
  };
  for (const Case& c : cases) {
    HKEY root = nullptr;
    std::wstring subkey;
    EXPECT_TRUE(RegistryRoot(c.path, root, subkey)) << c.path;
    EXPECT_EQ(root, c.root) << c.path;
    EXPECT_EQ(subkey, L"x");
  }
}

TEST(RegistryRoot, SplitsAtTheFirstBackslashAndRefusesUnknownRoots) {
  HKEY root = nullptr;
  std::wstring subkey;
  ASSERT_TRUE(RegistryRoot(L"HKCU\\Software\\A\\B", root, subkey));
  EXPECT_EQ(subkey, L"Software\\A\\B");
  ASSERT_TRUE(RegistryRoot(L"HKLM", root, subkey));
  EXPECT_EQ(root, HKEY_LOCAL_MACHINE);
  EXPECT_EQ(subkey, L"HKLM");
  EXPECT_FALSE(RegistryRoot(L"HKEY_NOWHERE\\Software", root, subkey));
  EXPECT_EQ(root, nullptr);
  EXPECT_FALSE(RegistryRoot(L"", root, subkey));
}

TEST_F(RegistryTest, WritesAndReadsStringsThroughShortAndLongRootNames) {
  ASSERT_TRUE(WriteRegistryString(L"hkcu\\Software\\HalvernRegistryTest\\Deep\\Key", L"name", L"value", false));
  std::wstring text;
  ASSERT_TRUE(ReadRegistryValue(L"HKEY_CURRENT_USER\\Software\\HalvernRegistryTest\\Deep\\Key", L"name", text));
  EXPECT_EQ(text, L"value");
  ASSERT_TRUE(WriteRegistryString(kTestKey, L"", L"default", true));
  ASSERT_TRUE(ReadRegistryValue(kTestKey, L"", text));
  EXPECT_EQ(text, L"default");
}

TEST_F(RegistryTest, ReadChangesTheTextOnlyOnSuccessAndFailsForABareRoot) {
  std::wstring text = L"unchanged";
  EXPECT_FALSE(ReadRegistryValue(kTestKey, L"missing", text));
  EXPECT_FALSE(ReadRegistryValue(L"HKLM", L"", text));
  EXPECT_FALSE(ReadRegistryValue(L"Nowhere\\Software", L"x", text));
  EXPECT_EQ(text, L"unchanged");
  EXPECT_FALSE(WriteRegistryString(L"Nowhere\\Software\\X", L"x", L"y", false));
}

TEST_F(RegistryTest, DwordsReadAsSignedDecimal) {
  ASSERT_TRUE(WriteRegistryValue(kTestKey, L"max", L"4294967295", REG_DWORD, false));
  ASSERT_TRUE(WriteRegistryValue(kTestKey, L"seven", L"  +7", REG_DWORD, false));
  ASSERT_TRUE(WriteRegistryValue(kTestKey, L"negative", L"-2147483648", REG_DWORD, false));
  ASSERT_TRUE(WriteRegistryValue(kTestKey, L"prefix", L"12abc", REG_DWORD, false));
  std::wstring text;
  ASSERT_TRUE(ReadRegistryValue(kTestKey, L"max", text));
  EXPECT_EQ(text, L"-1");
  ASSERT_TRUE(ReadRegistryValue(kTestKey, L"seven", text));
  EXPECT_EQ(text, L"7");
  ASSERT_TRUE(ReadRegistryValue(kTestKey, L"negative", text));
  EXPECT_EQ(text, L"-2147483648");
  ASSERT_TRUE(ReadRegistryValue(kTestKey, L"prefix", text));
  EXPECT_EQ(text, L"12");
}

TEST_F(RegistryTest, DwordTextWithoutANumberOrOutOfRangeIsRefusedAndWritesNothing) {
  for (const wchar_t* bad : {L"", L"abc", L"-", L" ", L"4294967296", L"-2147483649", L"99999999999999999999"}) {
    EXPECT_FALSE(WriteRegistryValue(kTestKey, L"bad", bad, REG_DWORD, false)) << bad;
    std::wstring text;
    EXPECT_FALSE(ReadRegistryValue(kTestKey, L"bad", text)) << bad;
  }
}

TEST_F(RegistryTest, OtherTypesAreWrittenAsText) {
  ASSERT_TRUE(WriteRegistryValue(kTestKey, L"expand", L"%TEMP%\\x", REG_EXPAND_SZ, false));
  RegistryKey key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\HalvernRegistryTest", 0, KEY_READ, key.Out()), ERROR_SUCCESS);
  DWORD type = 0;
  wchar_t data[64] = {};
  DWORD size = sizeof(data);
  ASSERT_EQ(RegQueryValueExW(key.Get(), L"expand", nullptr, &type, reinterpret_cast<BYTE*>(data), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(size, (wcslen(L"%TEMP%\\x") + 1) * sizeof(wchar_t));
  EXPECT_STREQ(data, L"%TEMP%\\x");
}

TEST_F(RegistryTest, AValueOver512BytesCountsAsMissing) {
  ASSERT_TRUE(WriteRegistryString(kTestKey, L"fits", std::wstring(255, L'a'), false));
  ASSERT_TRUE(WriteRegistryString(kTestKey, L"long", std::wstring(300, L'b'), false));
  std::wstring text;
  ASSERT_TRUE(ReadRegistryValue(kTestKey, L"fits", text));
  EXPECT_EQ(text, std::wstring(255, L'a'));
  EXPECT_FALSE(ReadRegistryValue(kTestKey, L"long", text));
}

TEST_F(RegistryTest, ReadsThe64BitViewFirstAndFallsBackToThe32BitView) {
  const wchar_t path[] = L"HKLM\\Software\\HalvernRegistryTest";
  ASSERT_TRUE(WriteRegistryString(path, L"Version", L"from32", false));
  std::wstring text;
  ASSERT_TRUE(ReadRegistryValue(path, L"Version", text));
  EXPECT_EQ(text, L"from32");
  ASSERT_TRUE(WriteRegistryString(path, L"Version", L"from64", true));
  ASSERT_TRUE(ReadRegistryValue(path, L"Version", text));
  EXPECT_EQ(text, L"from64");
}

TEST_F(RegistryTest, DeletingAKeyWithSubkeysFailsAndLeavesIt) {
  ASSERT_TRUE(WriteRegistryString(L"HKCU\\Software\\HalvernRegistryTest\\Child", L"v", L"1", false));
  EXPECT_FALSE(DeleteRegistryKey(kTestKey, false));
  std::wstring text;
  EXPECT_TRUE(ReadRegistryValue(L"HKCU\\Software\\HalvernRegistryTest\\Child", L"v", text));
  EXPECT_TRUE(DeleteRegistryKey(L"HKCU\\Software\\HalvernRegistryTest\\Child", false));
  EXPECT_TRUE(DeleteRegistryKey(kTestKey, false));
  EXPECT_FALSE(DeleteRegistryKey(kTestKey, false));
  EXPECT_FALSE(DeleteRegistryKey(L"Nowhere\\Key", false));
}

TEST(ProductRegistryKey, JoinsCodeAndMajorVersionUnderTheFrameworkKey) {
  EXPECT_EQ(ProductRegistryKey(testsupport::kProductCode, testsupport::kProductMajorVersion),
            testsupport::kProductRegistryKey);
  EXPECT_EQ(MajorVersion(testsupport::kProductVersion), testsupport::kProductMajorVersion);
  EXPECT_EQ(MajorVersion(L"77"), L"77");
  EXPECT_EQ(MajorVersion(L""), L"");
}
