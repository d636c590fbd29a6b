#include "downloader/UrlDownload.h"

#include <shlwapi.h>

#include <new>
#include <utility>

#include "downloader/HttpTask.h"
#include "downloader/ResultCodes.h"
#include "downloader/Task.h"

namespace downloader {

using stubframework::utils::ComRef;

namespace {

constexpr DWORD kPieceSize = 8192;
// After a quit message, or once the binding stopped, this long is given to the transfer to let
// go of the holder; the holder owns the file, so nothing writes to a closed handle afterwards.
constexpr DWORD kReleaseWaitMs = 5000;

HRESULT ResultFromLastError() { return HRESULT_FROM_WIN32(GetLastError()); }

// What the URL moniker reports for the failures the engine's HTTP task sees.
HRESULT MonikerError(long result) {
  switch (static_cast<unsigned long>(result)) {
    case 0x80072EE2:  // timeout
      return INET_E_CONNECTION_TIMEOUT;
    case 0x80072EE7:  // name not resolved
    case 0x80072EFD:  // cannot connect
      return INET_E_RESOURCE_NOT_FOUND;
    default:
      return INET_E_DOWNLOAD_FAILURE;
  }
}

// Drives a BSCHolder the way the URL moniker does, from the engine's HTTP task: begin with the
// announced length, each piece as stream data followed by its progress, end, stop.
class HttpPullCallback : public IHttpCallback {
 public:
  // False when memory runs out.
  bool SetUrl(const wchar_t* url) { return url_.Assign(url); }
  void SetTask(ITask* task) { task_ = task; }

  void OnHttpHeader(HttpHeader&& header) override {
    if (header.statusCode != 200) {
      Stop(IsMissingResource(header.statusCode) ? INET_E_OBJECT_NOT_FOUND : INET_E_DOWNLOAD_FAILURE);
      return;
    }
    total_ = header.total > 0 && header.total <= 0xFFFFFFFFLL ? static_cast<ULONG>(header.total) : 0;
    if (FAILED(holder_->OnProgress(0, total_, BINDSTATUS_BEGINDOWNLOADDATA, url_.Get()))) Stop(E_ABORT);
  }

  void OnData(const Buffer& data) override {
    if (stop_ != S_OK || data.size == 0) return;
    ComRef<IStream> stream(SHCreateMemStream(data.data, static_cast<UINT>(data.size)));
    if (!stream) {
      Stop(E_OUTOFMEMORY);
      return;
    }
    current_ += static_cast<ULONG>(data.size);
    STGMEDIUM medium{};
    medium.tymed = TYMED_ISTREAM;
    medium.pstm = stream.Get();
    HRESULT hr = holder_->OnDataAvailable(BSCF_INTERMEDIATEDATANOTIFICATION, current_, nullptr, &medium);
    stream.Reset();
    if (FAILED(hr) || FAILED(holder_->OnProgress(current_, total_, BINDSTATUS_DOWNLOADINGDATA, url_.Get()))) Stop(E_ABORT);
  }

  void OnComplete(long result) override {
    if (stop_ == S_OK && result != kResultOk) stop_ = MonikerError(result);
    if (stop_ == S_OK && FAILED(holder_->OnProgress(current_, total_, BINDSTATUS_ENDDOWNLOADDATA, url_.Get()))) stop_ = E_ABORT;
    holder_->OnStopBinding(stop_, nullptr);
    // As the moniker does once the binding stopped: the holder is let go, which ends the wait.
    holder_.Reset();
  }

  // The pumping thread's abort: after a quit message, a stop or a time without progress.
  void Abort(HRESULT reason) { Stop(reason); }

 protected:
  HttpPullCallback(BSCHolder* holder) : holder_(ComRef<BSCHolder>::Share(holder)) {}
  virtual ~HttpPullCallback() = default;

 private:
  template <class T>
  friend class details::Object;

  void Stop(HRESULT reason) {
    if (stop_ == S_OK) stop_ = reason;
    task_->Cancel();
  }

