#include "product/WebView2Runtime.h"

#include <shellapi.h>
#include <urlmon.h>

#include "core/ComRef.h"
#include "core/FrameworkCore.h"
#include "core/MessagePump.h"
#include "core/Signature.h"
#include "core/UniqueHandle.h"
#include "core/WorkingFolders.h"

namespace myexternalmethods {

const wchar_t kWebView2BootstrapperUrl[] = L"https://go.microsoft.com/fwlink/p/?LinkId=2124703";

namespace {

const wchar_t kClientKey[] = L"SOFTWARE\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";

// Keeps the download out of the URL cache, in both directions: an old or planted cache entry
// never stands in for the file, and the file leaves no copy behind.
class NoCacheBinding final : public IBindStatusCallback {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid != IID_IUnknown && iid != IID_IBindStatusCallback) return *object = nullptr, E_NOINTERFACE;
    *object = static_cast<IBindStatusCallback*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG, ULONG, ULONG, LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO*) override {
    *flags |= BINDF_GETNEWESTVERSION | BINDF_NOWRITECACHE | BINDF_PRAGMA_NO_CACHE | BINDF_RESYNCHRONIZE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

 private:
  ~NoCacheBinding() = default;
  volatile LONG references_ = 1;
};

void RunBootstrapper(stubframework::core::FrameworkCore* core, const std::wstring& url, DWORD timeLimitMs) {
  using stubframework::core::FrameworkLogError;
  std::wstring folder;
  if (!stubframework::utils::CreateUniqueTempFolder(folder)) {
    FrameworkLogError(core, L"WebView2 bootstrapper: no temporary folder");
    return;
  }
  std::wstring path = folder + L"MicrosoftEdgeWebview2Setup.exe";
  stubframework::utils::ComRef<NoCacheBinding> binding(new NoCacheBinding);
  HRESULT downloaded = URLDownloadToFileW(nullptr, url.c_str(), path.c_str(), 0, binding.Get());
  bool running = false;
  if (downloaded != S_OK) {
    FrameworkLogError(core, L"WebView2 bootstrapper download failed: 0x%08lx", static_cast<unsigned long>(downloaded));
  } else {
    // Held without write or delete sharing from the check until the program has ended, so what
    // runs is what was checked.
    stubframework::utils::FileHandle file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LONG trust = file.Valid() ? stubframework::core::VerifyFileSignature(path, file.Get()) : TRUST_E_NOSIGNATURE;
    if (trust != ERROR_SUCCESS) {
      FrameworkLogError(core, L"WebView2 bootstrapper refused: its signature does not verify (0x%08lx)",
                        static_cast<unsigned long>(trust));
    } else {
      SHELLEXECUTEINFOW execute = {};
      execute.cbSize = sizeof(execute);
      execute.fMask = SEE_MASK_NOCLOSEPROCESS;
      execute.lpVerb = L"runas";
      execute.lpFile = path.c_str();
      execute.lpParameters = L"/install";
      execute.nShow = SW_HIDE;
      if (ShellExecuteExW(&execute) && execute.hProcess) {
        // The thread keeps serving its windows and the script's callbacks meanwhile; a quit
        // message ends the wait too.
        stubframework::utils::KernelHandle process(execute.hProcess);
        running = !stubframework::core::PumpMessagesUntil(
            [&] { return WaitForSingleObject(process.Get(), 0) == WAIT_OBJECT_0; }, timeLimitMs, timeLimitMs,
            {process.Get()}, true);
        if (running) FrameworkLogError(core, L"WebView2 bootstrapper still running after %lu ms", timeLimitMs);
      } else {
        FrameworkLogError(core, L"WebView2 bootstrapper did not start: %lu", GetLastError());
      }
    }
  }
  // A bootstrapper still running holds its file: it goes at the next restart instead.
  if (!stubframework::utils::DeleteFolderTree(folder) || running) {
    MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  }
}

}  // namespace

std::wstring InstalledWebView2Version() {
  const std::pair<HKEY, REGSAM> places[] = {{HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY},
                                            {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY},
                                            {HKEY_CURRENT_USER, KEY_WOW64_32KEY},
                                            {HKEY_CURRENT_USER, KEY_WOW64_64KEY}};
  for (const auto& place : places) {
    stubframework::utils::RegistryKey key;
    if (RegOpenKeyExW(place.first, kClientKey, 0, KEY_QUERY_VALUE | place.second, key.Out()) != ERROR_SUCCESS)
      continue;
    wchar_t version[64] = {};
    DWORD size = sizeof(version);
    LONG read = RegGetValueW(key.Get(), nullptr, L"pv", RRF_RT_REG_SZ, nullptr, version, &size);
    // An uninstalled runtime leaves its registration behind with the version 0.0.0.0.
    if (read == ERROR_SUCCESS && version[0] && wcscmp(version, L"0.0.0.0") != 0) return version;
  }
  return L"";
}

bool EnsureWebView2Runtime(stubframework::core::FrameworkCore* core, const std::wstring& url, DWORD timeLimitMs) {
  if (!InstalledWebView2Version().empty()) return true;
  RunBootstrapper(core, url, timeLimitMs);
  return !InstalledWebView2Version().empty();
}

}  // namespace myexternalmethods
