#include "core/WorkingFolders.h"

#include <bcrypt.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <cwchar>
#include <mutex>
#include <vector>

#include "core/FolderSecurity.h"
#include "core/PlainPath.h"
#include "core/TrustedFolder.h"
#include "core/UniqueHandle.h"

namespace stubframework::utils {
namespace {

constexpr wchar_t kRootPrefix[] = L"stub-";
constexpr size_t kRootRandomDigits = 32;

struct WorkingRoot {
  std::mutex lock;
  std::wstring path;
  bool created = false;               // false: the launcher's root, shared
  std::vector<std::wstring> folders;  // made by this process below the root
};

WorkingRoot& Root() {
  static WorkingRoot root;
  return root;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && _wcsnicmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// "<Windows folder>\Temp\": the kernel's own record of the Windows folder, not the environment,
// which the user's registry sets.
bool SystemTempFolder(std::wstring& path) {
  wchar_t windows[MAX_PATH] = {};
  UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  path.assign(windows, length);
  if (path.back() != L'\\') path += L'\\';
  path += L"Temp\\";
  return IsPlainFolder(path);
}

bool IsRootName(const std::wstring& name) {
  const size_t prefix = wcslen(kRootPrefix);
  if (name.size() != prefix + kRootRandomDigits || name.compare(0, prefix, kRootPrefix) != 0) return false;
  for (size_t i = prefix; i < name.size(); ++i)
    if (!iswxdigit(name[i]) || iswupper(name[i])) return false;
  return true;
}

bool RandomRootName(std::wstring& name) {
  unsigned char bytes[kRootRandomDigits / 2];
  if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes, sizeof(bytes), BCRYPT_USE_SYSTEM_PREFERRED_RNG))) return false;
  name = kRootPrefix;
  for (unsigned char byte : bytes) {
    wchar_t digits[3];
    swprintf(digits, 3, L"%02x", byte);
    name += digits;
  }
  return true;
}

bool ProcessTimes(HANDLE process, ULONGLONG& created) {
  FILETIME creation, exit, kernel, user;
  if (!GetProcessTimes(process, &creation, &exit, &kernel, &user)) return false;
  created = (static_cast<ULONGLONG>(creation.dwHighDateTime) << 32) | creation.dwLowDateTime;
  return true;
}

// Whether the process that started this one is still running, older than this one, and elevated.
// A program of the user that starts the stub itself is never elevated; the stub's launcher is.
bool ParentIsElevated() {
  DWORD self = GetCurrentProcessId(), parentId = 0;
  FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.Valid()) return false;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry))
    if (entry.th32ProcessID == self) parentId = entry.th32ParentProcessID;
  if (parentId == 0) return false;
  KernelHandle parent(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parentId));
  if (!parent.Valid()) return false;
  bool elevated = false;
  ULONGLONG parentCreated = 0, selfCreated = 0;
  DWORD exitCode = 0;
  KernelHandle token;
  // The identifier may have been reused by a process started after this one.
  if (ProcessTimes(parent.Get(), parentCreated) && ProcessTimes(GetCurrentProcess(), selfCreated) &&
      parentCreated <= selfCreated && GetExitCodeProcess(parent.Get(), &exitCode) && exitCode == STILL_ACTIVE &&
      OpenProcessToken(parent.Get(), TOKEN_QUERY, token.Out())) {
    TOKEN_ELEVATION elevation = {};
    DWORD length = 0;
    elevated = GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof(elevation), &length) &&
               elevation.TokenIsElevated;
  }
  return elevated;
}

// The folder of this executable when it is a root the elevated launcher made and started it from.
bool LaunchersRoot(const std::wstring& systemTemp, std::wstring& root) {
  wchar_t module[MAX_PATH] = {};
  DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  std::wstring folder(module, length);
  folder.erase(folder.find_last_of(L'\\') + 1);
  if (folder.size() <= systemTemp.size() || !SameText(folder.substr(0, systemTemp.size()), systemTemp)) return false;
  if (!IsRootName(folder.substr(systemTemp.size(), folder.size() - systemTemp.size() - 1))) return false;
  if (!IsPlainFolder(folder) || !ParentIsElevated()) return false;
  root = folder;
  return true;
}

