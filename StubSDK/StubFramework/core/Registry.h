#pragma once
// Registry access through one text form of a key path: a root name ("HKEY_CURRENT_USER",
// "HKCU", ...), a backslash and the subkey.
#include <windows.h>

#include <string>

namespace stubframework::utils {

// Splits a key path. A path without a backslash is taken whole as root name and as subkey.
// False (root null) when the root name is unknown.
bool RegistryRoot(const std::wstring& path, HKEY& root, std::wstring& subkey);

// Reads a value, 64-bit view first, then the 32-bit view. REG_DWORD values come back as signed
// decimal text, other types as UTF-16 text up to the first NUL. Values over 512 bytes count as
// missing. text changes only on success.
bool ReadRegistryValue(const std::wstring& path, const std::wstring& valueName, std::wstring& text);

// Writes a REG_SZ value, creating missing keys.
bool WriteRegistryString(const std::wstring& path, const std::wstring& valueName,
                         const std::wstring& text, bool view64);

// Writes a value of any type. REG_DWORD takes decimal text (leading blanks and a sign, digits up
// to the first other character); text without a digit or outside -2147483648..4294967295 is
// refused and nothing is written.
bool WriteRegistryValue(const std::wstring& path, const std::wstring& valueName,
                        const std::wstring& text, DWORD type, bool view64);

// Deletes a key that has no subkeys, with its values.
bool DeleteRegistryKey(const std::wstring& path, bool view64);

// Deletes one value; true when it was there and is gone.
bool DeleteRegistryValue(const std::wstring& path, const std::wstring& valueName, bool view64);
// "HKEY_CURRENT_USER\SOFTWARE\Velmora\stubframework\<code>\<major>".
std::wstring ProductRegistryKey(const std::wstring& productCode, const std::wstring& majorVersion);

// The text of a version before its first "." (the whole text when there is none).
std::wstring MajorVersion(const std::wstring& version);

// Decimal text to a DWORD by the rules of WriteRegistryValue.
bool ParseRegistryDword(const std::wstring& text, DWORD& value);

}  // namespace stubframework::utils
