#include <gtest/gtest.h>

#include "methods/LanguageTable.h"

using namespace stubframework::methods;

TEST(LanguageTable, HasItsFixedEntries) {
  EXPECT_STREQ(kLanguages[0].code, L"other");
  EXPECT_STREQ(kLanguages[1].name, L"English");
  EXPECT_STREQ(kLanguages[5].code, L"jp");
  EXPECT_STREQ(kLanguages[13].code, L"tw");
  EXPECT_STREQ(kLanguages[13].name, L"Traditional Chinese");
  EXPECT_STREQ(kLanguages[107].code, L"zu");
  EXPECT_STREQ(kLanguages[107].name, L"Zulu");
}

TEST(LanguageNumberFromLangId, WholeIdentifiersThenThePrimaryLanguage) {
  EXPECT_EQ(LanguageNumberFromLangId(1033), 1);
  EXPECT_EQ(LanguageNumberFromLangId(3081), 1);   // English, Australia
  EXPECT_EQ(LanguageNumberFromLangId(5129), 1);   // English, New Zealand
  EXPECT_EQ(LanguageNumberFromLangId(2070), 7);   // Portuguese, Portugal
  EXPECT_EQ(LanguageNumberFromLangId(1034), 6);   // Spanish, traditional sort
  EXPECT_EQ(LanguageNumberFromLangId(1041), 5);
  EXPECT_EQ(LanguageNumberFromLangId(5124), 13);
  EXPECT_EQ(LanguageNumberFromLangId(4100), 12);
  EXPECT_EQ(LanguageNumberFromLangId(1053), 87);  // Swedish
  EXPECT_EQ(LanguageNumberFromLangId(1169), 79);  // Scottish Gaelic (primary 145)
  EXPECT_EQ(LanguageNumberFromLangId(0), 0);
  EXPECT_EQ(LanguageNumberFromLangId(0x3FF), 0);
}

TEST(LanguageNumberFromLangId, CzechAndKoreanOnlyByTheirExactIdentifiers) {
  EXPECT_EQ(LanguageNumberFromLangId(1029), 11);
  EXPECT_EQ(LanguageNumberFromLangId(1042), 9);
  EXPECT_EQ(LanguageNumberFromLangId(0x0805), 0);
  EXPECT_EQ(LanguageNumberFromLangId(0x0812), 0);
}

TEST(LanguageNumberFromLangId, PrimaryLanguage26IsDecidedByTheWholeIdentifier) {
  EXPECT_EQ(LanguageNumberFromLangId(1050), 29);  // Croatian
  EXPECT_EQ(LanguageNumberFromLangId(4122), 29);
  EXPECT_EQ(LanguageNumberFromLangId(5146), 25);  // Bosnian
  EXPECT_EQ(LanguageNumberFromLangId(8218), 25);
  EXPECT_EQ(LanguageNumberFromLangId(2074), 80);  // Serbian
  EXPECT_EQ(LanguageNumberFromLangId(12314), 80);
  EXPECT_EQ(LanguageNumberFromLangId(0x041A + 0x3000), 0);
}

TEST(LanguageNumberFromCode, ExactTwoLetterCodesOnly) {
  EXPECT_EQ(LanguageNumberFromCode(L"zu"), 107);
  EXPECT_EQ(LanguageNumberFromCode(L"en"), 1);
  EXPECT_EQ(LanguageNumberFromCode(L"EN"), 0);
  EXPECT_EQ(LanguageNumberFromCode(L"other"), 0);
  EXPECT_EQ(LanguageNumberFromCode(L""), 0);
  EXPECT_EQ(LanguageNumberFromCode(L"eng"), 0);
}