  ComRef<BSCHolder> holder_;
  WideText url_;
  ITask* task_ = nullptr;
  volatile HRESULT stop_ = S_OK;
  ULONG current_ = 0;
  ULONG total_ = 0;
};

// Pumps the thread's messages until the binding stopped and its holder is released by the
// transfer. A quit message aborts the transfer and is posted again at the end; so do the limits,
// whose reason then is the result.
HRESULT PumpUntilStopped(BSCHolder* holder, HttpPullCallback* pull, ILogger* logger, const WaitLimits& limits) {
  bool quit = false;
  WPARAM quitCode = 0;
  HRESULT givenUp = S_OK;
  DWORD waitStart = 0;
  bool waiting = false;
  auto abort = [&](HRESULT reason) {
    if (pull) pull->Abort(reason);
    else holder->Abort();
  };
  for (;;) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        if (!quit) {
          quit = true;
          quitCode = message.wParam;
          abort(E_ABORT);
        }
        continue;
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    bool stopped = holder->BindResult() != E_PENDING;
    if (!stopped && !quit && givenUp == S_OK) {
      WaitEnd reason = GiveUpReason(holder->Activity(), limits);
      if (reason != WaitEnd::kDone) {
        givenUp = reason == WaitEnd::kStopped ? E_ABORT : INET_E_CONNECTION_TIMEOUT;
        if (reason == WaitEnd::kIdle)
          logger->Log(L"DownloadUrlToFile", L"Nothing arrived for %u ms: the transfer is given up.", limits.idleMs);
        abort(givenUp);
      }
    }
    if (stopped && holder->ReferenceCount() == 1) break;
    if ((stopped || quit || givenUp != S_OK) && !waiting) {
      waiting = true;
      waitStart = GetTickCount();
    }
    if (waiting && GetTickCount() - waitStart >= kReleaseWaitMs) {
      logger->Log(L"DownloadUrlToFile", stopped ? L"The transfer did not release its callback within %u ms."
                                                : L"The transfer did not stop within %u ms of its abort.",
                  kReleaseWaitMs);
      break;
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  if (quit) PostQuitMessage(static_cast<int>(quitCode));
  HRESULT result = holder->BindResult();
  if (givenUp != S_OK && result != S_OK) return givenUp;
  return result == E_PENDING ? E_ABORT : result;
}

}  // namespace

BSCHolder::BSCHolder(HANDLE file, IBindStatusCallback* inner)
    : file_(file), inner_(ComRef<IBindStatusCallback>::Share(inner)) {
  InitializeCriticalSection(&lock_);
}

// The binding, the forwarded-to callback and the file are released with the members.
BSCHolder::~BSCHolder() { DeleteCriticalSection(&lock_); }

HRESULT BSCHolder::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IBindStatusCallback) {
    *object = static_cast<IBindStatusCallback*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG BSCHolder::AddRef() { return InterlockedIncrement(&referenceCount_); }

ULONG BSCHolder::Release() {
  LONG count = InterlockedDecrement(&referenceCount_);
  if (count == 0) delete this;
  return count;
}

HRESULT BSCHolder::OnStartBinding(DWORD reserved, IBinding* binding) {
  EnterCriticalSection(&lock_);
  if (binding && !binding_) binding_ = ComRef<IBinding>::Share(binding);
  LeaveCriticalSection(&lock_);
  return Forward(E_NOTIMPL, [&](IBindStatusCallback* inner) { return inner->OnStartBinding(reserved, binding); });
}

HRESULT BSCHolder::GetPriority(LONG* priority) {
  return Forward(E_NOTIMPL, [&](IBindStatusCallback* inner) { return inner->GetPriority(priority); });
}

HRESULT BSCHolder::OnLowResource(DWORD reserved) {
  return Forward(E_NOTIMPL, [&](IBindStatusCallback* inner) { return inner->OnLowResource(reserved); });
}

HRESULT BSCHolder::GetBindInfo(DWORD* flags, BINDINFO* info) {
  return Forward(E_NOTIMPL, [&](IBindStatusCallback* inner) { return inner->GetBindInfo(flags, info); });
}

HRESULT BSCHolder::OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode, LPCWSTR statusText) {
  activity_.Touch();
  if (statusCode == BINDSTATUS_BEGINDOWNLOADDATA && progressMax != 0) {
    // The announced length is reserved at once; the pointer goes back to the start for the data.
    LARGE_INTEGER position;
    position.QuadPart = progressMax;
    if (SetFilePointerEx(file_.Get(), position, nullptr, FILE_BEGIN)) SetEndOfFile(file_.Get());
    position.QuadPart = 0;
    SetFilePointerEx(file_.Get(), position, nullptr, FILE_BEGIN);
  }
  return Forward(S_OK, [&](IBindStatusCallback* inner) {
    return inner->OnProgress(progress, progressMax, statusCode, statusText);
  });
}

HRESULT BSCHolder::OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format, STGMEDIUM* medium) {
  activity_.Touch();
  if (!medium || medium->tymed != TYMED_ISTREAM || !medium->pstm) return S_OK;
  BYTE piece[kPieceSize];
  for (;;) {
    ULONG read = 0;
    HRESULT hr = medium->pstm->Read(piece, sizeof(piece), &read);
    if (FAILED(hr) && hr != E_PENDING) return hr;
    if (read) {
      DWORD written = 0;
      if (!WriteFile(file_.Get(), piece, read, &written, nullptr) || written != read) {
        writeFailed_ = true;
        bindResult_ = written != read && GetLastError() == ERROR_SUCCESS ? HRESULT_FROM_WIN32(ERROR_DISK_FULL)
                                                                           : ResultFromLastError();
        return E_ABORT;
      }
    }
    // A stream that answers S_OK with nothing read has nothing more now either.
    if (hr != S_OK || read == 0) return S_OK;
  }
}

