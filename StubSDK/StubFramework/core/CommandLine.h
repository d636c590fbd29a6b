#pragma once
// The command-line keys the stub reads.
#include <windows.h>

#include <string>
#include <vector>

namespace stubframework::core {

// The command line split as CommandLineToArgvW splits it; argument 0 is the program path.
std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine);

// True when an argument after argument 0 equals text, ignoring case ("run=1", "update=0", ...).
bool HasArgument(const std::wstring& commandLine, const std::wstring& text);

// The value of the first argument after argument 0 that begins with key + "=" (case-sensitive).
std::wstring GetCommandLineValue(const std::wstring& commandLine, const std::wstring& key);

// passthrough="..." followed by a blank and passthro="..." when that is not empty.
std::wstring PassthroughArguments(const std::wstring& commandLine);

// Whoever starts the stub chooses that text, and the installers run as administrator or SYSTEM:
// only NAME=value pairs of the allowed public property names pass (the value without quotes,
// as the text has none), joined by blanks; every other piece goes to dropped.
std::wstring BoundedPassthrough(const std::wstring& text, const std::vector<std::wstring>& allowed,
                                std::vector<std::wstring>& dropped);

// The launcher protocol. The file the user started never shows the user interface: it copies
// itself into a fresh temporary folder, runs the copy with run=1 and shortcut="<its path>", waits
// and deletes the folder. When the copy ends with the self-update exit code (197800), the new
// stub it downloaded beside itself runs with update=0, then once more as the replacer, which
// waits for the launcher to end and puts itself at the launch location.

// True = continue as the user-interface process; false = end this process with 0. Ends the
// process itself with 1 when a ".local" redirection exists beside the stub, and in replace mode.
bool CheckRelaunch(const std::wstring& productCode, const std::wstring& majorVersion);

// Replace mode (newVersionExitCode= and parentProcessID= both given, and the launcher's one-time
// replaceToken=): waits for the parent, puts this file at the shortcut= location and ends the
// process with the given exit code. Without the token the arguments are ignored.
void HandleReplaceAfterUpdate();

// Puts image in place of target without ever leaving target missing or half written: a new file
// beside target, then a replacing move. False (target untouched) when either step fails.
bool ReplaceWithImage(const std::string& image, const std::wstring& target);

// The raw command line after the program path as it stands there (the path, and its quotes when
// the line begins with one), normally beginning with a blank.
std::wstring RawTail(const std::wstring& commandLine);

// The raw tail the launcher forwards: the user's arguments unchanged, without those that steer
// the launcher protocol (run=, shortcut=, update=, newVersionExitCode=, parentProcessID=, any
// case), beginning with a blank unless empty, so the child's argument 0 is always empty.
std::wstring ForwardedTail(const std::wstring& commandLine);

// A file name the launcher may start from its folder: not empty, no folder separator, drive or
// stream colon, "..", wildcard or control character.
bool IsBareFileName(const std::wstring& name);

// The new stub's name from its URL: the last path component without query or fragment; empty
// when that is no bare file name. Named like the running stub (any case), it becomes
// "<name up to its last dot>_update.exe".
std::wstring UpdateStubName(const std::wstring& url, const std::wstring& runningName);

// Whether the launcher may run candidate, a new stub, in place of the running one: only when a
// publisher the product definition pins signed it (SignedByPinnedPublisher) and its signature
// covers its UI package, found as candidate's own start finds it (OpenPackage). candidate is
// locked (LockedFile.h) and stays so while *held is open; the caller closes *held after starting
// it. why tells the log what was decided.
bool MayRunUpdateStub(const std::wstring& candidate, HANDLE* held, std::wstring& why);

// The self-update hand-over, through the launcher's working root, which only administrators
// write, never through anything of the user's: the user-interface process names the new stub it
// put there; the launcher takes the name once. A process not started by the stub's launcher
// has no root to hand over through: false.
constexpr wchar_t kUpdateHandOverFile[] = L"update-handover.txt";
bool WriteUpdateHandOver(const std::wstring& name);
bool TakeUpdateHandOver(const std::wstring& root, std::wstring& name);

// Replace mode is taken only with the one-time token that the launcher of this run's update left
// in its root for the replacer it starts (replaceToken=): the replacer takes it, and an equal
// token in the root of the launcher that started it admits the replacement.
constexpr wchar_t kReplaceTokenFile[] = L"replace-token.txt";
bool WriteReplaceToken(const std::wstring& root, std::wstring& token);
bool TakeReplaceToken(const std::wstring& given);

// Starts folder + fileName with arguments as its whole command line, in folder. Waiting, the
// exit code; not waiting, STILL_ACTIVE; 0 when it could not be started.
DWORD RunProcess(const std::wstring& folder, const std::wstring& fileName, const std::wstring& arguments, bool wait);

// Waits, for at most kParentWaitBoundMs, for the process to end; returns at once when it cannot
// be opened for waiting.
constexpr DWORD kParentWaitBoundMs = 30000;
void WaitForProcessExit(DWORD processId);

// The value of the first argument, the program path included, that begins with "shortcut="
// (case-sensitive): the stub file the user started when this process is its relaunched copy.
bool GetShortcutPath(const std::wstring& commandLine, std::wstring& path);

// Full path of the running executable; empty when it does not fit MAX_PATH (it may have been cut).
std::wstring ModulePath();

}  // namespace stubframework::core