bool NewRoot(const std::wstring& systemTemp, std::wstring& root) {
  // A name someone else made first is never taken over: another one is drawn.
  for (int attempt = 0; attempt < 8; ++attempt) {
    std::wstring name;
    if (!RandomRootName(name)) return false;
    std::wstring candidate = systemTemp + name + L"\\";
    if (CreateProtectedFolder(candidate, FolderAccess::kAdministrators)) {
      root = candidate;
      return true;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

bool RootLocked(WorkingRoot& state, std::wstring& root) {
  if (state.path.empty()) {
    std::wstring systemTemp;
    if (!SystemTempFolder(systemTemp)) return false;
    if (LaunchersRoot(systemTemp, state.path)) {
      state.created = false;
    } else if (NewRoot(systemTemp, state.path)) {
      state.created = true;
    } else {
      state.path.clear();
      return false;
    }
  }
  root = state.path;
  return true;
}

}  // namespace

bool GetWorkingRoot(std::wstring& root) {
  WorkingRoot& state = Root();
  std::lock_guard<std::mutex> guard(state.lock);
  return RootLocked(state, root);
}

bool WorkingRootIsShared() {
  WorkingRoot& state = Root();
  std::lock_guard<std::mutex> guard(state.lock);
  return !state.path.empty() && !state.created;
}

void ReleaseWorkingRoot() {
  WorkingRoot& state = Root();
  std::lock_guard<std::mutex> guard(state.lock);
  if (state.created) {
    DeleteFolderTree(state.path);
  } else {
    for (const std::wstring& folder : state.folders) DeleteFolderTree(folder);
  }
  state.path.clear();
  state.folders.clear();
  state.created = false;
}

bool CreateUniqueFolderIn(const std::wstring& base, DWORD firstNumber, std::wstring& path) {
  DWORD number = firstNumber;
  // Bounded so that a directory that refuses every name cannot spin for ever.
  for (int attempt = 0; attempt < 100000; ++attempt, ++number) {
    wchar_t name[16];
    swprintf(name, 16, L"%x", number);
    std::wstring candidate = base + name + L"\\";
    if (PathFileExistsW(candidate.c_str())) continue;
    if (CreateDirectoryW(candidate.c_str(), nullptr)) {
      path = candidate;
      return true;
    }
    // Another thread or process took the name between the test and the creation.
    if (GetLastError() == ERROR_ALREADY_EXISTS) continue;
    return false;
  }
  return false;
}

bool CreateUniqueTempFolder(std::wstring& path) {
  WorkingRoot& state = Root();
  std::lock_guard<std::mutex> guard(state.lock);
  std::wstring root, folder;
  if (!RootLocked(state, root) || !CreateUniqueFolderIn(root, GetTickCount(), folder)) return false;
  state.folders.push_back(folder);
  path = folder;
  return true;
}

bool IsRunFolder(const std::wstring& path) {
  WorkingRoot& state = Root();
  std::lock_guard<std::mutex> guard(state.lock);
  for (const std::wstring& folder : state.folders)
    if (path == folder || path + L"\\" == folder) return IsPlainFolder(folder);
  return false;
}

bool GetRunLogFolder(std::wstring& path) {
  WorkingRoot& state = Root();
  std::lock_guard<std::mutex> guard(state.lock);
  std::wstring root;
  if (!RootLocked(state, root)) return false;
  std::wstring folder = root + L"logs\\";
  bool known = false;
  for (const std::wstring& made : state.folders) known = known || made == folder;
  if (!known) {
    if (!CreateDirectoryW(folder.c_str(), nullptr)) return false;
    state.folders.push_back(folder);
  }
  path = folder;
  return true;
}

bool GetLongTempPath(std::wstring& path) {
  wchar_t shortPath[MAX_PATH] = {};
  DWORD length = GetTempPathW(MAX_PATH, shortPath);
  if (length == 0 || length >= MAX_PATH - 1) return false;
  std::wstring temp(shortPath, length);
  if (temp.back() != L'\\') temp += L'\\';
  wchar_t longPath[520] = {};
  DWORD longLength = GetLongPathNameW(temp.c_str(), longPath, 520);
  if (longLength > 0 && longLength < 520) temp.assign(longPath, longLength);
  if (temp.back() != L'\\') temp += L'\\';
  path = temp;
  return true;
}

bool GetTempSubfolder(const std::wstring& name, std::wstring& path) {
  std::wstring temp;
  if (!GetLongTempPath(temp)) return false;
  // The long form may be longer than the short one: one that does not fit would be cut short.
  if (temp.size() >= MAX_PATH) return false;
  wchar_t combined[MAX_PATH] = {};
  wcsncpy(combined, temp.c_str(), MAX_PATH - 1);
  if (!PathAppendW(combined, name.c_str())) return false;
  std::wstring result = combined;
  if (result.empty() || result.back() != L'\\') result += L'\\';
  CreateDirectoryW(result.c_str(), nullptr);
  // The name is fixed, so another program of the user may have put a link or a file there first.
  if (!IsTrustedTempFolder(result)) return false;
  path = result;
  return true;
}

bool CopyAsNewFile(const std::wstring& source, const std::wstring& folder) {
  std::wstring target = folder + PathFindFileNameW(source.c_str());
  // Held without delete sharing, the folder cannot be renamed or swapped for a link while the
  // copy is made in it.
  FileHandle held(OpenPlainFolder(folder, FILE_READ_ATTRIBUTES));
  if (!held.Valid()) return false;
  FileHandle input(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!input.Valid()) return false;
  // CREATE_NEW fails on any name already there, a link included.
  FileHandle output(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!output.Valid()) return false;
  char buffer[64 * 1024];
  DWORD read = 0;
  while (ReadFile(input.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    DWORD written = 0;
    if (!WriteFile(output.Get(), buffer, read, &written, nullptr) || written != read) return false;
  }
  return true;
}

void EmptyFolder(const std::wstring& folder) {
  WIN32_FIND_DATAW data;
  FindHandle find(FindFirstFileW((folder + L"*").c_str(), &data));
  if (!find.Valid()) return;
  do {
    std::wstring entry = folder + data.cFileName;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0) continue;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        RemoveDirectoryW(entry.c_str());  // removes the link, not what it points to
      else
        DeleteFolderTree(entry + L"\\");
    } else {
      DeleteFileW(entry.c_str());
    }
  } while (FindNextFileW(find.Get(), &data));
}

bool DeleteFolderTree(const std::wstring& path) {
  if (path.empty()) return false;
  std::wstring folder = path;
  if (folder.back() != L'\\') folder += L'\\';
  // A linked folder given as the path itself is unlinked like one found inside the tree.
  std::wstring self = folder.substr(0, folder.size() - 1);
  if (IsLink(self)) return RemoveDirectoryW(self.c_str()) != FALSE;
  EmptyFolder(folder);
  return RemoveDirectoryW(folder.c_str()) != FALSE;
}

}  // namespace stubframework::utils
