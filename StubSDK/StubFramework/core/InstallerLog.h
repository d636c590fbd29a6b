#pragma once
// The run's plain-text log: one file in a temporary folder of its own, lines of the form
// "[20261209 06:01:02   7 DEBUG] message" ending in CR LF. Logging never fails loudly: without a
// file every write does nothing.
#include <cstdarg>
#include <cstdio>
#include <string>

namespace stubframework::debug {

enum LogLevel { kLogTrace = 1, kLogError = 2, kLogWarning = 3, kLogDebug = 4 };

class InstallerLog {
 public:
  InstallerLog();
  ~InstallerLog();
  InstallerLog(const InstallerLog&) = delete;
  InstallerLog& operator=(const InstallerLog&) = delete;

  void Write(int level, const wchar_t* format, va_list args);
  // Closes the file early (before it is uploaded); later writes do nothing.
  void Close();

  const std::wstring& FilePath() const { return filePath_; }
  const std::wstring& Folder() const { return folder_; }

 private:
  std::wstring filePath_;
  std::wstring folder_;
  int threshold_ = kLogDebug;
  FILE* file_ = nullptr;
};

void LogTrace(InstallerLog* log, const wchar_t* format, ...);
void LogError(InstallerLog* log, const wchar_t* format, ...);
void LogDebug(InstallerLog* log, const wchar_t* format, ...);

// The line prefix "[yyyymmdd hh:mm:ss mmm LEVEL] " for a time and level.
std::string LogLinePrefix(int year, int month, int day, int hour, int minute, int second,
                          int milliseconds, int level);

}  // namespace stubframework::debug
