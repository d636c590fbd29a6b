#include "core/FolderSecurity.h"

#include <aclapi.h>
#include <sddl.h>

#include <cwctype>
#include <map>
#include <mutex>

#include "core/UniqueHandle.h"
#include "core/WorkingFolders.h"

namespace stubframework::utils {
namespace {

constexpr ACCESS_MASK kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                                     FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                     GENERIC_ALL | MAXIMUM_ALLOWED;

std::mutex g_appliedLock;
std::map<std::wstring, std::wstring> g_applied;

std::wstring FolderKey(const std::wstring& folder) {
  std::wstring key = folder;
  if (key.empty() || key.back() != L'\\') key += L'\\';
  for (wchar_t& c : key) c = static_cast<wchar_t>(towlower(c));
  return key;
}

void RecordApplied(const std::wstring& folder, FolderAccess access) {
  std::lock_guard<std::mutex> guard(g_appliedLock);
  g_applied[FolderKey(folder)] = FolderSecurityText(access);
}

bool IsAdministratorSid(PSID sid) {
  return sid && IsValidSid(sid) && (IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid));
}

// A descriptor made from the access list text, freed with LocalFree.
class Descriptor {
 public:
  explicit Descriptor(const wchar_t* text) {
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, &descriptor_, nullptr))
      descriptor_ = nullptr;
  }
  ~Descriptor() { LocalFree(descriptor_); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  PSECURITY_DESCRIPTOR Get() const { return descriptor_; }
  PACL Dacl() const {
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!descriptor_ || !GetSecurityDescriptorDacl(descriptor_, &present, &dacl, &defaulted) || !present) return nullptr;
    return dacl;
  }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

bool TokenSidIs(TOKEN_INFORMATION_CLASS kind, PSID sid) {
  utils::KernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Out())) return false;
  BYTE buffer[512];
  DWORD length = 0;
  bool same = false;
  if (GetTokenInformation(token.Get(), kind, buffer, sizeof(buffer), &length)) {
    PSID own = kind == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid
                                 : reinterpret_cast<TOKEN_OWNER*>(buffer)->Owner;
    same = EqualSid(own, sid) != FALSE;
  }
  return same;
}

// A folder this process has just created is owned by an administrator principal, or by its own
// account where the system names the creator as owner.
bool OwnedByUs(HANDLE folder) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS)
    return false;
  bool ours = IsAdministratorSid(owner) || TokenSidIs(TokenOwner, owner) || TokenSidIs(TokenUser, owner);
  LocalFree(descriptor);
  return ours;
}

// Removes what could lead a later write elsewhere: links, and files with a second name, which
// may be hard links to a file anywhere on the volume.
void RemoveLinksIn(const std::wstring& folder) {
  WIN32_FIND_DATAW data;
  FindHandle find(FindFirstFileW((folder + L"*").c_str(), &data));
  if (!find.Valid()) return;
  do {
    if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0) continue;
    std::wstring entry = folder + data.cFileName;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveDirectoryW(entry.c_str());
      else
        DeleteFileW(entry.c_str());
    } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      RemoveLinksIn(entry + L"\\");
    } else {
      FileHandle file(CreateFileW(entry.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
      BY_HANDLE_FILE_INFORMATION information;
      bool linked = !file.Valid() || !GetFileInformationByHandle(file.Get(), &information) ||
                    information.nNumberOfLinks != 1;
      file.Close();
      if (linked) DeleteFileW(entry.c_str());
    }
  } while (FindNextFileW(find.Get(), &data));
}

bool ResetFolder(const std::wstring& folder, FolderAccess access, FolderReset reset) {
  FileHandle handle(OpenPlainFolder(folder, READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES));
  if (!handle.Valid()) return false;
  Descriptor wanted(FolderSecurityText(access));
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof(administrators);
  if (!wanted.Dacl() || !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize)) return false;
  if (SetSecurityInfo(handle.Get(), SE_FILE_OBJECT,
                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                      administrators, nullptr, wanted.Dacl(), nullptr) != ERROR_SUCCESS)
    return false;
  RecordApplied(folder, access);
  std::wstring inside = folder.back() == L'\\' ? folder : folder + L'\\';
  if (reset == FolderReset::kEmpty)
    EmptyFolder(inside);
  else
    RemoveLinksIn(inside);
  return true;
}

}  // namespace

HANDLE OpenPlainFolder(const std::wstring& folder, DWORD access) {
  std::wstring path = folder;
  if (path.size() > 3 && path.back() == L'\\') path.pop_back();
  FileHandle handle(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION information;
  if (!handle.Valid() || !GetFileInformationByHandle(handle.Get(), &information) ||
      !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return INVALID_HANDLE_VALUE;
  // Asked again by name once held: some systems open what a link points to, and a folder held
  // cannot be swapped for a link any more.
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return INVALID_HANDLE_VALUE;
  return handle.Release();
}

const wchar_t* FolderSecurityText(FolderAccess access) {
  return access == FolderAccess::kAdministrators ? L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"
                                                 : L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
}

bool IsAdministratorsDescriptor(PSECURITY_DESCRIPTOR descriptor) {
  if (!descriptor || !IsValidSecurityDescriptor(descriptor)) return false;
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !IsAdministratorSid(owner)) return false;
  BOOL present = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || !dacl) return false;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) return false;
    if (header->AceFlags & INHERIT_ONLY_ACE) continue;
    if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
    // Any other kind of granting entry is judged by its rights alone when its trustee cannot be
    // read the simple way.
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    if ((ace->Mask & kWriteRights) && !IsAdministratorSid(&ace->SidStart)) return false;
  }
  return true;
}

bool IsAdministratorsFolder(const std::wstring& folder) {
  FileHandle handle(OpenPlainFolder(folder, READ_CONTROL | FILE_READ_ATTRIBUTES));
  if (!handle.Valid()) return false;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                      nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
    return false;
  bool trusted = IsAdministratorsDescriptor(descriptor);
  LocalFree(descriptor);
  return trusted;
}

bool CreateProtectedFolder(const std::wstring& folder, FolderAccess access) {
  Descriptor wanted(FolderSecurityText(access));
  if (!wanted.Get()) return false;
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), wanted.Get(), FALSE};
  if (!CreateDirectoryW(folder.c_str(), &attributes)) return false;
  RecordApplied(folder, access);
  FileHandle handle(OpenPlainFolder(folder, READ_CONTROL | FILE_READ_ATTRIBUTES));
  if (handle.Valid() && OwnedByUs(handle.Get())) return true;
  SetLastError(ERROR_INVALID_OWNER);
  return false;
}

bool EnsureProtectedFolder(const std::wstring& folder, FolderAccess access, FolderReset reset) {
  std::wstring path = folder;
  if (path.size() > 3 && path.back() == L'\\') path.pop_back();
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    // Removes the link itself; what it points to is left alone.
    if (!((attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str())))
      return false;
    attributes = INVALID_FILE_ATTRIBUTES;
  } else if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    if (!DeleteFileW(path.c_str())) return false;
    attributes = INVALID_FILE_ATTRIBUTES;
  }
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (CreateProtectedFolder(path, access)) return true;
    // Made by someone else in the meantime: judged like any folder found there.
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  if (IsAdministratorsFolder(path)) return true;
  return ResetFolder(path, access, reset);
}

std::wstring AppliedFolderSecurity(const std::wstring& folder) {
  std::lock_guard<std::mutex> guard(g_appliedLock);
  auto found = g_applied.find(FolderKey(folder));
  return found == g_applied.end() ? std::wstring() : found->second;
}

}  // namespace stubframework::utils
