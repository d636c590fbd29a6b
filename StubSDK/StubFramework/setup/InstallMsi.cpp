#include "setup/InstallMsi.h"

#include <atomic>
#include <cwchar>
#include <cwctype>
#include <vector>

#include "core/CommandLine.h"
#include "core/FrameworkCore.h"
#include "core/TextFormat.h"
#include "core/WorkingFolders.h"
#include "setup/InstallExe.h"

namespace stubframework::setup {

namespace {

// Reset messages seen since the install began; Windows Installer calls the handler on one thread
// at a time, but the worker resets the count from its own.
std::atomic<int> resetMessages{0};

constexpr DWORD kMsiLogMode = 0x1FDF;

// Reads "index: number" pairs into fields 0..3; stops at an index above 3 or text that is not a
// pair. Numbers saturate instead of overflowing.
void ReadProgressFields(const wchar_t* text, long long fields[4]) {
  const wchar_t* p = text;
  for (;;) {
    while (*p == L' ') ++p;
    if (!iswdigit(*p)) return;
    long long index = 0;
    while (iswdigit(*p) && index <= 3) index = index * 10 + (*p++ - L'0');
    if (index > 3 || *p != L':') return;
    ++p;
    while (*p == L' ') ++p;
    bool negative = *p == L'-';
    if (negative) ++p;
    if (!iswdigit(*p)) return;
    long long number = 0;
    while (iswdigit(*p)) {
      if (number < 0xFFFFFFFFLL) number = number * 10 + (*p - L'0');
      ++p;
    }
    if (number > 0xFFFFFFFFLL) number = 0xFFFFFFFFLL;
    fields[index] = negative ? -number : number;
  }
}

}  // namespace

bool HasInstallerArgument(const std::wstring& parameters, const wchar_t* text) {
  // Argument 0 of a command line is parsed as a program path: give it one of its own.
  std::vector<std::wstring> arguments = core::SplitCommandLine(L"installer " + parameters);
  for (size_t i = 1; i < arguments.size(); ++i)
    if (_wcsicmp(arguments[i].c_str(), text) == 0) return true;
  return false;
}

MsiUiChoice ChooseMsiUi(const std::wstring& parameters) {
  if (HasInstallerArgument(parameters, L"/QN")) return {INSTALLUILEVEL_NONE, INSTALLLOGMODE_PROGRESS};
  if (HasInstallerArgument(parameters, L"/QF")) return {INSTALLUILEVEL_FULL, 0x2000};
  if (HasInstallerArgument(parameters, L"/QB!"))
    return {static_cast<INSTALLUILEVEL>(INSTALLUILEVEL_BASIC | INSTALLUILEVEL_HIDECANCEL), INSTALLLOGMODE_PROGRESS};
  return {INSTALLUILEVEL_DEFAULT, 0};
}

std::wstring StripMsiSwitches(const std::wstring& parameters) {
  static const wchar_t* const kSwitches[] = {L"/l", L"$LOGFILE$", L"/qn", L"/qf", L"/qb!"};
  std::wstring kept;
  bool quoted = false;
  size_t i = 0;
  while (i < parameters.size()) {
    bool argumentStart = !quoted && (i == 0 || parameters[i - 1] == L' ' || parameters[i - 1] == L'\t');
    bool strip = false;
    for (const wchar_t* name : kSwitches)
      if (argumentStart && _wcsnicmp(parameters.c_str() + i, name, wcslen(name)) == 0) strip = true;
    if (strip) {
      while (i < parameters.size() && parameters[i] != L' ') ++i;
      while (i < parameters.size() && (parameters[i] == L' ' || parameters[i] == L'\t')) ++i;
      continue;
    }
    if (parameters[i] == L'"') quoted = !quoted;
    kept += parameters[i++];
  }
  size_t first = kept.find_first_not_of(L" \t");
  if (first == std::wstring::npos) return L"";
  return kept.substr(first, kept.find_last_not_of(L" \t") - first + 1);
}

INT CALLBACK MsiProgressHandler(LPVOID context, UINT messageType, LPCWSTR message) {
  auto* external = static_cast<core::HtmlExternal*>(context);
  if (!external || !message || (messageType & 0xFF000000u) != INSTALLMESSAGE_PROGRESS) return 0;
  long long fields[4] = {};
  ReadProgressFields(message, fields);
  switch (fields[1]) {
    case 0:  // reset: script generation first, then execution with the real total
      if (resetMessages.fetch_add(1) == 1) external->SetInstallTotal(ClampToDword(fields[2]));
      break;
    case 1:  // action info: actions that report ticks per data message add them to the total
      if (InstallProgressValue(external, L"installTotal") != 0 && fields[3] != 0)
        external->SetInstallTotal(ClampToDword(static_cast<long long>(InstallProgressValue(external, L"installTotal")) + fields[2]));
      break;
    case 2:  // progress of the execution script
      if (resetMessages.load() > 1)
        external->SetInstallCurrent(ClampToDword(static_cast<long long>(InstallProgressValue(external, L"installCurrent")) + fields[2]));
      break;
    default:
      break;
  }
  return 0;
}

void ResetMsiProgressCounter() { resetMessages = 0; }

std::wstring TimestampedLogPath(core::FrameworkCore* core, const std::wstring& name, const wchar_t* extension) {
  std::wstring folder;
  if (!utils::GetRunLogFolder(folder)) return L"";
  SYSTEMTIME now;
  GetSystemTime(&now);
  return folder + name +
         utils::FormatWide(L"%4d%02d%02d%02d%02d%02d", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                           now.wSecond) +
         extension;
}

Config_ErrorHandle InstallMsi(core::FrameworkCore* core, const std::wstring& file, const std::wstring& parameters,
                              const std::wstring& logPath) {
  core::HtmlExternal* external = core->external;
  external->SetInstallCurrent(0);
  external->SetInstallTotal(1);
  ResetMsiProgressCounter();

  MsiUiChoice ui = ChooseMsiUi(parameters);
  INSTALLUILEVEL previousLevel = MsiSetInternalUI(ui.level, nullptr);
  INSTALLUI_HANDLERW previousHandler = MsiSetExternalUIW(MsiProgressHandler, ui.filter, external);
  if (!logPath.empty()) MsiEnableLogW(kMsiLogMode, logPath.c_str(), INSTALLLOGATTRIBUTES_APPEND);

  std::wstring cleaned = StripMsiSwitches(parameters);
  core::FrameworkLogDebug(core, L"InstallMsi %s, parameter: %s", file.c_str(), cleaned.c_str());
  UINT code = MsiInstallProductW(file.c_str(), cleaned.c_str());
  Config_ErrorHandle result = TransferInstallError(core, code);
  core::FrameworkLogDebug(core, L"InstallMsi %s, return %d", file.c_str(), static_cast<int>(code));
  external->lastInstallError = static_cast<LONG>(code);
  external->SetInstallCurrent(InstallProgressValue(external, L"installTotal"));

  MsiEnableLogW(0, nullptr, 0);
  MsiSetExternalUIW(previousHandler, 0, nullptr);
  MsiSetInternalUI(previousLevel, nullptr);
  return result;
}

}  // namespace stubframework::setup
