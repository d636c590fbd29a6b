// Trust for the test web service's certificate authority in a Wine prefix.
//   trust-ca add <certificate file>   adds the certificate (DER or PEM) to the current user's
//                                     "Root" system store, which lives in the prefix's registry
//   trust-ca get <https URL>          one WinHTTP GET; prints "status <code>" or "error <code>"
// Both end with 0 on success, 1 on failure and 2 on a wrong command line.
#include <windows.h>
#include <shellapi.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct InternetHandle {
  HINTERNET handle;
  explicit InternetHandle(HINTERNET h) : handle(h) {}
  ~InternetHandle() {
    if (handle) WinHttpCloseHandle(handle);
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
};

int Fail(const char* what) {
  printf("error %lu (%s)\n", GetLastError(), what);
  return 1;
}

int AddRoot(const wchar_t* path) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Fail("open");
  std::vector<BYTE> data(GetFileSize(file, nullptr));
  DWORD read = 0;
  BOOL ok = ReadFile(file, data.data(), static_cast<DWORD>(data.size()), &read, nullptr);
  CloseHandle(file);
  if (!ok || read != data.size()) return Fail("read");
  // A PEM file carries the DER bytes as base64 between its header lines.
  DWORD size = 0;
  std::vector<BYTE> der;
  if (CryptStringToBinaryA(reinterpret_cast<const char*>(data.data()), read, CRYPT_STRING_BASE64HEADER,
                           nullptr, &size, nullptr, nullptr)) {
    der.resize(size);
    CryptStringToBinaryA(reinterpret_cast<const char*>(data.data()), read, CRYPT_STRING_BASE64HEADER,
                         der.data(), &size, nullptr, nullptr);
  } else {
    der = data;
  }
  if (!CertAddEncodedCertificateToSystemStoreW(L"Root", der.data(), static_cast<DWORD>(der.size())))
    return Fail("CertAddEncodedCertificateToSystemStoreW");
  printf("added\n");
  return 0;
}

int Get(const wchar_t* url) {
  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(url, 0, 0, &parts)) return Fail("WinHttpCrackUrl");
  std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength + parts.dwExtraInfoLength);
  InternetHandle session(WinHttpOpen(L"trust-ca", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                     WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session.handle) return Fail("WinHttpOpen");
  InternetHandle connection(WinHttpConnect(session.handle, host.c_str(), parts.nPort, 0));
  if (!connection.handle) return Fail("WinHttpConnect");
  DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
  InternetHandle request(WinHttpOpenRequest(connection.handle, L"GET", path.empty() ? L"/" : path.c_str(),
                                            nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
  if (!request.handle) return Fail("WinHttpOpenRequest");
  if (!WinHttpSendRequest(request.handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
    return Fail("WinHttpSendRequest");
  if (!WinHttpReceiveResponse(request.handle, nullptr)) return Fail("WinHttpReceiveResponse");
  DWORD status = 0, size = sizeof(status);
  if (!WinHttpQueryHeaders(request.handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
    return Fail("WinHttpQueryHeaders");
  printf("status %lu\n", status);
  return 0;
}

}  // namespace

int wmain() {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!argv) return 1;
  int result = 2;
  if (count == 3 && wcscmp(argv[1], L"add") == 0) result = AddRoot(argv[2]);
  else if (count == 3 && wcscmp(argv[1], L"get") == 0) result = Get(argv[2]);
  else printf("usage: trust-ca add <certificate file> | get <https URL>\n");
  LocalFree(argv);
  fflush(stdout);
  return result;
}
