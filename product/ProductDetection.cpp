#include "product/ProductDetection.h"

#include <msi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cwctype>

#include "core/StubParameters.h"
#include "core/TextFormat.h"
#include "core/UniqueHandle.h"
#include "methods/RegularFile.h"

namespace myexternalmethods {
namespace {

const wchar_t* const kProgramNames[] = {L"halvern.exe", L"halvern32.exe", L"halvern64.exe"};
const wchar_t* const kLanguageFolders[] = {L"cs-CZ", L"da-DK", L"de-DE", L"en-US", L"es-ES", L"es-MX",
                                           L"fi-FI", L"fr-FR", L"it-IT", L"ja-JP", L"ko-KR", L"nb-NO",
                                           L"nl-NL", L"pt-BR", L"ru-RU", L"sv-SE", L"zh-CN", L"zh-TW"};
const UINT kPidString = 39901;
const UINT kVersionString = 39902;
const UINT kVidString = 39904;
const wchar_t kLegacyKey[] = L"SOFTWARE\\Quorvane\\Halvern";
// The file is a few short lines; anything longer than this is not one of ours.
const DWORD kProductInfoFileLimit = 64 * 1024;

std::wstring Cut(std::wstring text) {
  if (text.size() > kProductTextLimit) text.resize(kProductTextLimit);
  return text;
}

std::wstring InstallLocation(const std::wstring& productCode) {
  wchar_t location[260] = {};
  DWORD length = 260;
  if (MsiGetProductInfoW(productCode.c_str(), INSTALLPROPERTY_INSTALLLOCATION, location, &length) != ERROR_SUCCESS)
    return L"";
  return std::wstring(location, wcsnlen(location, 260));
}

std::wstring WithBackslash(std::wstring folder) {
  if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
  return folder;
}

std::wstring LoadResourceString(HMODULE module, UINT id) {
  wchar_t text[kProductTextLimit + 1] = {};
  int length = LoadStringW(module, id, text, kProductTextLimit + 1);
  return length > 0 ? std::wstring(text, length) : std::wstring();
}

// The whole REG_SZ value "x-at" of the legacy key in one view; empty when it cannot be read.
std::wstring ReadLegacyValue(REGSAM view) {
  stubframework::utils::RegistryKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kLegacyKey, 0, KEY_READ | view, key.Out()) != ERROR_SUCCESS) return L"";
  std::wstring text;
  DWORD size = 2048;
  for (int attempt = 0; attempt < 4; ++attempt) {
    std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
    LONG read = RegGetValueW(key.Get(), nullptr, L"x-at", RRF_RT_REG_SZ, nullptr, &buffer[0], &size);
    if (read == ERROR_SUCCESS) {
      text.assign(buffer.c_str());
      break;
    }
    if (read != ERROR_MORE_DATA) break;
  }
  return text;
}

}  // namespace

UINT GetMsiInfo(const std::wstring& packagePath, MsiInfo& info) {
  // The installer opens the path itself; a device or "#handle" form never reaches it.
  if (!stubframework::methods::IsRegularFile(packagePath)) return ERROR_INSTALL_PACKAGE_OPEN_FAILED;
  MSIHANDLE product = 0;
  UINT result = MsiOpenPackageW(packagePath.c_str(), &product);
  if (!product) return result != ERROR_SUCCESS ? result : ERROR_INSTALL_PACKAGE_OPEN_FAILED;
  if (result == ERROR_SUCCESS || result == ERROR_PRODUCT_VERSION) {
    const std::pair<const wchar_t*, std::wstring*> properties[] = {
        {L"ProductCode", &info.productCode}, {L"UpgradeCode", &info.upgradeCode},
        {L"ProductVersion", &info.version},  {L"ProductID", &info.pid},
        {L"VID", &info.vid}};
    result = ERROR_SUCCESS;
    for (const auto& property : properties) {
      wchar_t value[40] = {};
      DWORD length = 40;
      result = MsiGetProductPropertyW(product, property.first, value, &length);
      if (result != ERROR_SUCCESS) break;
      property.second->assign(value, wcsnlen(value, 40));
    }
  }
  MsiCloseHandle(product);
  return result;
}

bool FindProgramInLocation(std::wstring location, std::wstring& programPath) {
  if (location.empty()) return false;
  location = WithBackslash(location);
  for (const wchar_t* name : kProgramNames) {
    if (PathFileExistsW((location + name).c_str())) {
      programPath = location + name;
      return true;
    }
  }
  return false;
}

bool FindInstalledProgram(const std::wstring& productCode, std::wstring& programPath) {
  return FindProgramInLocation(InstallLocation(productCode), programPath);
}

std::wstring FindMuiInLocation(std::wstring location) {
  if (location.empty()) return L"";
  location = WithBackslash(location);
  for (const wchar_t* folder : kLanguageFolders) {
    std::wstring languageFolder = location + folder;
    if (!PathFileExistsW(languageFolder.c_str())) continue;
    for (const wchar_t* name : kProgramNames) {
      std::wstring mui = languageFolder + L"\\" + name + L".mui";
      if (PathFileExistsW(mui.c_str())) return mui;
    }
    return L"";
  }
  return L"";
}

std::wstring FindInstalledMui(const std::wstring& productCode) {
  return FindMuiInLocation(InstallLocation(productCode));
}

