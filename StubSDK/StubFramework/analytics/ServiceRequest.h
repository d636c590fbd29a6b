#pragma once
// Requests to the installer web service over WinHTTP: synchronous, HTTPS, sent once.
#include <cstddef>
#include <string>

namespace stubframework::analytics {

// The service base of this build.
const wchar_t* ServiceHost();
unsigned short ServicePort();

// Answers longer than this are failures.
constexpr size_t kMaxServiceAnswer = 1024 * 1024;

// A session with the client's user agent and the proxy the user's settings name (none when they
// name only automatic detection or a configuration script). A WinHTTP handle; null on failure.
void* OpenServiceSession();

// Sends body with the header "Content-Type:application/xml"; the answer is not read. True when
// the request went out.
bool SendToService(const void* body, size_t length, const std::wstring& path, const wchar_t* verb);

// Posts body to "/v1/isInEmbargoedCountry" and returns the answer, one byte per character; empty
// on failure or when the answer exceeds kMaxServiceAnswer.
std::wstring QueryEmbargo(const void* body, size_t length);

}  // namespace stubframework::analytics
