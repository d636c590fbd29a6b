#pragma once
// Result codes of the download engine, in HRESULT form.
#include <windows.h>

namespace downloader {

constexpr long kResultOk = 0;
constexpr long kResultOutOfMemory = static_cast<long>(0x8007000E);
constexpr long kResultFail = static_cast<long>(0x80004005);
constexpr long kResultAbort = static_cast<long>(0x80004004);
constexpr long kResultInvalidArgument = static_cast<long>(0x80070057);
// WinINet errors 12017 (operation cancelled), 12027 (incorrect format), 12005 (invalid URL),
// 12004 (internal error), 12030 (connection aborted) and 12156 (redirect failed) in HRESULT form.
constexpr long kResultCancelled = static_cast<long>(0x80072EF1);
constexpr long kResultBadResponse = static_cast<long>(0x80072EFB);
constexpr long kResultInvalidUrl = static_cast<long>(0x80072EE5);
constexpr long kResultShortRead = static_cast<long>(0x80072EE4);
constexpr long kResultConnectionAborted = static_cast<long>(0x80072EFE);
constexpr long kResultRedirectFailed = static_cast<long>(0x80072F7C);

// INET_E_OBJECT_NOT_FOUND: the server has no such resource (404 or 410). Final: trying again
// would find nothing either.
constexpr long kResultNotFound = static_cast<long>(0x800C0006);
constexpr bool IsMissingResource(int statusCode) { return statusCode == 404 || statusCode == 410; }

// What HRESULT_FROM_WIN32 makes of a Win32 or WinINet error.
constexpr long ResultFromError(DWORD error) {
  return static_cast<long>(error) <= 0 ? static_cast<long>(error)
                                       : static_cast<long>((error & 0xFFFF) | 0x80070000);
}

}  // namespace downloader