void ReadInstalledProductInfo(const std::wstring& productCode, std::wstring& version, std::wstring& pid,
                              std::wstring& vid) {
  std::wstring mui = FindInstalledMui(productCode);
  if (mui.empty()) return;
  HMODULE module = LoadLibraryExW(mui.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return;
  version = LoadResourceString(module, kVersionString);
  pid = LoadResourceString(module, kPidString);
  std::wstring text = ReadProductInfoVid();
  vid = text.empty() ? LoadResourceString(module, kVidString) : text;
  FreeLibrary(module);
}

std::wstring ReadProductInfoVid() {
  std::wstring value;
  wchar_t appData[MAX_PATH] = {};
  if (SHGetSpecialFolderPathW(nullptr, appData, CSIDL_COMMON_APPDATA, FALSE)) {
    std::wstring path = std::wstring(appData) + L"\\Halvern\\HVPRODINFO.DAT";
    value = ReadProductInfoValue(L"xat", path);
    if (value.empty()) value = ReadProductInfoValue(L"vid", path);
  }
  if (value.empty()) value = ReadLegacyValue(KEY_WOW64_32KEY);
  if (value.empty()) value = ReadLegacyValue(KEY_WOW64_64KEY);
  return Cut(value);
}

std::wstring ReadProductInfoValue(const std::wstring& key, const std::wstring& path) {
  if (key.empty()) return L"";
  stubframework::utils::FileHandle file(
      stubframework::methods::OpenRegularFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE));
  if (!file.Valid()) return L"";
  std::string bytes(kProductInfoFileLimit, '\0');
  DWORD read = 0;
  if (!ReadFile(file.Get(), &bytes[0], kProductInfoFileLimit, &read, nullptr)) return L"";
  std::wstring text(read / sizeof(wchar_t), L'\0');
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                   static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  if (!text.empty() && text[0] == 0xFEFF) text.erase(0, 1);
  return ProductInfoValueFromText(key, text);
}

std::wstring ProductInfoValueFromText(std::wstring key, const std::wstring& text) {
  if (key.empty()) return L"";
  for (wchar_t& c : key) c = static_cast<wchar_t>(towlower(c));
  for (size_t begin = 0; begin < text.size();) {
    size_t lineEnd = text.find(L'\n', begin);
    if (lineEnd == std::wstring::npos) lineEnd = text.size();
    std::wstring line = text.substr(begin, lineEnd - begin);
    begin = lineEnd + 1;
    for (wchar_t& c : line) c = static_cast<wchar_t>(towlower(c));
    size_t found = line.find(key);
    if (found == std::wstring::npos) continue;
    // One separator character follows the key, whatever it is.
    size_t start = found + key.size() + 1;
    size_t end = line.find(L'\r');
    if (end == std::wstring::npos) end = line.size();
    return Cut(start < end ? line.substr(start, end - start) : std::wstring());
  }
  return L"";
}

bool IsWindowsVersionOrGreater(DWORD major, DWORD minor) {
  OSVERSIONINFOEXW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  version.dwMajorVersion = major;
  version.dwMinorVersion = minor;
  version.wServicePackMajor = 0;
  DWORDLONG mask = 0;
  mask = VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
  mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
  mask = VerSetConditionMask(mask, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
  return VerifyVersionInfoW(&version, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR, mask) != FALSE;
}

std::wstring OsBitsText() { return stubframework::core::DetectArchitecture(); }

std::wstring OsDisplayNameFrom(const std::function<bool(DWORD, DWORD)>& versionOrGreater, DWORD currentMajor,
                               const std::wstring& currentBuild) {
  bool atLeast7 = versionOrGreater(5, 1) && versionOrGreater(6, 0) && versionOrGreater(6, 1);
  bool atLeast8 = atLeast7 && versionOrGreater(6, 2);
  bool atLeast10 = atLeast8 && versionOrGreater(6, 3) && versionOrGreater(10, 0);
  if (currentMajor >= 10 && StrToIntW(currentBuild.c_str()) >= 22000) return L"Windows 11";
  if (atLeast10) return L"Windows 10";
  if (atLeast8) return L"Windows 8";
  if (atLeast7) return L"Windows 7";
  return L"Other";
}

std::wstring OsDisplayName() {
  const wchar_t kCurrentVersion[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
  DWORD major = 0;
  DWORD size = sizeof(major);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kCurrentVersion, L"CurrentMajorVersionNumber", RRF_RT_REG_DWORD, nullptr,
                   &major, &size) != ERROR_SUCCESS)
    major = 0;
  std::wstring build;
  size = 0;
  if (major >= 10 && RegGetValueW(HKEY_LOCAL_MACHINE, kCurrentVersion, L"CurrentBuildNumber", RRF_RT_REG_SZ,
                                  nullptr, nullptr, &size) == ERROR_SUCCESS) {
    std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kCurrentVersion, L"CurrentBuildNumber", RRF_RT_REG_SZ, nullptr,
                     &buffer[0], &size) == ERROR_SUCCESS)
      build.assign(buffer.c_str());
  }
  return OsDisplayNameFrom(IsWindowsVersionOrGreater, major, build);
}

std::wstring OsVersionText() {
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  HMODULE ntdll = LoadLibraryW(L"ntdll.dll");
  if (!ntdll) return L"";
  std::wstring text;
  auto getVersion = reinterpret_cast<RtlGetVersionFn>(GetProcAddress(ntdll, "RtlGetVersion"));
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  if (getVersion && getVersion(&version) == 0)
    text = stubframework::utils::FormatWide(L"%lu.%lu.%lu", version.dwMajorVersion, version.dwMinorVersion,
                                            version.dwBuildNumber);
  FreeLibrary(ntdll);
  return text;
}

}  // namespace myexternalmethods
