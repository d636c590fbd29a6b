#include "analytics/ServiceRequest.h"

#include <windows.h>
#include <winhttp.h>

#include "ProductDefinition.h"
#include "core/UniqueHandle.h"

namespace stubframework::analytics {
namespace {

constexpr wchar_t kUserAgent[] = L"Mirelle Message Client/1.0";
constexpr wchar_t kXmlHeader[] = L"Content-Type:application/xml";

// WinHTTP's own handles: wininet.h, whose handles the core owners close, cannot share this unit.
struct WinHttpHandleTraits {
  using Type = HINTERNET;
  static HINTERNET Empty() { return nullptr; }
  static void Close(HINTERNET handle) { WinHttpCloseHandle(handle); }
};
using WinHttpHandle = utils::UniqueHandle<WinHttpHandleTraits>;

// One request on its own session and connection; the handles close in reverse order of opening:
// request, connection, session.
struct ServiceExchange {
  WinHttpHandle session{OpenServiceSession()};
  WinHttpHandle connection;
  WinHttpHandle request;

  ServiceExchange(const std::wstring& path, const wchar_t* verb)
      : connection(session.Get() ? WinHttpConnect(session.Get(), ServiceHost(), ServicePort(), 0) : nullptr),
        request(connection.Get() ? WinHttpOpenRequest(connection.Get(), verb, path.c_str(), nullptr,
                                                      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                      WINHTTP_FLAG_SECURE | WINHTTP_FLAG_REFRESH)
                                 : nullptr) {
    // Wine's WinHTTP waits for the answer inside the send, with this time-out only.
    DWORD timeout = kServiceTimeoutMs;
    if (request.Get())
      WinHttpSetOption(request.Get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &timeout, sizeof(timeout));
  }

  bool Send(const void* body, size_t length) {
    if (!request.Get() || length > MAXDWORD) return false;
    DWORD size = static_cast<DWORD>(length);
    return WinHttpSendRequest(request.Get(), size ? kXmlHeader : WINHTTP_NO_ADDITIONAL_HEADERS,
                              size ? static_cast<DWORD>(wcslen(kXmlHeader)) : 0,
                              size ? const_cast<void*>(body) : WINHTTP_NO_REQUEST_DATA, size, size, 0) != FALSE;
  }
};

}  // namespace

const wchar_t* ServiceHost() { return definition::kServiceHost; }
unsigned short ServicePort() { return definition::kServicePort; }

void* OpenServiceSession() {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config = {};
  bool named = WinHttpGetIEProxyConfigForCurrentUser(&config) && config.lpszProxy && *config.lpszProxy;
  HINTERNET session =
      named ? WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, config.lpszProxy,
                          config.lpszProxyBypass ? config.lpszProxyBypass : WINHTTP_NO_PROXY_BYPASS, 0)
            : WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  for (LPWSTR text : {config.lpszAutoConfigUrl, config.lpszProxy, config.lpszProxyBypass})
    if (text) GlobalFree(text);
  const int timeout = static_cast<int>(kServiceTimeoutMs);
  if (session) WinHttpSetTimeouts(session, timeout, timeout, timeout, timeout);
  return session;
}

bool SendToService(const void* body, size_t length, const std::wstring& path, const wchar_t* verb) {
  ServiceExchange exchange(path, verb);
  return exchange.Send(body, length);
}

std::wstring QueryEmbargo(const void* body, size_t length) {
  ServiceExchange exchange(L"/v1/isInEmbargoedCountry", L"POST");
  if (!exchange.Send(body, length) || !WinHttpReceiveResponse(exchange.request.Get(), nullptr))
    return std::wstring();
  std::wstring answer;
  char piece[256];
  DWORD read = 0;
  while (WinHttpReadData(exchange.request.Get(), piece, sizeof(piece), &read) && read > 0) {
    if (answer.size() + read > kMaxServiceAnswer) return std::wstring();
    // One character per byte: the fields read from the answer are ASCII.
    for (DWORD i = 0; i < read; ++i) answer += static_cast<wchar_t>(static_cast<unsigned char>(piece[i]));
  }
  return answer;
}

}  // namespace stubframework::analytics
