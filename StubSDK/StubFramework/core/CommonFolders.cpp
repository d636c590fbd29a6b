#include "core/CommonFolders.h"

#include <shlobj.h>

#include <cwchar>

#include "core/CommandLine.h"
#include "core/FolderSecurity.h"

namespace stubframework::utils {
namespace {

bool Subfolder(const std::wstring& parent, const std::wstring& name, FolderAccess access, FolderReset reset,
               std::wstring& path) {
  if (!IsPlainFolderName(name)) return false;
  std::wstring folder = parent + name + L"\\";
  if (folder.size() >= MAX_PATH || !EnsureProtectedFolder(folder, access, reset)) return false;
  path = folder;
  return true;
}

}  // namespace

bool IsPlainFolderName(const std::wstring& name) {
  if (name.empty() || name == L"." || name == L".." || name.back() == L'.' || name.back() == L' ') return false;
  for (wchar_t c : name)
    if (c < 32 || wcschr(L"\\/:*?\"<>|", c)) return false;
  return true;
}

namespace {

constexpr wchar_t kPublisher[] = L"Velmora";

std::wstring CommonDataFolder(int flags) {
  wchar_t common[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA | flags, nullptr, SHGFP_TYPE_CURRENT, common))) return L"";
  std::wstring base = common;
  if (!base.empty() && base.back() != L'\\') base += L'\\';
  return base;
}

}  // namespace

std::wstring PublisherFolderPath() {
  std::wstring base = CommonDataFolder(0);
  return base.empty() ? base : base + kPublisher + L"\\";
}

bool GetPublisherFolder(std::wstring& path) {
  std::wstring base = CommonDataFolder(CSIDL_FLAG_CREATE);
  // Shared by the products: taken back, it keeps what is inside, each of which is checked in turn.
  return !base.empty() && Subfolder(base, kPublisher, FolderAccess::kUsersReadAndExecute, FolderReset::kRemoveLinks, path);
}

bool GetStubCopyFolder(const std::wstring& productId, std::wstring& path) {
  std::wstring publisher;
  return GetPublisherFolder(publisher) &&
         Subfolder(publisher, productId, FolderAccess::kUsersReadAndExecute, FolderReset::kEmpty, path);
}

bool PlaceStubCopy(const std::wstring& productId, std::wstring& copy) {
  std::wstring path = core::ModulePath(), folder;
  if (path.empty() || !GetStubCopyFolder(productId, folder)) return false;
  copy = folder + path.substr(path.rfind(L'\\') + 1);
  if (_wcsicmp(copy.c_str(), path.c_str()) == 0) return true;  // running as the copy itself
  // A file already there is removed rather than written through, since it may be a link.
  DeleteFileW(copy.c_str());
  return CopyFileW(path.c_str(), copy.c_str(), TRUE) != FALSE;
}

bool GetDownloadFolder(const std::wstring& name, std::wstring& path) {
  std::wstring publisher, downloads;
  return GetPublisherFolder(publisher) &&
         Subfolder(publisher, L"Downloads", FolderAccess::kAdministrators, FolderReset::kRemoveLinks, downloads) &&
         Subfolder(downloads, name, FolderAccess::kAdministrators, FolderReset::kRemoveLinks, path);
}

}  // namespace stubframework::utils
