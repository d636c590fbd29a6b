#include "core/CommandLine.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdarg>
#include <cwchar>

#include "core/EmbeddedPackage.h"
#include "core/FileHandle.h"
#include "core/FrameworkCore.h"
#include "core/LockedFile.h"
#include "core/Registry.h"
#include "core/Signature.h"
#include "core/TextFormat.h"
#include "core/WorkingFolders.h"

namespace stubframework::core {
namespace {

// The value of key="..." anywhere in the raw command line, up to the next double quote.
std::wstring QuotedValue(const std::wstring& commandLine, const std::wstring& key) {
  std::wstring marker = key + L"=\"";
  size_t start = commandLine.find(marker);
  if (start == std::wstring::npos) return L"";
  start += marker.size();
  size_t end = commandLine.find(L'"', start);
  return commandLine.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring FileNamePart(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix) {
  size_t length = wcslen(prefix);
  return text.size() >= length && _wcsnicmp(text.c_str(), prefix, length) == 0;
}

// The launcher and the replacer run before any installer log exists.
void LauncherTrace(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring line = L"HalvernSetup launcher: " + utils::FormatWideV(format, args) + L"\n";
  va_end(args);
  OutputDebugStringW(line.c_str());
}

const wchar_t* const kProtocolKeys[] = {L"run=", L"shortcut=", L"update=", L"newVersionExitCode=",
                                         L"parentProcessID="};

bool IsProtocolArgument(const std::wstring& argument) {
  for (const wchar_t* key : kProtocolKeys)
    if (StartsWithNoCase(argument, key)) return true;
  return false;
}

// The tail cut where CommandLineToArgvW ends an argument: at blanks outside quotes. Each piece
// keeps the blanks before it.
std::vector<std::wstring> RawPieces(const std::wstring& tail) {
  std::vector<std::wstring> pieces;
  size_t i = 0;
  while (i < tail.size()) {
    size_t start = i;
    while (i < tail.size() && (tail[i] == L' ' || tail[i] == L'\t')) ++i;
    if (i == tail.size()) {
      pieces.push_back(tail.substr(start));
      break;
    }
    bool quoted = false;
    size_t backslashes = 0;
    for (; i < tail.size(); ++i) {
      wchar_t c = tail[i];
      if (!quoted && (c == L' ' || c == L'\t')) break;
      if (c == L'"' && backslashes % 2 == 0) quoted = !quoted;
      backslashes = c == L'\\' ? backslashes + 1 : 0;
    }
    pieces.push_back(tail.substr(start, i - start));
  }
  return pieces;
}

// Waits for the parent, then replaces the launch location; failures leave the old stub.
void ReplaceAfterUpdate(const std::wstring& parent) {
  std::wstring self = ModulePath();
  std::wstring target;
  if (!GetShortcutPath(GetCommandLineW(), target) || self.empty() || !Exists(self) || !Exists(target)) {
    LauncherTrace(L"nothing to replace at \"%s\"", target.c_str());
    return;
  }
  WaitForProcessExit(static_cast<DWORD>(utils::ParseDecimalInt(parent)));
  if (!ReplaceWithCopy(self, target)) LauncherTrace(L"replacing \"%s\" failed: %lu", target.c_str(), GetLastError());
}

// Reads a value the user-interface process left for the launcher, and deletes both update values
// at once: anything of this user can write them, so none may outlive its single use.
bool TakeUpdateStubName(const std::wstring& key, std::wstring& name) {
  bool found = utils::ReadRegistryValue(key, L"update_stub_name", name);
  utils::DeleteRegistryValue(key, L"update_stub_name", false);
  utils::DeleteRegistryValue(key, L"selfupdate_code", false);
  return found;
}

// The self-update hand-over after the user-interface process ended with kSelfUpdateExitCode.
void RunUpdateStub(const std::wstring& key, const std::wstring& path, const std::wstring& folder,
                   const std::wstring& tail) {
  std::wstring name;
  if (!TakeUpdateStubName(key, name)) return;
  if (!IsBareFileName(name) || !Exists(folder + name)) {
    LauncherTrace(L"refused update stub name \"%s\"", name.c_str());
    return;
  }
  HANDLE held = INVALID_HANDLE_VALUE;
  if (!MayRunUpdateStub(path, folder + name, &held)) {
    LauncherTrace(L"update stub \"%s\" is not signed like the running stub", name.c_str());
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    return;
  }
  std::wstring arguments = tail + L" run=1 update=0 shortcut=\"" + path + L"\"";
  DWORD code = RunProcess(folder, name, arguments, true);
  arguments += utils::FormatWide(L" newVersionExitCode=%lu parentProcessID=%lu", code, GetCurrentProcessId());
  RunProcess(folder, name, arguments, false);
  CloseHandle(held);
}

}  // namespace

std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine) {
  std::vector<std::wstring> arguments;
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(commandLine.c_str(), &count);
  if (!argv) return arguments;
  for (int i = 0; i < count; ++i) arguments.emplace_back(argv[i]);
  LocalFree(argv);
  return arguments;
}

bool HasArgument(const std::wstring& commandLine, const std::wstring& text) {
  std::vector<std::wstring> arguments = SplitCommandLine(commandLine);
  for (size_t i = 1; i < arguments.size(); ++i)
    if (_wcsicmp(arguments[i].c_str(), text.c_str()) == 0) return true;
  return false;
}

std::wstring GetCommandLineValue(const std::wstring& commandLine, const std::wstring& key) {
  std::vector<std::wstring> arguments = SplitCommandLine(commandLine);
  std::wstring prefix = key + L"=";
  for (size_t i = 1; i < arguments.size(); ++i)
    if (arguments[i].compare(0, prefix.size(), prefix) == 0) return arguments[i].substr(prefix.size());
  return L"";
}

std::wstring PassthroughArguments(const std::wstring& commandLine) {
  std::wstring arguments = QuotedValue(commandLine, L"passthrough");
  std::wstring extra = QuotedValue(commandLine, L"passthro");
  if (!extra.empty()) arguments += L" " + extra;
  return arguments;
}

bool CheckRelaunch(const std::wstring& productCode, const std::wstring& majorVersion) {
  // The system's own copy, before anything could load one planted beside the stub.
  wchar_t system[MAX_PATH] = {};
  UINT length = GetSystemDirectoryW(system, MAX_PATH);
  if (length > 0 && length < MAX_PATH)
    LoadLibraryExW((std::wstring(system, length) + L"\\lpk.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);

  std::wstring path = ModulePath();
  if (Exists(path + L".local")) ExitProcess(1);
  HandleReplaceAfterUpdate();
  const std::wstring commandLine = GetCommandLineW();
  if (HasArgument(commandLine, L"run=1")) return true;

  // The copy runs from the working root, where only administrators write; it stays locked from
  // its writing until the child has ended.
  std::wstring folder;
  if (!path.empty() && utils::GetWorkingRoot(folder)) {
    std::wstring name = FileNamePart(path);
    utils::FileHandle held(INVALID_HANDLE_VALUE);
    if (CopyFileW(path.c_str(), (folder + name).c_str(), TRUE) &&
        (held.Reset(utils::OpenLockedForUse(folder + name)), held.Valid())) {
      std::wstring tail = ForwardedTail(commandLine);
      DWORD code = RunProcess(folder, name, tail + L" run=1 shortcut=\"" + path + L"\"", true);
      held.Close();
      if (code == static_cast<DWORD>(kSelfUpdateExitCode))
        RunUpdateStub(utils::ProductRegistryKey(productCode, majorVersion), path, folder, tail);
    } else {
      LauncherTrace(L"copy to \"%s\" failed: %lu", folder.c_str(), GetLastError());
    }
  }
  utils::ReleaseWorkingRoot();
  return false;
}

void HandleReplaceAfterUpdate() {
  const std::wstring commandLine = GetCommandLineW();
  std::wstring newCode = GetCommandLineValue(commandLine, L"newVersionExitCode");
  std::wstring parent = GetCommandLineValue(commandLine, L"parentProcessID");
  if (newCode.empty() || parent.empty()) return;
  ReplaceAfterUpdate(parent);
  ExitProcess(static_cast<UINT>(utils::ParseDecimalInt(newCode)));
}

bool ReplaceWithCopy(const std::wstring& self, const std::wstring& target) {
  std::wstring staged = target + L".new";
  if (!CopyFileW(self.c_str(), staged.c_str(), FALSE)) return false;
  if (MoveFileExW(staged.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  DWORD error = GetLastError();
  DeleteFileW(staged.c_str());
  SetLastError(error);
  return false;
}

std::wstring RawTail(const std::wstring& commandLine) {
  if (!commandLine.empty() && commandLine[0] == L'"') {
    size_t quote = commandLine.find(L'"', 1);
    return quote == std::wstring::npos ? std::wstring() : commandLine.substr(quote + 1);
  }
  size_t blank = commandLine.find_first_of(L" \t");
  return blank == std::wstring::npos ? std::wstring() : commandLine.substr(blank);
}

std::wstring ForwardedTail(const std::wstring& commandLine) {
  std::wstring tail;
  for (const std::wstring& piece : RawPieces(RawTail(commandLine))) {
    std::vector<std::wstring> split = SplitCommandLine(L"x " + piece);
    if (split.size() == 2 && IsProtocolArgument(split[1])) continue;
    tail += piece;
  }
  if (!tail.empty() && tail[0] != L' ' && tail[0] != L'\t') tail.insert(0, L" ");
  // The child splits the text itself: should its reading differ from the pieces', nothing of the
  // user's is forwarded rather than a steering key.
  std::vector<std::wstring> forwarded = SplitCommandLine(L"x" + tail);
  for (size_t i = 1; i < forwarded.size(); ++i)
    if (IsProtocolArgument(forwarded[i])) return L"";
  return tail;
}

bool IsBareFileName(const std::wstring& name) {
  if (name.empty() || name.find(L"..") != std::wstring::npos) return false;
  for (wchar_t c : name)
    if (c < 0x20 || wcschr(L"\\/:*?\"<>|", c)) return false;
  return true;
}

std::wstring UpdateStubName(const std::wstring& url, const std::wstring& runningName) {
  std::wstring name = url.substr(0, url.find_first_of(L"?#"));
  size_t slash = name.find_last_of(L"/\\");
  if (slash != std::wstring::npos) name.erase(0, slash + 1);
  if (!IsBareFileName(name)) return L"";
  if (_wcsicmp(name.c_str(), runningName.c_str()) == 0) {
    size_t dot = name.rfind(L'.');
    name = (dot == std::wstring::npos ? name : name.substr(0, dot)) + L"_update.exe";
  }
  return name;
}

bool MayRunUpdateStub(const std::wstring& running, const std::wstring& candidate, HANDLE* held) {
  *held = CreateFileW(candidate.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (*held == INVALID_HANDLE_VALUE) return false;
  if (VerifyFileSignature(running) == TRUST_E_NOSIGNATURE) return true;
  zip::FileSource source(*held, nullptr);
  zip::ZipReader reader;
  return VerifyFileSignature(candidate, *held) == ERROR_SUCCESS && SameSigner(running, candidate) &&
         OpenPackage(source, reader);
}

DWORD RunProcess(const std::wstring& folder, const std::wstring& fileName, const std::wstring& arguments, bool wait) {
  std::wstring application = folder + fileName;
  // CreateProcessW may write into the command line it is given.
  std::vector<wchar_t> commandLine(arguments.begin(), arguments.end());
  commandLine.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                      &startup, &process)) {
    LauncherTrace(L"starting \"%s\" failed: %lu", application.c_str(), GetLastError());
    return 0;
  }
  if (wait) WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = STILL_ACTIVE;
  if (wait && !GetExitCodeProcess(process.hProcess, &code)) code = 0;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

void WaitForProcessExit(DWORD processId) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
  if (!process) return;
  WaitForSingleObject(process, kParentWaitBoundMs);
  CloseHandle(process);
}

std::wstring ModulePath() {
  wchar_t path[MAX_PATH] = {};
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(path, length) : std::wstring();
}

bool GetShortcutPath(const std::wstring& commandLine, std::wstring& path) {
  const std::wstring prefix = L"shortcut=";
  for (const std::wstring& argument : SplitCommandLine(commandLine)) {
    if (argument.compare(0, prefix.size(), prefix) == 0) {
      path = argument.substr(prefix.size());
      return true;
    }
  }
  return false;
}

}  // namespace stubframework::core