void BSCHolder::CutFileHere() { SetEndOfFile(file_.Get()); }

HRESULT BSCHolder::OnStopBinding(HRESULT hr, LPCWSTR error) {
  if (FAILED(hr)) {
    CutFileHere();
  } else if (hr == S_OK) {
    LARGE_INTEGER position{}, size{};
    LARGE_INTEGER zero{};
    if (SetFilePointerEx(file_.Get(), zero, &position, FILE_CURRENT) && GetFileSizeEx(file_.Get(), &size) &&
        position.QuadPart != size.QuadPart) {
      hr = S_FALSE;  // fewer bytes than announced
      CutFileHere();
    }
  }
  {
    // Released outside the lock, before the forwarded-to callback hears of the stop.
    ComRef<IBinding> binding;
    EnterCriticalSection(&lock_);
    binding = std::move(binding_);
    LeaveCriticalSection(&lock_);
  }
  HRESULT forwarded = Forward(S_OK, [&](IBindStatusCallback* inner) { return inner->OnStopBinding(hr, error); });
  if (!writeFailed_) bindResult_ = hr;
  return forwarded;
}

HRESULT BSCHolder::OnObjectAvailable(REFIID, IUnknown*) { return S_OK; }

void BSCHolder::DetachInner() {
  // Released outside the lock.
  ComRef<IBindStatusCallback> inner;
  EnterCriticalSection(&lock_);
  inner = std::move(inner_);
  LeaveCriticalSection(&lock_);
}

void BSCHolder::Abort() {
  EnterCriticalSection(&lock_);
  auto binding = ComRef<IBinding>::Share(binding_.Get());
  LeaveCriticalSection(&lock_);
  if (binding) binding->Abort();
}

HRESULT DownloadUrlToFile(const wchar_t* url, const wchar_t* path, IBindStatusCallback* callback, ILogger* logger,
                          const WaitLimits& limits) {
  stubframework::utils::FileHandle file(
      CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return ResultFromLastError();
  ComRef<BSCHolder> holder(new (std::nothrow) BSCHolder(file.Get(), callback));
  if (!holder) return E_OUTOFMEMORY;
  // The holder closes the file from now on.
  file.Release();
  ComRef<HttpPullCallback> pull;
  ComRef<ITask> task;
  HRESULT hr = URLOpenPullStreamW(nullptr, url, 0, holder.Get());
  if (hr == E_NOTIMPL) {
    pull.Reset(details::Object<HttpPullCallback>::Create(holder.Get()));
    if (pull && pull->SetUrl(url)) task.Reset(CreateHttpTask(url, HttpRange(), pull.Get(), logger));
    if (task) {
      pull->SetTask(task.Get());
      holder->OnStartBinding(0, nullptr);
      task->Start();
      hr = S_OK;
    } else {
      hr = E_OUTOFMEMORY;
    }
  }
  if (SUCCEEDED(hr)) hr = PumpUntilStopped(holder.Get(), pull.Get(), logger, limits);
  task.Reset();
  pull.Reset();
  // A transfer that outlived the wait must not reach the caller's callback any more.
  holder->DetachInner();
  return hr;
}

}  // namespace downloader
