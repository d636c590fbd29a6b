#include "core/CommandLine.h"

#include <windows.h>
#include <bcrypt.h>
#include <shellapi.h>

#include <cstdarg>
#include <cwchar>

#include "core/EmbeddedPackage.h"
#include "core/FrameworkCore.h"
#include "core/LockedFile.h"
#include "core/Registry.h"
#include "core/Signature.h"
#include "core/TextFormat.h"
#include "core/UniqueHandle.h"
#include "core/WorkingFolders.h"

namespace stubframework::core {
namespace {

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
                                         L"parentProcessID=", L"replaceToken="};

// A short text file of the working root, which only administrators write: read and deleted at
// once, so that it serves one hand-over only.
bool TakeRootText(const std::wstring& path, std::wstring& text) {
  std::string bytes;
  {
    utils::FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.Valid()) return false;
    char buffer[1024];
    DWORD read = 0;
    if (!ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) || read == sizeof(buffer)) read = 0;
    bytes.assign(buffer, read);
  }
  DeleteFileW(path.c_str());
  text = utils::Utf8ToWide(bytes);
  return !text.empty();
}

bool WriteRootText(const std::wstring& path, const std::wstring& text) {
  std::string bytes = utils::WideToUtf8(text);
  utils::FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file.Valid() && WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

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

// Waits for the parent, then replaces the launch location with the image read before the token
// was taken: the launcher, which goes once the token is taken, takes the working root and this
// program's file in it along. Failures leave the old stub.
void ReplaceAfterUpdate(const std::wstring& parent, const std::string& image) {
  std::wstring target;
  if (!GetShortcutPath(GetCommandLineW(), target) || image.empty() || !Exists(target)) {
    LauncherTrace(L"nothing to replace at \"%s\"", target.c_str());
    return;
  }
  WaitForProcessExit(static_cast<DWORD>(utils::ParseDecimalInt(parent)));
  // A scanner or indexer reading the file holds it for a moment: a few tries, 10 s at most.
  bool replaced = false;
  for (int attempt = 0; attempt < 50 && !(replaced = ReplaceWithImage(image, target)); ++attempt) Sleep(200);
  if (!replaced) LauncherTrace(L"replacing \"%s\" failed: %lu", target.c_str(), GetLastError());
}

std::string ReadOwnImage() {
  utils::FileHandle file(CreateFileW(ModulePath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size = {};
  if (!file.Valid() || !GetFileSizeEx(file.Get(), &size) || size.QuadPart <= 0 || size.QuadPart > 256 * 1024 * 1024)
    return std::string();
  std::string image(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!ReadFile(file.Get(), &image[0], static_cast<DWORD>(image.size()), &read, nullptr) || read != image.size())
    return std::string();
  return image;
}

// Waits, bounded, until the replacer has taken its token: the root goes with the launcher.
void AwaitTokenTaken(const std::wstring& token) {
  for (int i = 0; i < 100 && Exists(token); ++i) Sleep(100);
}

// The self-update hand-over after the user-interface process ended with kSelfUpdateExitCode: the
// new stub that this run's own update left in the working root, run only when a pinned publisher
// signed it.
void RunUpdateStub(const std::wstring& path, const std::wstring& folder, const std::wstring& tail) {
  std::wstring name;
  if (!TakeUpdateHandOver(folder, name)) {
    LauncherTrace(L"no self-update of this run to hand over");
    return;
  }
  if (!IsBareFileName(name) || !Exists(folder + name)) {
    LauncherTrace(L"refused update stub name \"%s\"", name.c_str());
    return;
  }
  // Held open and locked until both runs of the new stub have been started.
  utils::FileHandle held;
  std::wstring why;
  if (!MayRunUpdateStub(folder + name, held.Out(), why)) {
    LauncherTrace(L"update stub \"%s\" refused: %s", name.c_str(), why.c_str());
    return;
  }
  std::wstring arguments = tail + L" run=1 update=0 shortcut=\"" + path + L"\"";
  DWORD code = RunProcess(folder, name, arguments, true);
  std::wstring token;
  if (WriteReplaceToken(folder, token)) {
    arguments += utils::FormatWide(L" newVersionExitCode=%lu parentProcessID=%lu replaceToken=%s", code,
                                   GetCurrentProcessId(), token.c_str());
    if (RunProcess(folder, name, arguments, false) == STILL_ACTIVE) AwaitTokenTaken(folder + kReplaceTokenFile);
  }
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

// Read as the argument it is, so passthrough="A=1 B=2" and "passthrough=A=1 B=2" (as a deployment
// tool quotes it) give the same text, and no longer key such as xpassthrough= is taken for it.
std::wstring PassthroughArguments(const std::wstring& commandLine) {
  std::wstring arguments = GetCommandLineValue(commandLine, L"passthrough");
  std::wstring extra = GetCommandLineValue(commandLine, L"passthro");
  if (!extra.empty()) arguments += L" " + extra;
  return arguments;
}

std::wstring BoundedPassthrough(const std::wstring& text, const std::vector<std::wstring>& allowed,
                                std::vector<std::wstring>& dropped) {
  std::wstring kept;
  size_t start = text.find_first_not_of(L" \t");
  while (start != std::wstring::npos) {
    size_t end = text.find_first_of(L" \t", start);
    std::wstring piece = text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    size_t equals = piece.find(L'=');
    bool pass = equals != std::wstring::npos && equals + 1 < piece.size() && piece.find(L'"') == std::wstring::npos;
    if (pass) {
      std::wstring name = piece.substr(0, equals);
      pass = false;
      for (const std::wstring& property : allowed) pass = pass || name == property;
    }
    if (pass)
      kept += (kept.empty() ? L"" : L" ") + piece;
    else
      dropped.push_back(piece);
    start = end == std::wstring::npos ? end : text.find_first_not_of(L" \t", end);
  }
  return kept;
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
      if (code == static_cast<DWORD>(kSelfUpdateExitCode)) RunUpdateStub(path, folder, tail);
    } else {
      LauncherTrace(L"copy to \"%s\" failed: %lu", folder.c_str(), GetLastError());
    }
  }
  utils::ReleaseWorkingRoot();
  return false;
}

bool WriteUpdateHandOver(const std::wstring& name) {
  std::wstring root;
  return utils::GetWorkingRoot(root) && utils::WorkingRootIsShared() && WriteRootText(root + kUpdateHandOverFile, name);
}

bool TakeUpdateHandOver(const std::wstring& root, std::wstring& name) {
  return TakeRootText(root + kUpdateHandOverFile, name);
}

bool WriteReplaceToken(const std::wstring& root, std::wstring& token) {
  unsigned char bytes[16];
  if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes, sizeof(bytes), BCRYPT_USE_SYSTEM_PREFERRED_RNG))) return false;
  token.clear();
  for (unsigned char byte : bytes) token += utils::FormatWide(L"%02x", byte);
  return WriteRootText(root + kReplaceTokenFile, token);
}

