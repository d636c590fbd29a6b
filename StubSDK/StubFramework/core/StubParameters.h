#pragma once
// The run's settings and facts: product identity, channel, language, install status, OS facts,
// identifiers, the analytics properties and the property store.
#include <climits>
#include <map>
#include <string>
#include <vector>

#include "ProductDefinition.h"
#include "htmlui/PropertyStore.h"

namespace stubframework::core {

using definition::kDefaultChannel;
using definition::kProductCode;
using definition::kProductVersion;
constexpr const wchar_t kClientVersion[] = L"1.0";

class StubParameters {
 public:
  // Fills every member with its start-up value (reads the system, writes "install_language").
  StubParameters();
  StubParameters(const StubParameters&) = delete;
  StubParameters& operator=(const StubParameters&) = delete;

  // Accessors that fall back to the product key when the member is empty or unset.
  const std::wstring& ProductId();
  const std::wstring& ProductVersion();
  const std::wstring& Channel();
  int Status();

  std::wstring registryKey;
  const int notSet = INT_MAX;
  std::wstring requestToken = L"XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX";
  std::wstring country;
  std::wstring productId;
  std::wstring productVersion;
  std::wstring channel;
  std::wstring installLanguage;
  int status = INT_MAX;
  int exitCode = INT_MAX;
  std::wstring osName = L"Other";
  int uiLanguage = 0;
  std::wstring architecture = L"86";
  std::wstring defaultBrowser = L"Other";
  std::wstring clientVersion;
  std::wstring machineId = L"X-XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX";
  std::wstring reportedMachineId;
  std::map<std::wstring, std::wstring> externalProperties;
  htmlui::PropertyStore properties;
  std::wstring passthroughArguments;
  std::vector<std::wstring> droppedPassthrough;  // what passthrough held beyond the allowed pairs

 private:
  const std::wstring& TextWithFallback(std::wstring& member, const wchar_t* valueName);
};

// The start-up facts, each computed from the running system.
std::wstring CreateRequestToken();
std::wstring DetectOsName();
std::wstring DetectArchitecture();
std::wstring DetectDefaultBrowser();

// The osName rule for given version facts (GetVersionExW's major, minor and product type and
// GetNativeSystemInfo's processor architecture).
std::wstring OsNameFromVersion(DWORD major, DWORD minor, BYTE productType, WORD processorArchitecture);

// The architecture rule for the native machine reported by IsWow64Process2.
std::wstring ArchitectureFromNativeMachine(USHORT nativeMachine);

}  // namespace stubframework::core
