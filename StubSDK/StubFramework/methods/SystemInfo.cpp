#include "methods/SystemInfo.h"

#include <winternl.h>

#include <cstddef>

#include "core/CommandLine.h"
#include "core/UniqueHandle.h"

namespace stubframework {
namespace {

// Offsets of OSMajorVersion, OSMinorVersion and OSBuildNumber in the environment block.
#ifdef _WIN64
constexpr SIZE_T kPebVersionOffset = 0x118;
#else
constexpr SIZE_T kPebVersionOffset = 0xA4;
#endif

}  // namespace

OsVersion ReadOsVersionFromProcess() {
  OsVersion version;
  using QueryProcess = LONG(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  auto query = ntdll ? reinterpret_cast<QueryProcess>(GetProcAddress(ntdll, "NtQueryInformationProcess")) : nullptr;
  if (!query) return version;
  utils::KernelHandle process(OpenProcess(PROCESS_ALL_ACCESS, FALSE, GetCurrentProcessId()));
  if (!process.Valid()) return version;
  PROCESS_BASIC_INFORMATION basic = {};
  if (query(process.Get(), ProcessBasicInformation, &basic, sizeof(basic), nullptr) >= 0 && basic.PebBaseAddress) {
    DWORD fields[3] = {};
    SIZE_T read = 0;
    if (ReadProcessMemory(process.Get(), reinterpret_cast<const BYTE*>(basic.PebBaseAddress) + kPebVersionOffset, fields,
                          sizeof(fields), &read) &&
        read == sizeof(fields)) {
      version.major = fields[0];
      version.minor = fields[1];
      version.build = fields[2] & 0xFFFF;
    }
  }
  return version;
}

OsVersion MinimumOsVersion(const std::wstring& minimumOs) {
  struct Entry {
    const wchar_t* name;
    DWORD major;
    DWORD minor;
  };
  static const Entry kTable[] = {
      {L"Windows XP", 5, 1},    {L"Windows Vista", 6, 0}, {L"Windows 7", 6, 1},   {L"Windows 7 SP1", 6, 1},
      {L"Windows 8", 6, 2},     {L"Windows 8.1", 6, 3},   {L"Windows 10", 10, 0},
  };
  OsVersion required;
  required.major = 6;
  required.minor = 1;
  for (const Entry& entry : kTable) {
    if (minimumOs == entry.name) {
      required.major = entry.major;
      required.minor = entry.minor;
    }
  }
  return required;
}

bool OsAtLeast(const std::wstring& minimumOs, const OsVersion& running) {
  OsVersion required = MinimumOsVersion(minimumOs);
  return running.major > required.major || (running.major == required.major && running.minor >= required.minor);
}

bool OsAtLeast(const std::wstring& minimumOs) { return OsAtLeast(minimumOs, ReadOsVersionFromProcess()); }

std::wstring UninstallModeFromCommandLine(const std::wstring& commandLine) {
  for (std::wstring argument : core::SplitCommandLine(commandLine)) {
    for (wchar_t& c : argument)
      if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (argument.find(L"/uninstall") != std::wstring::npos) return L"uninstall";
    if (argument.find(L"/modify") != std::wstring::npos) return L"modify";
  }
  return L"";
}

}  // namespace stubframework
