#include "analytics/MachineIdentity.h"

#include <objbase.h>
#include <shlobj.h>
#include <wincrypt.h>

#include <algorithm>

#include "analytics/NetworkAdapters.h"
#include "analytics/WmiQuery.h"
#include "core/Digest.h"
#include "core/FrameworkCore.h"
#include "core/PlainPath.h"
#include "core/StubParameters.h"
#include "core/UniqueHandle.h"
#include "methods/ExternalMethods.h"

namespace stubframework::analytics {

namespace {

const size_t kIdLength = 38;
const DWORD kMaxIdFileSize = 4096;
const DWORD kRetryMs = 3000;

struct VirtualMachineRow {
  const wchar_t* model;
  const wchar_t* manufacturer;
};
const VirtualMachineRow kVirtualMachines[] = {
    {L"VirtualBox", L"innotek GmbH"},
    {L"VMware Virtual Platform", L"VMware, Inc."},
    {L"Virtual Machine", L"Microsoft Corporation"},
};

// Every computer's copy is protected with this entropy (its ASCII bytes).
DATA_BLOB Entropy() {
  static char entropy[] = "quolmet";
  return DATA_BLOB{7, reinterpret_cast<BYTE*>(entropy)};
}

// Anyone may create the folder before the elevated stub does, and put a link or a second name of
// another file at "data": the file is opened as itself and used only when it is a plain file
// with one name, before anything is truncated.
bool OpenIdFile(const std::wstring& folder, DWORD access, DWORD disposition, utils::FileHandle& file) {
  std::wstring path = folder + L"data";
  if (!utils::IsPlainFolder(folder) || utils::IsLink(path)) return false;
  file.Reset(OpenWithRetry(path, access, disposition, FILE_FLAG_OPEN_REPARSE_POINT));
  if (file.Valid() && utils::IsPlainFile(file.Get())) return true;
  file.Close();
  return false;
}

}  // namespace

std::wstring ReportedFormOf(const std::wstring& identifier) {
  if (identifier.empty()) return std::wstring();
  std::vector<uint8_t> bytes;
  for (wchar_t c : identifier) bytes.push_back(static_cast<uint8_t>(c & 0xFF));
  return utils::DigestHex(utils::DigestKind::Sha256, bytes.data(), bytes.size(), false);
}

std::wstring ReportedMachineId(core::StubParameters& parameters) {
  parameters.reportedMachineId = ReportedFormOf(parameters.machineId);
  return parameters.reportedMachineId;
}

bool IsVirtualMachineModel(const std::wstring& model, const std::wstring& manufacturer) {
  for (const VirtualMachineRow& row : kVirtualMachines)
    if (model == row.model && manufacturer == row.manufacturer) return true;
  return false;
}

std::wstring MacBasedText(std::vector<std::wstring> macs) {
  if (macs.empty()) return std::wstring();
  std::sort(macs.begin(), macs.end());
  std::wstring digits;
  for (wchar_t c : macs.front())
    if ((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z')) digits += c;
  if (digits.empty()) return std::wstring();
  std::wstring text = L"P-";
  size_t next = 0;
  for (size_t built = 0; built < 36; ++built) {
    if (built == 8 || built == 13 || built == 18 || built == 23) {
      text += L'-';
    } else {
      text += digits[next];
      next = (next + 1) % digits.size();
    }
  }
  return text;
}

bool ComputeMachineId(IMachineIdentitySource& source, std::wstring& id) {
  std::wstring stored;
  bool haveStored = source.ReadStoredMachineId(stored) && stored.size() == kIdLength;
  bool isVirtual = false;
  if (source.IsVirtualMachine(isVirtual) && isVirtual) {
    if (haveStored) {
      id = stored;
      return true;
    }
    std::wstring guid;
    if (!source.NewGuidText(guid)) return false;
    std::wstring text = L"V-" + guid;
    if (!source.SaveStoredMachineId(text)) return false;
    id = text;
    return true;
  }
  if (haveStored) {
    id = stored;
    return true;
  }
  std::vector<std::wstring> macs;
  if (!source.CollectAdapterMacs(macs)) return false;
  std::wstring text = MacBasedText(macs);
  if (text.empty()) return false;
  // This run has its identifier even when it cannot be kept.
  source.SaveStoredMachineId(text);
  id = text;
  return true;
}

bool GetMachineId(std::wstring& id) {
  static std::wstring cache;
  if (cache.empty()) {
    SystemMachineIdentitySource source;
    if (!ComputeMachineId(source, cache)) return false;
  }
  id = cache;
  return true;
}

bool StoredIdFolder(std::wstring& folder) {
  wchar_t base[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, base)))
    return false;
  std::wstring path = std::wstring(base) + L"\\UniqueId";
  if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  if (!utils::IsPlainFolder(path)) return false;
  folder = path + L"\\";
  return true;
}

HANDLE OpenWithRetry(const std::wstring& path, DWORD access, DWORD disposition, DWORD extraFlags) {
  DWORD start = GetTickCount();
  for (;;) {
    HANDLE file = CreateFileW(path.c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL | extraFlags, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    if (GetLastError() != ERROR_SHARING_VIOLATION || GetTickCount() - start >= kRetryMs) return INVALID_HANDLE_VALUE;
    Sleep(5);
  }
}

bool ReadMachineIdFile(const std::wstring& folder, std::wstring& text) {
  std::vector<BYTE> bytes;
  {
    utils::FileHandle file(INVALID_HANDLE_VALUE);
    if (!OpenIdFile(folder, GENERIC_READ, OPEN_EXISTING, file)) return false;
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > kMaxIdFileSize) return false;
    BYTE piece[64];
    DWORD read = 0;
    while (ReadFile(file.Get(), piece, sizeof(piece), &read, nullptr) && read > 0) {
      if (bytes.size() + read > kMaxIdFileSize) return false;
      bytes.insert(bytes.end(), piece, piece + read);
    }
  }
  if (bytes.empty()) return false;
  DATA_BLOB in = {static_cast<DWORD>(bytes.size()), bytes.data()};
  DATA_BLOB entropy = Entropy();
  DATA_BLOB out = {};
  if (!CryptUnprotectData(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_LOCAL_MACHINE, &out)) return false;
  text.assign(reinterpret_cast<const wchar_t*>(out.pbData), out.cbData / sizeof(wchar_t));
  LocalFree(out.pbData);
  return true;
}

bool SaveMachineIdFile(const std::wstring& folder, const std::wstring& text) {
  DATA_BLOB in = {static_cast<DWORD>(text.size() * sizeof(wchar_t)),
                  reinterpret_cast<BYTE*>(const_cast<wchar_t*>(text.data()))};
  DATA_BLOB entropy = Entropy();
  DATA_BLOB out = {};
  if (!CryptProtectData(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_LOCAL_MACHINE, &out)) return false;
  bool saved = false;
  {
    // Opened without truncation so that nothing is cut before the file is known to be plain.
    utils::FileHandle file(INVALID_HANDLE_VALUE);
    if (OpenIdFile(folder, GENERIC_WRITE, OPEN_ALWAYS, file)) {
      DWORD written = 0;
      saved = WriteFile(file.Get(), out.pbData, out.cbData, &written, nullptr) && written == out.cbData &&
              SetEndOfFile(file.Get());
      file.Close();
      if (!saved) DeleteFileW((folder + L"data").c_str());
    }
  }
  LocalFree(out.pbData);
  return saved;
}

bool SystemMachineIdentitySource::IsVirtualMachine(bool& isVirtual) {
  WmiConnection wmi;
  std::vector<WmiObject> systems;
  std::wstring model, manufacturer;
  if (!wmi.Query(L"SELECT * FROM Win32_ComputerSystem", 1, systems) || systems.empty() ||
      !systems.front().String(L"model", model) || !systems.front().String(L"manufacturer", manufacturer))
    return false;
  isVirtual = IsVirtualMachineModel(model, manufacturer);
  return true;
}

bool SystemMachineIdentitySource::CollectAdapterMacs(std::vector<std::wstring>& macs) {
  return analytics::CollectAdapterMacs(macs);
}

bool SystemMachineIdentitySource::ReadStoredMachineId(std::wstring& text) {
  std::wstring folder;
  return StoredIdFolder(folder) && ReadMachineIdFile(folder, text);
}

bool SystemMachineIdentitySource::SaveStoredMachineId(const std::wstring& text) {
  std::wstring folder;
  return StoredIdFolder(folder) && SaveMachineIdFile(folder, text);
}

bool SystemMachineIdentitySource::NewGuidText(std::wstring& text) {
  GUID guid;
  wchar_t buffer[64] = {};
  if (FAILED(CoCreateGuid(&guid)) || StringFromGUID2(guid, buffer, 64) != 39) return false;
  text.assign(buffer + 1, 36);
  return true;
}

}  // namespace stubframework::analytics

namespace stubframework {

HRESULT ExternalMethods::GetMachineIdMethod(WORD flags, DISPPARAMS* params, VARIANT* result) {
  core::FrameworkLogDebug(core_, L"EMGetMachineId");
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {});
  if (FAILED(hr) || !result) return hr;
  std::wstring reported = analytics::ReportedMachineId(*core_->parameters);
  SetResultText(result, reported);
  core::FrameworkLogDebug(core_, L"EMGetMachineId Result : %s", reported.c_str());
  return S_OK;
}

}  // namespace stubframework
