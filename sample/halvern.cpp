// The sample product's program. The wizard's Finish page starts it and goes on, so it shows
// nothing and ends at once; it only appends a line to %LOCALAPPDATA%\Halvern\starts.log, which
// tells a demo run that the page really started it and with which command line.
#include <windows.h>
#include <shlobj.h>

namespace {

void WriteUtf8(HANDLE file, const wchar_t* text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  char* bytes = size > 0 ? static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, size)) : nullptr;
  if (!bytes) return;
  WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, size, nullptr, nullptr);
  DWORD written = 0;
  WriteFile(file, bytes, static_cast<DWORD>(size - 1), &written, nullptr);
  HeapFree(GetProcessHeap(), 0, bytes);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t path[MAX_PATH + 32] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path))) return 0;
  lstrcatW(path, L"\\Halvern");
  CreateDirectoryW(path, nullptr);
  lstrcatW(path, L"\\starts.log");
  HANDLE log = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return 0;
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t stamp[32];
  wsprintfW(stamp, L"%04u-%02u-%02u %02u:%02u:%02u ", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
            now.wSecond);
  WriteUtf8(log, stamp);
  WriteUtf8(log, GetCommandLineW());
  WriteUtf8(log, L"\r\n");
  CloseHandle(log);
  return 0;
}
