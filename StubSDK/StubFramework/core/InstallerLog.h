#pragma once
// The run's plain-text log: one file in a temporary folder of its own, lines of the form
// "[20261209 06:01:02   7 DEBUG] message" ending in CR LF. Logging never fails loudly: without a
// file every write does nothing.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

namespace stubframework::debug {

enum LogLevel { kLogTrace = 1, kLogError = 2, kLogWarning = 3, kLogDebug = 4 };

class InstallerLog {
 public:
  InstallerLog();
  ~InstallerLog();
  InstallerLog(const InstallerLog&) = delete;
  InstallerLog& operator=(const InstallerLog&) = delete;

  // Safe from any thread, also while another thread closes the log.
  void Write(int level, const wchar_t* format, va_list args);
  // Closes the file early (before it is uploaded); later writes do nothing.
  void Close();
  // The ERROR line for an exception nothing handled: its code and address, flushed at once.
  void LogUnhandledException(const EXCEPTION_RECORD* record);

  const std::wstring& FilePath() const { return filePath_; }
  const std::wstring& Folder() const { return folder_; }

 private:
  void WriteLine(int level, const std::wstring& message);

  std::wstring filePath_;
  std::wstring folder_;
  int threshold_ = kLogDebug;
  FILE* file_ = nullptr;
  // Guards file_ across threads. Recursive, so that a crash inside Write can still log itself.
  std::recursive_mutex lock_;
};

void LogTrace(InstallerLog* log, const wchar_t* format, ...);
void LogError(InstallerLog* log, const wchar_t* format, ...);
void LogDebug(InstallerLog* log, const wchar_t* format, ...);

// The line prefix "[yyyymmdd hh:mm:ss mmm LEVEL] " for a time and level.
std::string LogLinePrefix(int year, int month, int day, int hour, int minute, int second,
                          int milliseconds, int level);

}  // namespace stubframework::debug
