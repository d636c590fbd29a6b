#include "downloader/Redirect.h"

#include <windows.h>
#include <wininet.h>

#include <cwchar>

#include "downloader/ResultCodes.h"

namespace downloader {
namespace {

INTERNET_SCHEME SchemeOf(const wchar_t* url) {
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.dwSchemeLength = 1;
  if (!InternetCrackUrlW(url, 0, 0, &parts)) return INTERNET_SCHEME_UNKNOWN;
  return parts.nScheme;
}

}  // namespace

bool IsRedirectStatus(int statusCode) {
  return statusCode == 301 || statusCode == 302 || statusCode == 303 || statusCode == 307 ||
         statusCode == 308;
}

long ResolveRedirect(const wchar_t* from, const Text& location, WideText& to) {
  // A header is bytes; only printable ASCII can be a URL without guessing at an encoding.
  wchar_t* wide = static_cast<wchar_t*>(malloc((location.Length() + 1) * sizeof(wchar_t)));
  if (!wide) return kResultOutOfMemory;
  for (size_t i = 0; i < location.Length(); ++i) {
    unsigned char c = static_cast<unsigned char>(location.Get()[i]);
    if (c <= 0x20 || c >= 0x7F) {
      free(wide);
      return kResultInvalidUrl;
    }
    wide[i] = c;
  }
  WideText relative;
  relative.Adopt(wide, location.Length());

  DWORD length = INTERNET_MAX_URL_LENGTH;
  for (int attempt = 0; attempt < 2; ++attempt) {
    wchar_t* block = static_cast<wchar_t*>(malloc((length + 1) * sizeof(wchar_t)));
    if (!block) return kResultOutOfMemory;
    DWORD capacity = length;
    if (InternetCombineUrlW(from, relative.Get(), block, &length, ICU_NO_ENCODE)) {
      if (length > capacity) length = capacity;
      to.Adopt(block, length);
      break;
    }
    free(block);
    // On too small a buffer the call has stored the length it needs.
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || length <= capacity || attempt == 1)
      return kResultInvalidUrl;
  }
  INTERNET_SCHEME scheme = SchemeOf(to.Get());
  if (scheme != INTERNET_SCHEME_HTTP && scheme != INTERNET_SCHEME_HTTPS) return kResultInvalidUrl;
  if (SchemeOf(from) == INTERNET_SCHEME_HTTPS && scheme == INTERNET_SCHEME_HTTP)
    return ResultFromError(ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR);
  return kResultOk;
}

}  // namespace downloader
