#include "core/InstallerLog.h"

#include <windows.h>
#include <shlwapi.h>

#include "core/TextFormat.h"
#include "core/WorkingFolders.h"

namespace stubframework::debug {
namespace {

const char* LevelName(int level) {
  switch (level) {
    case kLogTrace: return "TRACE";
    case kLogError: return "ERROR";
    case kLogWarning: return "WARNING";
    default: return "DEBUG";
  }
}

}  // namespace

std::string LogLinePrefix(int year, int month, int day, int hour, int minute, int second,
                          int milliseconds, int level) {
  char time[80];
  snprintf(time, sizeof(time), "%4d%02d%02d %02d:%02d:%02d %3d", year, month, day, hour, minute,
           second, milliseconds);
  char prefix[128];
  snprintf(prefix, sizeof(prefix), "[%s %s] ", time, LevelName(level));
  return prefix;
}

InstallerLog::InstallerLog() {
  std::wstring folder;
  if (!utils::CreateUniqueTempFolder(folder)) return;
  folder_ = folder;
  SYSTEMTIME now;
  GetSystemTime(&now);
  std::wstring name = utils::FormatWide(L"installer_log_%4d%02d%02d%02d%02d%02d.txt", now.wYear,
                                        now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
  wchar_t path[MAX_PATH] = {};
  if (!PathCombineW(path, folder_.c_str(), name.c_str())) return;
  filePath_ = path;
  // Append and read, text mode (LF becomes CR LF), not inherited by child processes.
  file_ = _wfopen(filePath_.c_str(), L"a+N");
}

InstallerLog::~InstallerLog() {
  Close();
  if (!folder_.empty()) utils::DeleteFolderTree(folder_);
}

void InstallerLog::Close() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (file_) {
    fclose(file_);
    file_ = nullptr;
  }
}

void InstallerLog::LogUnhandledException(const EXCEPTION_RECORD* record) {
  if (!record) return;
  WriteLine(kLogError, utils::FormatWide(L"Unhandled exception 0x%08lX at 0x%p", record->ExceptionCode,
                                         record->ExceptionAddress));
}

void InstallerLog::Write(int level, const wchar_t* format, va_list args) {
  if (level > threshold_) return;
  WriteLine(level, utils::FormatWideV(format, args));
}

void InstallerLog::WriteLine(int level, const std::wstring& message) {
  SYSTEMTIME now;
  GetSystemTime(&now);
  // One write per line, so that lines of different threads never interleave. The message is
  // stored as UTF-8, which keeps every character representable.
  std::string line = LogLinePrefix(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                                   now.wSecond, now.wMilliseconds, level);
  line += utils::WideToUtf8(message);
  line += '\n';
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (!file_) return;
  fwrite(line.data(), 1, line.size(), file_);
  fflush(file_);
}

#define STUB_LOG_AT(levelValue)            \
  if (!log) return;                        \
  va_list args;                            \
  va_start(args, format);                  \
  log->Write(levelValue, format, args);    \
  va_end(args)

void LogTrace(InstallerLog* log, const wchar_t* format, ...) { STUB_LOG_AT(kLogTrace); }
void LogError(InstallerLog* log, const wchar_t* format, ...) { STUB_LOG_AT(kLogError); }
void LogDebug(InstallerLog* log, const wchar_t* format, ...) { STUB_LOG_AT(kLogDebug); }

#undef STUB_LOG_AT

}  // namespace stubframework::debug