bool TakeReplaceToken(const std::wstring& given) {
  std::wstring root, stored;
  if (given.empty() || !utils::GetWorkingRoot(root)) return false;
  bool taken = utils::WorkingRootIsShared() && TakeRootText(root + kReplaceTokenFile, stored) && stored == given;
  // A root made for this check alone goes again.
  if (!utils::WorkingRootIsShared()) utils::ReleaseWorkingRoot();
  return taken;
}

void HandleReplaceAfterUpdate() {
  const std::wstring commandLine = GetCommandLineW();
  std::wstring newCode = GetCommandLineValue(commandLine, L"newVersionExitCode");
  std::wstring parent = GetCommandLineValue(commandLine, L"parentProcessID");
  if (newCode.empty() || parent.empty()) return;
  // Anyone may start the stub with these arguments: only the launcher of this run's own update,
  // which left the token in its working root, has a file replaced.
  std::string image = ReadOwnImage();
  if (!TakeReplaceToken(GetCommandLineValue(commandLine, L"replaceToken"))) {
    LauncherTrace(L"replace mode refused: not started by the launcher of this run's update");
    return;
  }
  ReplaceAfterUpdate(parent, image);
  ExitProcess(static_cast<UINT>(utils::ParseDecimalInt(newCode)));
}

bool ReplaceWithImage(const std::string& image, const std::wstring& target) {
  std::wstring staged = target + L".new";
  // A file or link of that name, anybody's, goes first: the stage is always a file of our own.
  DeleteFileW(staged.c_str());
  bool written = false;
  {
    utils::FileHandle file(CreateFileW(staged.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.Valid()) return false;
    DWORD done = 0;
    written = WriteFile(file.Get(), image.data(), static_cast<DWORD>(image.size()), &done, nullptr) &&
              done == image.size() && FlushFileBuffers(file.Get());
  }
  if (written && MoveFileExW(staged.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
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

bool MayRunUpdateStub(const std::wstring& candidate, HANDLE* held, std::wstring& why) {
  *held = utils::OpenLockedForUse(candidate);
  if (*held == INVALID_HANDLE_VALUE) {
    why = L"it cannot be opened and locked";
    return false;
  }
  if (!SignedByPinnedPublisher(candidate, *held, why)) return false;
  zip::FileSource source(*held, nullptr);
  zip::ZipReader reader;
  if (OpenPackage(source, reader)) return true;
  why = L"its UI package lies outside its signed bytes";
  return false;
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
  utils::KernelHandle thread(process.hThread), child(process.hProcess);
  if (wait) WaitForSingleObject(child.Get(), INFINITE);
  DWORD code = STILL_ACTIVE;
  if (wait && !GetExitCodeProcess(child.Get(), &code)) code = 0;
  return code;
}

void WaitForProcessExit(DWORD processId) {
  utils::KernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
  if (process.Valid()) WaitForSingleObject(process.Get(), kParentWaitBoundMs);
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
