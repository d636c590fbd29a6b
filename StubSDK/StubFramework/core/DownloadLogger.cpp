#include "core/DownloadLogger.h"

#include <cstdio>

namespace stubframework::debug {

downloader::ILogger* DownloadLogger::Create(InstallerLog* log) {
  return downloader::details::Object<DownloadLogger>::Create(log);
}

void DownloadLogger::Log(const wchar_t* where, const wchar_t* format, ...) {
  if (!log_ || !format) return;
  // Engine messages are cut to 1023 characters.
  wchar_t message[1024];
  va_list args;
  va_start(args, format);
  int written = _vsnwprintf(message, 1024, format, args);
  va_end(args);
  if (written < 0 || written >= 1024) message[1023] = L'\0';
  LogTrace(log_, L"%s> %s", where ? where : L"", message);
}

}  // namespace stubframework::debug
