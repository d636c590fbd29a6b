#include "analytics/UrlTokenizer.h"

#include <cwchar>
#include <memory>

#include "analytics/ServiceRequest.h"
#include "downloader/HttpAddress.h"
#include "core/TextFormat.h"

namespace stubframework::analytics {
namespace {

constexpr DWORD kReadPiece = 65536;

struct TokenRequest {
  std::wstring endpoint;
  std::wstring source;
  std::wstring tokenizedUrl;
};

// Strict UTF-8 decoding: an answer that is not UTF-8 yields nothing.
bool DecodeUtf8(const std::string& bytes, std::wstring& text) {
  text.clear();
  if (bytes.empty()) return true;
  int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                                   nullptr, 0);
  if (length <= 0) return false;
  text.resize(length);
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), &text[0],
                             length) == length;
}

// The exchange itself, blocking for as long as WinINet waits.
bool Exchange(const std::wstring& url, const std::string& body, std::string& answer, bool withFormHeader) {
  PostRequest post;
  if (!OpenPostRequest(url, post)) return false;
  const wchar_t* header = withFormHeader ? L"Content-type: application/x-www-form-urlencoded" : nullptr;
  if (!HttpSendRequestW(post.request.Get(), header, header ? static_cast<DWORD>(wcslen(header)) : 0,
                        const_cast<char*>(body.data()), static_cast<DWORD>(body.size())))
    return false;
  for (;;) {
    size_t used = answer.size();
    answer.resize(used + kReadPiece);
    DWORD read = 0;
    if (!InternetReadFile(post.request.Get(), &answer[used], kReadPiece, &read) || used + read > kMaxServiceAnswer)
      return false;
    answer.resize(used + read);
    if (read == 0) return true;
  }
}

}  // namespace

std::wstring TokenEndpoint() {
  std::wstring endpoint = std::wstring(L"https://") + ServiceHost();
  if (ServicePort() != INTERNET_DEFAULT_HTTPS_PORT) endpoint += L":" + std::to_wstring(ServicePort());
  return endpoint + L"/v1/token";
}

bool OpenPostRequest(const std::wstring& url, PostRequest& post) {
  downloader::HttpAddress address;
  if (downloader::SplitHttpUrl(url.c_str(), static_cast<DWORD>(url.size()), address) != ERROR_SUCCESS) return false;
  if (!*address.host || address.pathLength == 0) return false;
  std::wstring object(address.object, url.c_str() + url.size() - address.object);
  DWORD flags = address.secure ? INTERNET_FLAG_SECURE : 0;

  // Without the browser's agent the session names none.
  downloader::Text agent;
  downloader::BrowserUserAgent(agent);
  post.session.Reset(InternetOpenA(agent.IsEmpty() ? nullptr : agent.Get(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                   nullptr, 0));
  if (!post.session.Valid()) return false;
  post.connection.Reset(InternetConnectW(post.session.Get(), address.host, address.port,
                                         *address.user ? address.user : nullptr,
                                         *address.password ? address.password : nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (!post.connection.Valid()) return false;
  // On the connection: Wine's WinINet takes no time-out from the session.
  DWORD timeout = kServiceTimeoutMs;
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
    InternetSetOptionW(post.connection.Get(), option, &timeout, sizeof(timeout));
  post.request.Reset(
      HttpOpenRequestW(post.connection.Get(), L"POST", object.c_str(), nullptr, nullptr, nullptr, flags, 0));
  return post.request.Valid();
}

bool PostAndRead(const std::wstring& url, const std::string& body, std::string& answer, bool withFormHeader,
                 const downloader::StopSignal& stopped) {
  answer.clear();
  // On a thread of its own, with what it uses: an exchange that is given up goes on alone.
  struct Result {
    std::string answer;
    volatile bool ok = false;
  };
  auto result = std::make_shared<Result>();
  bool ended = downloader::RunBounded(
      [url, body, withFormHeader, result] { result->ok = Exchange(url, body, result->answer, withFormHeader); },
      kServiceDeadlineMs, stopped);
  if (!ended || !result->ok) return false;
  answer = std::move(result->answer);
  return true;
}

std::wstring ExtractTokenizedUrl(const std::wstring& text) {
  static const wchar_t kKey[] = L"\"tokenizedUrl\":";
  size_t at = text.find(kKey);
  if (at == std::wstring::npos) return std::wstring();
  // Only blanks may stand between the colon and the opening quote: any other value (null, a
  // number, an object) is no URL, and the next quoted text of the answer belongs to something else.
  size_t open = text.find_first_not_of(L" \t\r\n", at + wcslen(kKey));
  if (open == std::wstring::npos || text[open] != L'"') return std::wstring();
  size_t close = text.find(L'"', open + 1);
  if (close == std::wstring::npos) return std::wstring();
  return text.substr(open + 1, close - open - 1);
}

bool TokenizeUrl(std::wstring& url, const downloader::StopSignal& stopped) {
  TokenRequest token{TokenEndpoint(), url, std::wstring()};
  if (token.source.empty()) return false;
  std::string body = utils::WideToUtf8(token.source);
  std::string answer;
  std::wstring text;
  if (!PostAndRead(token.endpoint, body, answer, false, stopped) || !DecodeUtf8(answer, text)) return false;
  token.tokenizedUrl = ExtractTokenizedUrl(text);
  if (token.tokenizedUrl.empty()) return false;
  url = token.tokenizedUrl;
  return true;
}

}  // namespace stubframework::analytics
