#pragma once
// The WebView2 runtime the product needs: found through its client registration, installed
// through Microsoft's Evergreen Bootstrapper when missing.
#include <windows.h>

#include <string>

namespace stubframework::core {
struct FrameworkCore;
}

namespace myexternalmethods {

// Microsoft's permanent link to the Evergreen Bootstrapper.
extern const wchar_t kWebView2BootstrapperUrl[];
// How long the bootstrapper may run (it downloads the runtime itself) before the page goes on.
constexpr DWORD kWebView2InstallTimeLimitMs = 10 * 60 * 1000;

// The version the runtime's client registration records ("pv"), machine-wide in both registry
// views, then the user's; empty when none records one.
std::wstring InstalledWebView2Version();

// True when the runtime is present, after running the bootstrapper from url when it was not: the
// file is downloaded past the cache into a fresh folder, run elevated only when its Authenticode
// signature verifies, waited for (pumping messages) up to timeLimitMs, then deleted.
bool EnsureWebView2Runtime(stubframework::core::FrameworkCore* core, const std::wstring& url,
                           DWORD timeLimitMs = kWebView2InstallTimeLimitMs);

}  // namespace myexternalmethods
