#pragma once
// What a WinINet request over http or https is opened with, for the download tasks and the token
// exchange alike: the system browser's user agent and the parts of the URL.
#include <windows.h>
#include <wininet.h>

#include "downloader/Text.h"

namespace downloader {

// The system browser's user agent; otherwise the failure of the last attempt to read it, or
// E_OUTOFMEMORY.
HRESULT BrowserUserAgent(Text& agent);

// The parts of an http or https URL. WinINet leaves them unterminated inside the URL, so the
// names are copied out; the path is not.
struct HttpAddress {
  bool secure = false;
  INTERNET_PORT port = 0;
  wchar_t host[INTERNET_MAX_HOST_NAME_LENGTH + 1] = {};
  wchar_t user[INTERNET_MAX_USER_NAME_LENGTH + 1] = {};
  wchar_t password[INTERNET_MAX_PASSWORD_LENGTH + 1] = {};
  // The object name runs from here to the end of the URL, query included.
  const wchar_t* object = L"";
  // The path alone, without the query.
  DWORD pathLength = 0;
};

// Splits url (length characters, or up to its terminator when length is 0); ERROR_SUCCESS, the
// error of InternetCrackUrlW, or ERROR_INTERNET_INVALID_URL for another scheme, no host or a
// name longer than WinINet takes.
DWORD SplitHttpUrl(const wchar_t* url, DWORD length, HttpAddress& address);

}  // namespace downloader
