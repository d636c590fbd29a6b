#include "downloader/HttpAddress.h"

#include <urlmon.h>

#include <cstdlib>
#include <cwchar>

namespace downloader {
namespace {

bool CopyPart(const wchar_t* part, DWORD length, wchar_t* out, size_t capacity) {
  if (!part || length >= capacity) return false;
  wmemcpy(out, part, length);
  out[length] = L'\0';
  return true;
}

}  // namespace

HRESULT BrowserUserAgent(Text& agent) {
  DWORD capacity = 256;
  HRESULT hr = E_OUTOFMEMORY;
  for (int attempt = 0; attempt < 2 && hr == E_OUTOFMEMORY; ++attempt) {
    // One byte more than announced keeps the text terminated whatever the call writes.
    char* block = static_cast<char*>(malloc(capacity + 1));
    if (!block) return E_OUTOFMEMORY;
    block[capacity] = '\0';
    DWORD length = capacity;
    hr = ObtainUserAgentString(0, block, &length);
    if (SUCCEEDED(hr)) {
      agent.Adopt(block, strnlen(block, capacity));
      return hr;
    }
    free(block);
    // On E_OUTOFMEMORY the call has stored the length it needs.
    if (hr == E_OUTOFMEMORY && length > capacity) capacity = length;
    else if (hr == E_OUTOFMEMORY) break;
  }
  return hr;
}

DWORD SplitHttpUrl(const wchar_t* url, DWORD length, HttpAddress& address) {
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof(parts);
  // Non-zero lengths without buffers ask for pointers into the URL.
  parts.dwHostNameLength = parts.dwUserNameLength = parts.dwPasswordLength = parts.dwUrlPathLength =
      parts.dwExtraInfoLength = 1;
  if (!InternetCrackUrlW(url, length, 0, &parts)) return GetLastError();
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return ERROR_INTERNET_INVALID_URL;
  if (!CopyPart(parts.lpszHostName, parts.dwHostNameLength, address.host, ARRAYSIZE(address.host)) ||
      (parts.dwUserNameLength &&
       !CopyPart(parts.lpszUserName, parts.dwUserNameLength, address.user, ARRAYSIZE(address.user))) ||
      (parts.dwPasswordLength &&
       !CopyPart(parts.lpszPassword, parts.dwPasswordLength, address.password, ARRAYSIZE(address.password))))
    return ERROR_INTERNET_INVALID_URL;
  address.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  address.port = parts.nPort;
  address.object = parts.lpszUrlPath ? parts.lpszUrlPath : parts.lpszExtraInfo ? parts.lpszExtraInfo : L"";
  address.pathLength = parts.lpszUrlPath ? parts.dwUrlPathLength : 0;
  return ERROR_SUCCESS;
}

}  // namespace downloader
