#pragma once
// The 108-entry language table (number = index, two-letter code, English name) and the mapping
// from Windows language identifiers to language numbers.
#include <windows.h>

#include <string>

namespace stubframework::core {
class StubParameters;
}

namespace stubframework::methods {

struct LanguageEntry {
  const wchar_t* code;
  const wchar_t* name;
};

constexpr int kLanguageCount = 108;
extern const LanguageEntry kLanguages[kLanguageCount];

// Language number of a 16-bit language identifier; 0 ("other") when unknown.
int LanguageNumberFromLangId(WORD languageId);

// The number from 1 to 107 whose code equals code exactly; 0 when none does.
int LanguageNumberFromCode(const std::wstring& code);

// Selects a table entry as the run's install language: the parameters' installLanguage, the
// property "lang" and the product key's "install_language". False for a number outside 0..107.
bool SetInstallLanguage(core::StubParameters& parameters, int languageNumber);

// Stores the install status in the parameters and as the product key's "status".
void SetInstallStatus(core::StubParameters& parameters, int status);

}  // namespace stubframework::methods
