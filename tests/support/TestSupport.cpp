// Winsock's header comes before the one that includes windows.h.
#include <winsock2.h>

#include "support/TestSupport.h"

#include <fstream>
#include <iterator>
#include <vector>

#include "core/MessagePump.h"
#include "core/WorkingFolders.h"

namespace testsupport {

// Scratch space of the tests themselves, in the user's temporary directory: the run's working root
// is the code under test's, and a core released in a test removes it.
ScratchFolder::ScratchFolder() {
  std::wstring temp;
  if (stubframework::utils::GetLongTempPath(temp)) stubframework::utils::CreateUniqueFolderIn(temp, GetTickCount(), path_);
}

ScratchFolder::~ScratchFolder() {
  if (!path_.empty()) stubframework::utils::DeleteFolderTree(path_);
}

std::vector<std::wstring> FolderEntries(const std::wstring& folder, const std::wstring& pattern) {
  std::vector<std::wstring> entries;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + pattern).c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return entries;
  do {
    std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") entries.push_back(name);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return entries;
}

std::wstring Wide(const std::string& text) {
  int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  if (length > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

std::string ReadFileBytes(const std::wstring& path) {
  stubframework::utils::FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                    nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file.Valid()) return std::string();
  std::string bytes;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) bytes.append(buffer, read);
  return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  stubframework::utils::FileHandle file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!file.Valid()) return false;
  DWORD written = 0;
  return WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

bool PathExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder = path;
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

std::wstring EnvironmentFolder(const wchar_t* name) {
  const wchar_t* value = _wgetenv(name);
  std::wstring path = value ? value : L"";
  if (path.empty()) return path;
  if (path[0] == L'/') path = L"Z:" + path;
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  if (path.back() != L'\\') path += L'\\';
  return path;
}

ProcessResult RunAndWait(const std::wstring& application, const std::wstring& commandLine,
                         DWORD timeoutMs, bool pumpMessages) {
  ProcessResult result;
  std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
  line.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return result;
  result.started = true;
  stubframework::utils::KernelHandle thread(process.hThread), child(process.hProcess);
  bool ended = pumpMessages ? stubframework::core::PumpMessagesUntil(
                                  [&] { return WaitForSingleObject(child.Get(), 0) == WAIT_OBJECT_0; },
                                  timeoutMs, timeoutMs, {child.Get()})
                            : WaitForSingleObject(child.Get(), timeoutMs) == WAIT_OBJECT_0;
  if (ended) {
    result.finished = true;
    GetExitCodeProcess(child.Get(), &result.exitCode);
  } else {
    TerminateProcess(child.Get(), 1);
  }
  return result;
}

namespace {
const wchar_t kConnections[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
}  // namespace

bool SetUserProxy(DWORD flags, const std::string& proxy, const std::string& autoConfigUrl) {
  std::string blob;
  auto add32 = [&blob](DWORD value) { blob.append(reinterpret_cast<const char*>(&value), 4); };
  add32(0x46);
  add32(1);
  add32(flags);
  const std::string noBypass;
  for (const std::string* text : {&proxy, &noBypass, &autoConfigUrl}) {
    add32(static_cast<DWORD>(text->size()));
    blob += *text;
  }
  blob.append(32, '\0');
  stubframework::utils::RegistryKey key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kConnections, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Out(), nullptr) !=
      ERROR_SUCCESS)
    return false;
  return RegSetValueExW(key.Get(), L"DefaultConnectionSettings", 0, REG_BINARY,
                        reinterpret_cast<const BYTE*>(blob.data()), static_cast<DWORD>(blob.size())) == ERROR_SUCCESS;
}

void ClearUserProxy() { RegDeleteKeyValueW(HKEY_CURRENT_USER, kConnections, L"DefaultConnectionSettings"); }

SilentServer::SilentServer() {
  InitializeCriticalSection(&lock_);
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof(address);
  bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  listen(listener, SOMAXCONN);
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  listener_ = listener;
  thread_.Reset(CreateThread(nullptr, 0, Accept, this, 0, nullptr));
}

SilentServer::~SilentServer() {
  Release();
  closesocket(listener_);
  WaitForSingleObject(thread_.Get(), INFINITE);
  DeleteCriticalSection(&lock_);
  WSACleanup();
}

