// A stand-in installer program for the install worker's tests. Its arguments choose what it does:
//   out=<file>    writes its whole command line there (UTF-16) before anything else
//   sleep=<ms>    then sleeps that long
//   exit=<code>   and ends with that exit code (0 without it)
//   lock=<file> report=<file>   tries to open the lock file for writing and for deleting, as any
//                 other process could while it runs, and writes both error codes ("32 32" when
//                 the file is held) to the report file

// Every other argument is ignored, so the worker's own additions pass through harmlessly.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <cwctype>
#include <string>

namespace {

bool Value(const wchar_t* argument, const wchar_t* key, std::wstring& value) {
  size_t length = wcslen(key);
  if (_wcsnicmp(argument, key, length) != 0) return false;
  value = argument + length;
  return true;
}

}  // namespace

int wmain() {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!argv) return 1;
  std::wstring out, sleep, exit, lock, report;
  for (int i = 1; i < count; ++i) {
    std::wstring value;
    if (Value(argv[i], L"out=", value)) out = value;
    else if (Value(argv[i], L"sleep=", value)) sleep = value;
    else if (Value(argv[i], L"exit=", value)) exit = value;
    else if (Value(argv[i], L"lock=", value)) lock = value;
    else if (Value(argv[i], L"report=", value)) report = value;
  }
  LocalFree(argv);
  if (!out.empty()) {
    HANDLE file = CreateFileW(out.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      const wchar_t* line = GetCommandLineW();
      DWORD written = 0;
      WriteFile(file, line, static_cast<DWORD>(wcslen(line) * sizeof(wchar_t)), &written, nullptr);
      CloseHandle(file);
    }
  }
  if (!lock.empty() && !report.empty()) {
    DWORD errors[2] = {};
    const DWORD accesses[2] = {GENERIC_WRITE, DELETE};
    for (int i = 0; i < 2; ++i) {
      HANDLE file = CreateFileW(lock.c_str(), accesses[i], FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      errors[i] = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
      if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
    char text[32];
    int length = wsprintfA(text, "%lu %lu", errors[0], errors[1]);
    HANDLE file = CreateFileW(report.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr);
      CloseHandle(file);
    }
  }
  if (!sleep.empty()) Sleep(wcstoul(sleep.c_str(), nullptr, 10));
  return exit.empty() ? 0 : static_cast<int>(wcstoul(exit.c_str(), nullptr, 10));
}
