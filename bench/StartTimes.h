#pragma once
// Moments of a process's start, as bench/whole-job.sh reads them: FILETIME ticks (100 ns since
// 1601) of the system clock, the clock Wine gives the process's creation time too, so that they
// compare with each other and with the Linux side's clock. Each process appends one line to the
// file that HALVERN_START_TIMES names: the launcher and its copy both reach it through the
// environment, which the copy inherits.
#include <windows.h>

#include <cstdio>

namespace starttimes {

inline unsigned long long Ticks(const FILETIME& time) {
  return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

inline unsigned long long Now() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  return Ticks(now);
}

inline unsigned long long ProcessCreated() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  return Ticks(created);
}

// Appends "text\n"; false when the variable is missing or the file cannot be written.
inline bool AppendLine(const char* text) {
  wchar_t path[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(L"HALVERN_START_TIMES", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char line[512];
  int size = snprintf(line, sizeof line, "%s\n", text);
  DWORD written = 0;
  bool done = size > 0 && size < static_cast<int>(sizeof line) && WriteFile(file, line, size, &written, nullptr) &&
              written == static_cast<DWORD>(size);
  CloseHandle(file);
  return done;
}

}  // namespace starttimes
