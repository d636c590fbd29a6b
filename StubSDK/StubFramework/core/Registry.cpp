#include "core/Registry.h"

#include <cwchar>
#include <cwctype>

#include "core/UniqueHandle.h"

namespace stubframework::utils {
namespace {

struct RootName {
  const wchar_t* name;
  HKEY key;
};

const RootName kRoots[] = {
    {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE}, {L"HKLM", HKEY_LOCAL_MACHINE},
    {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},   {L"HKCU", HKEY_CURRENT_USER},
    {L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG}, {L"HKCC", HKEY_CURRENT_CONFIG},
    {L"HKEY_USERS", HKEY_USERS},                 {L"HKU", HKEY_USERS},
    {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},   {L"HKCR", HKEY_CLASSES_ROOT},
    {L"HKEY_DTN_DATA", reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000006))},
    {L"HKDD", reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000006))},
};

REGSAM ViewFlag(bool view64) { return view64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY; }

bool OpenOrCreate(const std::wstring& path, bool view64, RegistryKey& key) {
  HKEY root;
  std::wstring subkey;
  if (!RegistryRoot(path, root, subkey)) return false;
  REGSAM access = KEY_ALL_ACCESS | ViewFlag(view64);
  if (RegOpenKeyExW(root, subkey.c_str(), 0, access, key.Out()) == ERROR_SUCCESS) return true;
  return RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                         key.Out(), nullptr) == ERROR_SUCCESS;
}

bool SetTextValue(HKEY key, const std::wstring& valueName, const std::wstring& text, DWORD type) {
  DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  return RegSetValueExW(key, valueName.c_str(), 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                        bytes) == ERROR_SUCCESS;
}

}  // namespace

bool RegistryRoot(const std::wstring& path, HKEY& root, std::wstring& subkey) {
  size_t slash = path.find(L'\\');
  std::wstring rootName = slash == std::wstring::npos ? path : path.substr(0, slash);
  subkey = slash == std::wstring::npos ? path : path.substr(slash + 1);
  root = nullptr;
  for (const RootName& entry : kRoots) {
    if (_wcsicmp(entry.name, rootName.c_str()) == 0) {
      root = entry.key;
      return true;
    }
  }
  return false;
}

bool ReadRegistryValue(const std::wstring& path, const std::wstring& valueName, std::wstring& text) {
  HKEY root;
  std::wstring subkey;
  if (!RegistryRoot(path, root, subkey)) return false;
  for (bool view64 : {true, false}) {
    RegistryKey key;
    if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_QUERY_VALUE | ViewFlag(view64), key.Out()) !=
        ERROR_SUCCESS)
      continue;
    // Two spare NULs so that text data without a terminator still ends inside the buffer.
    BYTE buffer[512 + 2 * sizeof(wchar_t)] = {};
    DWORD size = 512;
    DWORD type = REG_NONE;
    if (RegQueryValueExW(key.Get(), valueName.c_str(), nullptr, &type, buffer, &size) != ERROR_SUCCESS)
      continue;
    if (type == REG_DWORD) {
      DWORD value = 0;
      memcpy(&value, buffer, sizeof(value));
      wchar_t number[16];
      swprintf(number, 16, L"%d", static_cast<int>(value));
      text = number;
    } else {
      const wchar_t* data = reinterpret_cast<const wchar_t*>(buffer);
      size_t chars = size / sizeof(wchar_t);
      text.assign(data, wcsnlen(data, chars));
    }
    return true;
  }
  return false;
}

bool WriteRegistryString(const std::wstring& path, const std::wstring& valueName,
                         const std::wstring& text, bool view64) {
  RegistryKey key;
  if (!OpenOrCreate(path, view64, key)) return false;
  return SetTextValue(key.Get(), valueName, text, REG_SZ);
}

bool ParseRegistryDword(const std::wstring& text, DWORD& value) {
  const wchar_t* p = text.c_str();
  while (iswspace(*p)) ++p;
  bool negative = false;
  if (*p == L'+' || *p == L'-') negative = *p++ == L'-';
  if (!iswdigit(*p)) return false;
  long long number = 0;
  for (; iswdigit(*p); ++p) {
    number = number * 10 + (*p - L'0');
    if (number > 4294967295LL) return false;
  }
  if (negative) number = -number;
  if (number < -2147483648LL) return false;
  value = static_cast<DWORD>(number);
  return true;
}

bool WriteRegistryValue(const std::wstring& path, const std::wstring& valueName,
                        const std::wstring& text, DWORD type, bool view64) {
  DWORD number = 0;
  if (type == REG_DWORD && !ParseRegistryDword(text, number)) return false;
  RegistryKey key;
  if (!OpenOrCreate(path, view64, key)) return false;
  if (type == REG_DWORD)
    return RegSetValueExW(key.Get(), valueName.c_str(), 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&number), sizeof(number)) == ERROR_SUCCESS;
  return SetTextValue(key.Get(), valueName, text, type);
}

bool DeleteRegistryKey(const std::wstring& path, bool view64) {
  HKEY root;
  std::wstring subkey;
  if (!RegistryRoot(path, root, subkey)) return false;
  HMODULE advapi = LoadLibraryW(L"Advapi32.dll");
  if (!advapi) return false;
  using DeleteKeyEx = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
  auto deleteKeyEx = reinterpret_cast<DeleteKeyEx>(GetProcAddress(advapi, "RegDeleteKeyExW"));
  bool deleted = deleteKeyEx &&
                 deleteKeyEx(root, subkey.c_str(), KEY_ALL_ACCESS | ViewFlag(view64), 0) == ERROR_SUCCESS;
  FreeLibrary(advapi);
  return deleted;
}

bool DeleteRegistryValue(const std::wstring& path, const std::wstring& valueName, bool view64) {
  HKEY root;
  std::wstring subkey;
  if (!RegistryRoot(path, root, subkey)) return false;
  RegistryKey key;
  if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_SET_VALUE | ViewFlag(view64), key.Out()) != ERROR_SUCCESS) return false;
  return RegDeleteValueW(key.Get(), valueName.c_str()) == ERROR_SUCCESS;
}

std::wstring ProductRegistryKey(const std::wstring& productCode, const std::wstring& majorVersion) {
  return L"HKEY_CURRENT_USER\\SOFTWARE\\Velmora\\stubframework\\" + productCode + L"\\" + majorVersion;
}

std::wstring MajorVersion(const std::wstring& version) {
  size_t dot = version.find(L'.');
  return dot == std::wstring::npos ? version : version.substr(0, dot);
}

}  // namespace stubframework::utils
