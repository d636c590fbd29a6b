#include "core/DeviceName.h"

#include <cwctype>

namespace stubframework::utils {
namespace {

bool SameLetters(const std::wstring& text, size_t length, const wchar_t* name) {
  for (size_t i = 0; i < length; ++i)
    if (name[i] == 0 || towupper(text[i]) != name[i]) return false;
  return name[length] == 0;
}

bool IsPortDigit(wchar_t c) {
  return (c >= L'1' && c <= L'9') || c == 0x00B9 || c == 0x00B2 || c == 0x00B3;  // also ¹ ² ³
}

}  // namespace

bool IsReservedDeviceName(const std::wstring& element) {
  size_t end = element.find_first_of(L".:");
  if (end == std::wstring::npos) end = element.size();
  while (end > 0 && element[end - 1] == L' ') --end;
  for (const wchar_t* name : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"})
    if (SameLetters(element, end, name)) return true;
  return end == 4 && (SameLetters(element, 3, L"COM") || SameLetters(element, 3, L"LPT")) &&
         IsPortDigit(element[3]);
}

}  // namespace stubframework::utils
