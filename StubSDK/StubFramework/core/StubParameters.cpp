#include "core/StubParameters.h"

#include <windows.h>
#include <objbase.h>

#include "analytics/MachineIdentity.h"
#include "core/CommandLine.h"
#include "core/Registry.h"
#include "core/TextFormat.h"
#include "core/UniqueHandle.h"
#include "methods/LanguageTable.h"

namespace stubframework::core {

std::wstring CreateRequestToken() {
  GUID guid;
  wchar_t text[64] = {};
  if (FAILED(CoCreateGuid(&guid))) return L"";
  int length = StringFromGUID2(guid, text, 64);
  if (length != 39) return L"";  // "{...}" and the terminator
  return std::wstring(text + 1, 36);
}

std::wstring OsNameFromVersion(DWORD major, DWORD minor, BYTE productType, WORD processorArchitecture) {
  if (major == 5 && minor == 1) return L"Windows XP";
  if (major == 5 && minor == 2) {
    // XP Professional x64 reports 5.2 like Server 2003.
    return processorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 && productType == VER_NT_WORKSTATION
               ? L"Windows XP"
               : L"Other";
  }
  if (productType != VER_NT_WORKSTATION) return L"Other";
  if (major == 6) {
    switch (minor) {
      case 0: return L"Windows Vista";
      case 1: return L"Windows 7";
      case 2:
      case 3: return L"Windows 8";
      case 4: return L"Windows 10";
      default: return L"Other";
    }
  }
  if (major == 10) return L"Windows 10";
  return L"Other";
}

std::wstring DetectOsName() {
  OSVERSIONINFOEXW info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) return L"Other";
  SYSTEM_INFO system = {};
  GetNativeSystemInfo(&system);
  return OsNameFromVersion(info.dwMajorVersion, info.dwMinorVersion, info.wProductType,
                           system.wProcessorArchitecture);
}

std::wstring ArchitectureFromNativeMachine(USHORT nativeMachine) {
  switch (nativeMachine) {
    case IMAGE_FILE_MACHINE_AMD64:
    case IMAGE_FILE_MACHINE_IA64: return L"64";
    case IMAGE_FILE_MACHINE_ARM64: return L"A64";
    default: return L"86";
  }
}

std::wstring DetectArchitecture() {
  using IsWow64Process2Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto isWow64Process2 =
      kernel ? reinterpret_cast<IsWow64Process2Fn>(GetProcAddress(kernel, "IsWow64Process2")) : nullptr;
  USHORT processMachine = 0;
  USHORT nativeMachine = 0;
  if (!isWow64Process2 || !isWow64Process2(GetCurrentProcess(), &processMachine, &nativeMachine))
    return L"86";
  return ArchitectureFromNativeMachine(nativeMachine);
}

std::wstring DetectDefaultBrowser() {
  utils::RegistryKey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Clients\\StartMenuInternet", 0, KEY_READ, key.Out()) !=
          ERROR_SUCCESS &&
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Clients\\StartMenuInternet", 0, KEY_READ, key.Out()) !=
          ERROR_SUCCESS)
    return L"Other";
  wchar_t buffer[262] = {};  // 520 bytes of data and a spare terminator
  DWORD size = 520;
  DWORD type = 0;
  if (RegQueryValueExW(key.Get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
    return L"Other";
  return std::wstring(buffer, wcsnlen(buffer, size / sizeof(wchar_t)));
}

StubParameters::StubParameters() {
  std::wstring token = CreateRequestToken();
  if (!token.empty()) requestToken = token;
  // The placeholder set by the member stays when no identifier can be made.
  HRESULT com = CoInitialize(nullptr);
  analytics::GetMachineId(machineId);
  if (SUCCEEDED(com)) CoUninitialize();
  architecture = DetectArchitecture();
  defaultBrowser = DetectDefaultBrowser();
  osName = DetectOsName();
  country = utils::FormatWide(L"%d", static_cast<int>(GetUserGeoID(GEOCLASS_NATION)));
  uiLanguage = methods::LanguageNumberFromLangId(GetUserDefaultUILanguage());
  productId = kProductCode;
  productVersion = kProductVersion;
  clientVersion = kClientVersion;
  channel = kDefaultChannel;
  registryKey = utils::ProductRegistryKey(productId, utils::MajorVersion(productVersion));
  // Anything of this user can write these: only a self-update of this run may hand over.
  utils::DeleteRegistryValue(registryKey, L"selfupdate_code", false);
  utils::DeleteRegistryValue(registryKey, L"update_stub_name", false);
  // ENVIRONMENT_NOT_MEET until the page says otherwise; stored like every later change.
  methods::SetInstallStatus(*this, 4);
  properties.Set(L"osbits", architecture);
  methods::SetInstallLanguage(*this, 1);
  std::vector<std::wstring> allowed(definition::kPassthroughProperties.begin(), definition::kPassthroughProperties.end());
  passthroughArguments = BoundedPassthrough(PassthroughArguments(GetCommandLineW()), allowed, droppedPassthrough);
}

}  // namespace stubframework::core
