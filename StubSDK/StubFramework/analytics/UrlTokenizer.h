#pragma once
// The token exchange of download URLs: the URL is posted to the service's "/v1/token" over
// WinINet and the answer's "tokenizedUrl" replaces it.
#include <windows.h>
#include <wininet.h>

#include <string>

#include "core/UniqueHandle.h"
#include "downloader/BoundedWait.h"

namespace stubframework::analytics {

// "https://<service host>[:port]/v1/token".
std::wstring TokenEndpoint();

// The session, connection and request of one POST; closed in reverse order, request first.
struct PostRequest {
  utils::InternetHandle session;
  utils::InternetHandle connection;
  utils::InternetHandle request;
};

// Opens a POST to an http or https URL with a host and a path, with the system browser's user
// agent, the preconfigured proxy and the service's time-outs.
bool OpenPostRequest(const std::wstring& url, PostRequest& post);

// Posts body to url and reads the whole answer; false on any failure, when the answer exceeds
// 1 MiB, when the exchange has not ended after kServiceDeadlineMs and once stopped turns true
// (the answer is then empty).
bool PostAndRead(const std::wstring& url, const std::string& body, std::string& answer, bool withFormHeader,
                 const downloader::StopSignal& stopped = nullptr);

// The text between the quotes of the answer's "tokenizedUrl" value, taken literally (escapes are
// kept as they are); empty when the member is missing or its value is not a quoted text.
std::wstring ExtractTokenizedUrl(const std::wstring& text);

// Replaces url by its tokenized form; false, with url unchanged, when the exchange fails, yields
// nothing, or is given up (as PostAndRead gives it up).
bool TokenizeUrl(std::wstring& url, const downloader::StopSignal& stopped = nullptr);

}  // namespace stubframework::analytics
