#pragma once
// Where a redirect leads. The HTTP task follows redirects itself, so that their number is
// bounded, and this is the check that WinINet would otherwise make on the Location header.
#include "downloader/Text.h"

namespace downloader {

// Redirect answers of a GET that lead to another URL, whatever the method they ask for.
bool IsRedirectStatus(int statusCode);

// The absolute URL that location (a Location header, absolute or relative to from) names.
// kResultInvalidUrl for a location with control or non-ASCII characters or a scheme other than
// http or https; the converted ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR for a secure URL that
// would lead to a plain one; kResultOutOfMemory when memory runs out.
long ResolveRedirect(const wchar_t* from, const Text& location, WideText& to);

}  // namespace downloader
