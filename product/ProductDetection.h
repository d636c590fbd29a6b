#pragma once
// Facts about a Halvern package and a Halvern installation, and the Windows facts the product
// analytics report. Every call reads the package, the installation, the files and the registry
// anew.
#include <windows.h>

#include <functional>
#include <string>

namespace myexternalmethods {

// Texts taken from the installation, the product-information file or the registry are cut to
// this many characters, the room the product's own records give them.
constexpr size_t kProductTextLimit = 99;

struct MsiInfo {
  std::wstring productCode;
  std::wstring upgradeCode;
  std::wstring version;
  std::wstring pid;
  std::wstring vid;
};

// Reads ProductCode, UpgradeCode, ProductVersion, ProductID and VID of the package: 0 when all
// five were read, otherwise the installer's error code. The caller turns the installer's UI off.
UINT GetMsiInfo(const std::wstring& packagePath, MsiInfo& info);

// The first of halvern.exe, halvern32.exe, halvern64.exe in the product's install location.
bool FindInstalledProgram(const std::wstring& productCode, std::wstring& programPath);
bool FindProgramInLocation(std::wstring location, std::wstring& programPath);

// The language resource file of the installation: in the first language folder of the
// location that exists, the first program name followed by ".mui"; empty when that folder holds
// none (later folders are not tried) or no language folder exists.
std::wstring FindInstalledMui(const std::wstring& productCode);
std::wstring FindMuiInLocation(std::wstring location);

// Overwrites version, pid and vid with the installation's resource strings (and its
// product-information vid) when its language resource file is found.
void ReadInstalledProductInfo(const std::wstring& productCode, std::wstring& version, std::wstring& pid,
                              std::wstring& vid);

// The distribution identifier: "xat", then "vid" of the product-information file, then the
// legacy registry value "x-at"; empty when none has one.
std::wstring ReadProductInfoVid();

// The value of the first line of the UTF-16LE file that contains key, both taken in lower case:
// the text after the key and one separator character up to the line's CR; empty when none does.
std::wstring ReadProductInfoValue(const std::wstring& key, const std::wstring& path);
// The same rule over the decoded text of such a file.
std::wstring ProductInfoValueFromText(std::wstring key, const std::wstring& text);

bool IsWindowsVersionOrGreater(DWORD major, DWORD minor);

// "86", "64" or "A64": the machine Windows runs on.
std::wstring OsBitsText();

// "Windows 11", "Windows 10", "Windows 8", "Windows 7" or "Other".
std::wstring OsDisplayName();
// The naming rule for a version check and the registry's CurrentMajorVersionNumber (0 when it
// cannot be read) and CurrentBuildNumber.
std::wstring OsDisplayNameFrom(const std::function<bool(DWORD, DWORD)>& versionOrGreater, DWORD currentMajor,
                               const std::wstring& currentBuild);

// major.minor.build of the running Windows, or empty.
std::wstring OsVersionText();

}  // namespace myexternalmethods
