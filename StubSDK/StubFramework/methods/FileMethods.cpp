// isFileExists, createDirectory, renameFile, getFileSize, getFileVersion, getCrc,
// getDiskAvailableSpace and getEmbeddedDataFromCurrentExe: what the page needs to know about the
// files it downloads and the stub it runs in.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <vector>

#include "core/FrameworkCore.h"
#include "core/TextFormat.h"
#include "core/UniqueHandle.h"
#include "methods/ExternalMethods.h"
#include "methods/FileCrc.h"
#include "methods/RegularFile.h"
#include "methods/SignatureTail.h"

namespace stubframework {
namespace {

class MsiHandle {
 public:
  MsiHandle() = default;
  ~MsiHandle() {
    if (handle_) MsiCloseHandle(handle_);
  }
  MsiHandle(const MsiHandle&) = delete;
  MsiHandle& operator=(const MsiHandle&) = delete;
  MSIHANDLE* Out() { return &handle_; }
  MSIHANDLE Get() const { return handle_; }

 private:
  MSIHANDLE handle_ = 0;
};

// The ProductVersion property of an installer database; empty when anything fails.
std::wstring MsiProductVersion(const std::wstring& path) {
  MsiHandle database;
  if (MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_READONLY, database.Out()) != ERROR_SUCCESS) return L"";
  MsiHandle view;
  if (MsiDatabaseOpenViewW(database.Get(), L"SELECT * FROM Property WHERE Property = 'ProductVersion'",
                           view.Out()) != ERROR_SUCCESS ||
      MsiViewExecute(view.Get(), 0) != ERROR_SUCCESS)
    return L"";
  MsiHandle record;
  if (MsiViewFetch(view.Get(), record.Out()) != ERROR_SUCCESS) return L"";
  wchar_t version[256] = {};
  DWORD length = 256;
  if (MsiRecordGetStringW(record.Get(), 2, version, &length) != ERROR_SUCCESS) return L"";
  return std::wstring(version, wcsnlen(version, 256));
}

// The file version of a version resource as "major.minor.build.revision"; empty without one.
std::wstring ExecutableFileVersion(const std::wstring& path) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return L"";
  std::vector<BYTE> data(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return L"";
  VS_FIXEDFILEINFO* info = nullptr;
  UINT infoSize = 0;
  if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &infoSize) || !info ||
      infoSize < sizeof(VS_FIXEDFILEINFO))
    return L"";
  return utils::FormatWide(L"%d.%d.%d.%d", HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                           HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS));
}

// A path that names the same place whatever the current folder and drive are: X:\... or a UNC
// path (\\server\share\..., also \\?\...). C:name and \name depend on the current ones.
bool IsFullPath(const std::wstring& path) {
  auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
  if (path.size() >= 3 && iswalpha(path[0]) && path[1] == L':' && separator(path[2])) return true;
  return path.size() >= 3 && separator(path[0]) && separator(path[1]) && !separator(path[2]);
}

}  // namespace

HRESULT ExternalMethods::IsFileExists(WORD flags, DISPPARAMS* params, VARIANT* result) {
  HRESULT hr = CheckArguments(flags, kFlagsMethodGet, params, {VT_BSTR});
  if (FAILED(hr) || !result) return hr;
  std::wstring path = ArgumentText(params, 0);
  bool exists = PathFileExistsW(path.c_str()) != FALSE;
  core::FrameworkLogDebug(core_, L"args: %s, Result: %s", path.c_str(), exists ? L"exist" : L"not exist");
  SetResultBool(result, exists);
  return S_OK;
}

HRESULT ExternalMethods::CreateDirectoryMethod(WORD flags, DISPPARAMS* params, VARIANT* result) {
  HRESULT hr = CheckArguments(flags, kFlagsMethodGet, params, {VT_BSTR});
  if (FAILED(hr) || !result) return hr;
  std::wstring path = ArgumentText(params, 0);
  // No owner window: a failure must not put up the shell's error box in front of the page.
  SetResultBool(result, SHCreateDirectoryExW(nullptr, path.c_str(), nullptr) == ERROR_SUCCESS);
  return S_OK;
}

HRESULT ExternalMethods::RenameFile(WORD flags, DISPPARAMS* params, VARIANT* result) {
  core::FrameworkLogDebug(core_, L"EMRenameFile");
  HRESULT hr = CheckArguments(flags, kFlagsMethodGet, params, {VT_BSTR, VT_BSTR});
  if (FAILED(hr) || !result) return hr;
  std::wstring oldName = ArgumentText(params, 0);
  std::wstring newName = ArgumentText(params, 1);
  if (!IsFullPath(newName)) {
    core::FrameworkLogDebug(core_, L"EMRenameFile refused, the new name is not a full path: %s", newName.c_str());
    SetResultBool(result, false);
    return S_OK;
  }
  // The wide form keeps names outside the system code page intact; like rename it moves files
  // and folders and never replaces an existing target.
  int renamed = _wrename(oldName.c_str(), newName.c_str());
  core::FrameworkLogDebug(core_, L"EMRenameFile args oldFileName:%s, newFileName:%s, Result: %d", oldName.c_str(),
                          newName.c_str(), renamed);
  SetResultBool(result, renamed == 0);
  return S_OK;
}

