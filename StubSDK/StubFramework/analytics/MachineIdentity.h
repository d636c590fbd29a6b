#pragma once
// The machine identifier: made once per computer, kept protected in a file all users share, and
// reported only as its SHA-256 digest.
#include <windows.h>

#include <string>
#include <vector>

namespace stubframework::core {
class StubParameters;
}

namespace stubframework::analytics {

// The reported form of an identifier: SHA-256 of the low byte of each character, as 64 lower-case
// hexadecimal digits. Empty for an empty identifier.
std::wstring ReportedFormOf(const std::wstring& identifier);

// The reported form of parameters.machineId, stored in parameters.reportedMachineId.
std::wstring ReportedMachineId(core::StubParameters& parameters);

// What the identifier is made from.
class IMachineIdentitySource {
 public:
  virtual ~IMachineIdentitySource() = default;
  // False when the computer could not be asked; isVirtual then stays false.
  virtual bool IsVirtualMachine(bool& isVirtual) = 0;
  virtual bool CollectAdapterMacs(std::vector<std::wstring>& macs) = 0;
  virtual bool ReadStoredMachineId(std::wstring& text) = 0;
  virtual bool SaveStoredMachineId(const std::wstring& text) = 0;
  // A new GUID in registry format without braces.
  virtual bool NewGuidText(std::wstring& text) = 0;
};

// The computer itself: WMI, the adapters' permanent addresses, the file in the all-users folder,
// CoCreateGuid.
class SystemMachineIdentitySource : public IMachineIdentitySource {
 public:
  bool IsVirtualMachine(bool& isVirtual) override;
  bool CollectAdapterMacs(std::vector<std::wstring>& macs) override;
  bool ReadStoredMachineId(std::wstring& text) override;
  bool SaveStoredMachineId(const std::wstring& text) override;
  bool NewGuidText(std::wstring& text) override;
};

// Whether a computer-system model and manufacturer name one of the known virtual machines
// (exact, case-sensitive).
bool IsVirtualMachineModel(const std::wstring& model, const std::wstring& manufacturer);

// "P-" and 36 characters laid out like a GUID, filled cyclically with the letters and digits of
// the smallest MAC text. Empty when there is none or it holds no letter or digit.
std::wstring MacBasedText(std::vector<std::wstring> macs);

// The identifier from the source, without caching: a stored text of 38 characters as it is;
// otherwise "V-" and a new GUID on a virtual machine (false unless it could be stored), the
// MAC-based text on any other (stored if possible). False leaves id unchanged.
bool ComputeMachineId(IMachineIdentitySource& source, std::wstring& id);

// ComputeMachineId of the computer, once per process: the first success is kept. Needs COM.
bool GetMachineId(std::wstring& id);

// "<all users application data>\UniqueId\", created when missing; false when it cannot be made
// or is a link.
bool StoredIdFolder(std::wstring& folder);

// CreateFileW without sharing, retried while another holder keeps the file for up to 3 s.
// extraFlags join FILE_ATTRIBUTE_NORMAL.
HANDLE OpenWithRetry(const std::wstring& path, DWORD access, DWORD disposition, DWORD extraFlags = 0);

// The identifier file "data" in folder, protected for the computer. Reading refuses a file over
// 4 KiB; both refuse a folder or a "data" that is a link, and a "data" with other hard links.
bool ReadMachineIdFile(const std::wstring& folder, std::wstring& text);
bool SaveMachineIdFile(const std::wstring& folder, const std::wstring& text);

}  // namespace stubframework::analytics
