#pragma once
// The text a signed stub may carry in its certificate table after the first certificate: it lies
// outside the signed bytes, so it can be added after signing without breaking the signature.
#include <windows.h>

#include <string>

namespace stubframework::methods {

// Longest tail text accepted, in bytes.
constexpr DWORD kMaxSignatureTailBytes = 100000;

// 0 with the text (empty when the file has no certificate table or nothing after its first
// certificate, and for bytes that are not UTF-8), or ERROR_INSTALL_FAILURE when the file cannot be
// read or its headers or table do not fit inside it. The text ends at the first zero byte.
DWORD ReadSignatureTailText(const std::wstring& path, std::wstring& text);

}  // namespace stubframework::methods
