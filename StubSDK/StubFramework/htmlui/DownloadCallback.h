#pragma once
// The bind-status callback of plain downloads: turns the transfer's notifications into the
// "downloadTotal" and "downloadCurrent" properties and honours the external object's
// sizeQueryOnly flag. A size probe of its own (sizeOnly) ends its transfer once the length is
// known without touching the shared flag, so downloads of other threads go on. A stop is the
// transfer's wait's to notice (downloader::WaitLimits): it comes also while nothing arrives. It
// lives on its user's stack and counts no references.
#include <windows.h>
#include <urlmon.h>

namespace stubframework::core {

class HtmlExternal;

class DownloadCallback : public IBindStatusCallback {
 public:
  explicit DownloadCallback(HtmlExternal* external, bool sizeOnly = false) : external_(external), sizeOnly_(sizeOnly) {}
  virtual ~DownloadCallback() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                       LPCWSTR statusText) override;
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD*, BINDINFO*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

  // True once data arrived (the plain download's retry loop counts attempts that moved).
  bool ProgressSeen() const { return progressSeen_; }

 private:
  volatile bool progressSeen_ = false;
  HtmlExternal* external_;
  bool sizeOnly_;
};

}  // namespace stubframework::core
