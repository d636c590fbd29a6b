#pragma once
// Plain downloads through the platform's URL monikers: the URL is pulled as a stream and written
// into a file by BSCHolder, which forwards every notification to a second bind-status callback.
// Where the platform does not implement pulled streams (Wine answers E_NOTIMPL), the engine's
// own HTTP task stands in and delivers the same notifications, in the same order, with the same
// results.
#include <windows.h>
#include <urlmon.h>

#include "core/ComRef.h"
#include "core/UniqueHandle.h"
#include "downloader/BoundedWait.h"
#include "downloader/Object.h"
#include "downloader/Text.h"

namespace downloader {

class BSCHolder final : public IBindStatusCallback {
 public:
  // Takes ownership of the file; inner may be null.
  BSCHolder(HANDLE file, IBindStatusCallback* inner);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding* binding) override;
  HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) override;
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD reserved) override;
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                       LPCWSTR statusText) override;
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT hr, LPCWSTR error) override;
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO* info) override;
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format,
                                            STGMEDIUM* medium) override;
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID riid, IUnknown* object) override;

  // E_PENDING until the binding stopped.
  HRESULT BindResult() const { return bindResult_; }
  // Touched by every notification of the transfer.
  const ActivityClock& Activity() const { return activity_; }
  LONG ReferenceCount() const { return referenceCount_; }
  // Asks the binding to stop; its OnStopBinding follows.
  void Abort();
  // Lets go of the forwarded-to callback: later notifications reach only the file.
  void DetachInner();

 private:
  ~BSCHolder();
  void CutFileHere();
  // Calls the forwarded-to callback under the lock, so that DetachInner cannot let it go meanwhile;
  // none answers without one.
  template <class Call>
  HRESULT Forward(HRESULT none, Call call) {
    EnterCriticalSection(&lock_);
    HRESULT hr = inner_ ? call(inner_.Get()) : none;
    LeaveCriticalSection(&lock_);
    return hr;
  }

  volatile LONG referenceCount_ = 1;
  volatile HRESULT bindResult_ = E_PENDING;
  bool writeFailed_ = false;
  stubframework::utils::FileHandle file_;
  stubframework::utils::ComRef<IBindStatusCallback> inner_;
  CRITICAL_SECTION lock_;  // guards binding_, which Abort may use from the pumping thread, and inner_
  stubframework::utils::ComRef<IBinding> binding_;
  ActivityClock activity_;
};

// Downloads url into path (created anew), pumping the calling thread's messages until the
// transfer ends. S_OK when every announced byte arrived, S_FALSE when fewer did, the converted
// error of a failed write, otherwise the moniker's error. The transfer is given up as limits say:
// E_ABORT when stopped, INET_E_CONNECTION_TIMEOUT after limits.idleMs without any notification.
// A quit message aborts the transfer; the message is posted again before returning. logger must
// not be null.
HRESULT DownloadUrlToFile(const wchar_t* url, const wchar_t* path, IBindStatusCallback* callback, ILogger* logger,
                          const WaitLimits& limits);

}  // namespace downloader