HRESULT ExternalMethods::GetFileSize(WORD flags, DISPPARAMS* params, VARIANT* result) {
  core::FrameworkLogDebug(core_, L"EMGetFileSize");
  HRESULT hr = CheckArguments(flags, kFlagsMethodGet, params, {VT_BSTR});
  if (FAILED(hr) || !result) return hr;
  std::wstring path = ArgumentText(params, 0);
  // Sharing reading only: a file another handle holds open for writing reports "0"; a checked
  // download held locked for its install is read.
  utils::FileHandle file(methods::OpenRegularFile(path, GENERIC_READ, FILE_SHARE_READ));
  LARGE_INTEGER size;
  size.QuadPart = 0;
  if (file.Valid() && !GetFileSizeEx(file.Get(), &size)) size.QuadPart = 0;
  std::wstring text = utils::FormatWide(L"%I64u", static_cast<unsigned long long>(size.QuadPart));
  core::FrameworkLogDebug(core_, L"EMGetFileSize %s", text.c_str());
  SetResultText(result, text);
  return S_OK;
}

HRESULT ExternalMethods::GetFileVersion(WORD flags, DISPPARAMS* params, VARIANT* result) {
  core::FrameworkLogDebug(core_, L"EMGetMSIFileVersion");
  HRESULT hr = CheckArguments(flags, kFlagsMethodGet, params, {VT_BSTR, VT_BSTR});
  if (FAILED(hr) || !result) return hr;
  std::wstring extension = ArgumentText(params, 0);
  std::wstring path = ArgumentText(params, 1);
  std::wstring version;
  // Both readers open the file themselves: only a regular file is handed to them.
  bool regular = methods::IsRegularFile(path);
  if (regular && _wcsicmp(extension.c_str(), L".MSI") == 0)
    version = MsiProductVersion(path);
  else if (regular && _wcsicmp(extension.c_str(), L".EXE") == 0)
    version = ExecutableFileVersion(path);
  core::FrameworkLogDebug(core_, L"EMGetMSIFileVersion args %s, Result %s", path.c_str(), version.c_str());
  SetResultText(result, version);
  return S_OK;
}

HRESULT ExternalMethods::GetCrc(WORD flags, DISPPARAMS* params, VARIANT* result) {
  core::FrameworkLogDebug(core_, L"EMGetCRC");
  HRESULT hr = CheckArguments(flags, kFlagsMethodGet, params, {VT_BSTR});
  if (FAILED(hr) || !result) return hr;
  std::wstring path = ArgumentText(params, 0);
  DWORD crc = 0;
  if (!methods::ComputeFileCrc(path, crc)) crc = 0;
  std::wstring text = utils::FormatWide(L"%u", static_cast<unsigned int>(crc));
  core::FrameworkLogDebug(core_, L"EMGetCRC args %s, Result %s", path.c_str(), text.c_str());
  SetResultText(result, text);
  return S_OK;
}

HRESULT ExternalMethods::GetDiskAvailableSpace(WORD flags, DISPPARAMS* params, VARIANT* result) {
  core::FrameworkLogDebug(core_, L"EMGetDiskAvailableSpace");
  HRESULT hr = CheckArguments(flags, kFlagsMethodGet, params, {VT_BSTR});
  if (FAILED(hr) || !result) return hr;
  std::wstring path = ArgumentText(params, 0);
  ULARGE_INTEGER totalFree;
  if (!GetDiskFreeSpaceExW(path.c_str(), nullptr, nullptr, &totalFree)) totalFree.QuadPart = 0;
  core::FrameworkLogDebug(core_, L"EMGetDiskAvailableSpace args: %s, Result", path.c_str());
  SetResultText(result, utils::FormatWide(L"%I64u", static_cast<unsigned long long>(totalFree.QuadPart)));
  return S_OK;
}

HRESULT ExternalMethods::GetEmbeddedDataFromCurrentExe(WORD flags, DISPPARAMS* params, VARIANT* result) {
  HRESULT hr = CheckArguments(flags, kFlagsMethodGet, params, {VT_I4});
  if (FAILED(hr) || !result) return hr;
  int length = Argument(params, 0).lVal;
  core::FrameworkLogDebug(core_, L"EMGetEmbeddedDataFromCurrentExe size : %d", length);
  std::wstring data;
  wchar_t path[MAX_PATH] = {};
  DWORD pathLength = MAX_PATH;
  std::wstring text;
  if (QueryFullProcessImageNameW(GetCurrentProcess(), 0, path, &pathLength) &&
      methods::ReadSignatureTailText(std::wstring(path, pathLength), text) == 0 && length > 0 &&
      text.size() >= static_cast<size_t>(length))
    data = text.substr(0, static_cast<size_t>(length));
  core::FrameworkLogDebug(core_, L"EMGetEmbeddedDataFromCurrentExe Result : %s", data.c_str());
  SetResultText(result, data);
  return S_OK;
}

}  // namespace stubframework
