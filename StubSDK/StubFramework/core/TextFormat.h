#pragma once
// printf-style formatting into wide strings with the Windows conventions (%s wide, %S narrow).
#include <cstdarg>
#include <string>

namespace stubframework::utils {

std::wstring FormatWideV(const wchar_t* format, va_list args);
std::wstring FormatWide(const wchar_t* format, ...);

// UTF-16 to UTF-8 and back; invalid input gives what the system conversion makes of it.
std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);

// C-runtime style decimal conversion: leading blanks and a sign, stops at the first non-digit,
// 0 when there is no digit, saturating at the 32-bit limits.
int ParseDecimalInt(const std::wstring& text);

}  // namespace stubframework::utils
