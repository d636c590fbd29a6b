#pragma once
// Requests to the installer web service over WinHTTP: synchronous, HTTPS, sent once, each
// given up after short time-outs of its own, so that a service that does not answer keeps nobody
// waiting long.
#include <windows.h>

#include <cstddef>
#include <string>

namespace stubframework::analytics {

// The service base of this build.
const wchar_t* ServiceHost();
unsigned short ServicePort();

// Each step of a request to the service (name resolution, connection, sending, the answer's
// arrival, each read) is given up after this long.
constexpr DWORD kServiceTimeoutMs = 5000;
// A request whose steps each keep within their time-out ends within this.
constexpr DWORD kServiceRequestBoundMs = 4 * kServiceTimeoutMs;
// The token exchange, which WinINet makes, ends after this long in all: Wine's WinINet applies no
// time-out to a TLS handshake.
constexpr DWORD kServiceDeadlineMs = 10000;

// Answers longer than this are failures.
constexpr size_t kMaxServiceAnswer = 1024 * 1024;

// A session with the client's user agent, the proxy the user's settings name (none when they
// name only automatic detection or a configuration script) and the service's time-outs. A
// WinHTTP handle; null on failure.
void* OpenServiceSession();

// Sends body with the header "Content-Type:application/xml"; the answer is not read. True when
// the request went out.
bool SendToService(const void* body, size_t length, const std::wstring& path, const wchar_t* verb);

// Posts body to "/v1/isInEmbargoedCountry" and returns the answer, one byte per character; empty
// on failure or when the answer exceeds kMaxServiceAnswer.
std::wstring QueryEmbargo(const void* body, size_t length);

}  // namespace stubframework::analytics