DWORD WINAPI SilentServer::Accept(void* argument) {
  auto* server = static_cast<SilentServer*>(argument);
  for (;;) {
    SOCKET connection = accept(server->listener_, nullptr, nullptr);
    if (connection == INVALID_SOCKET) return 0;
    EnterCriticalSection(&server->lock_);
    if (server->released_) closesocket(connection);
    else server->held_.push_back(connection);
    LeaveCriticalSection(&server->lock_);
    SetEvent(server->accepted_.Get());
  }
}

void SilentServer::Release() {
  EnterCriticalSection(&lock_);
  released_ = true;
  for (uintptr_t connection : held_) closesocket(connection);
  held_.clear();
  LeaveCriticalSection(&lock_);
}

bool PlantLibraries(const std::wstring& folder, const std::vector<std::wstring>& names) {
  for (const auto& name : names)
    if (!CopyFileW((ProgramFolder() + L"..\\planted\\" + name + L".dll").c_str(), (folder + name + L".dll").c_str(),
                   FALSE))
      return false;
  return true;
}

DllOverrides::DllOverrides(const std::wstring& program, const std::vector<std::wstring>& names,
                           const std::wstring& mode)
    : key_(L"Software\\Wine\\AppDefaults\\" + program) {
  stubframework::utils::RegistryKey key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, (key_ + L"\\DllOverrides").c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      key.Out(), nullptr) != ERROR_SUCCESS)
    return;
  for (const auto& name : names)
    RegSetValueExW(key.Get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(mode.c_str()),
                   static_cast<DWORD>((mode.size() + 1) * sizeof(wchar_t)));
}

DllOverrides::~DllOverrides() { DeleteKeyTree(HKEY_CURRENT_USER, key_); }

void DeleteKeyTree(HKEY root, const std::wstring& subkey) {
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    {
      stubframework::utils::RegistryKey key;
      if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_ALL_ACCESS | view, key.Out()) != ERROR_SUCCESS) continue;
      RegDeleteTreeW(key.Get(), nullptr);
    }
    RegDeleteKeyExW(root, subkey.c_str(), view, 0);
  }
}

bool ReadStringValue(HKEY root, const std::wstring& subkey, const std::wstring& name,
                     std::wstring& value) {
  wchar_t buffer[1024] = {};
  DWORD size = sizeof(buffer) - sizeof(wchar_t);
  if (RegGetValueW(root, subkey.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, buffer, &size) !=
      ERROR_SUCCESS)
    return false;
  value = buffer;
  return true;
}

namespace {

std::wstring UnixPath(const std::wstring& path) {
  using UnixFileName = char*(CDECL*)(const wchar_t*);
  auto convert = reinterpret_cast<UnixFileName>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name"));
  char* converted = convert ? convert(path.c_str()) : nullptr;
  if (!converted) return std::wstring();
  std::string text = converted;
  HeapFree(GetProcessHeap(), 0, converted);
  return std::wstring(text.begin(), text.end());
}

// Wine starts a Linux program without a handle that could be waited on: poll for the result.
bool RunOnLinux(const std::wstring& command, const std::wstring& path, bool exists) {
  std::wstring text = L"Z:\\bin\\sh -c \"" + command + L"\"";
  std::vector<wchar_t> line(text.begin(), text.end());
  line.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(L"Z:\\bin\\sh", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return false;
  // For a Linux program Wine answers no process handle and leaves a stale value in hThread: closing
  // it would close whichever handle of this process has that number (a cached registry root).
  if (process.hProcess) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  for (int check = 0; check < 1000; ++check, Sleep(10))
    if ((GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) == exists) return true;
  return false;
}

}  // namespace

bool MakeFolderLink(const std::wstring& target, const std::wstring& link) {
  std::wstring from = UnixPath(target), to = UnixPath(link);
  if (from.empty() || to.empty()) return false;
  return RunOnLinux(L"ln -s '" + from + L"' '" + to + L"'", link, true);
}

bool RemoveFolderLink(const std::wstring& link) {
  std::wstring path = UnixPath(link);
  if (path.empty()) return false;
  return RunOnLinux(L"rm -f '" + path + L"'", link, false);
}

}  // namespace testsupport
