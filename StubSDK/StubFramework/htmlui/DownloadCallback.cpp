#include "htmlui/DownloadCallback.h"

#include "htmlui/HtmlExternal.h"

namespace stubframework::core {

HRESULT DownloadCallback::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IBindStatusCallback) {
    *object = static_cast<IBindStatusCallback*>(this);
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT DownloadCallback::OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode, LPCWSTR) {
  if (statusCode == BINDSTATUS_BEGINDOWNLOADDATA) {
    external_->SetDownloadTotal(progressMax);
    if (sizeOnly_ || external_->sizeQueryOnly) return E_ABORT;
  } else if (statusCode == BINDSTATUS_DOWNLOADINGDATA || statusCode == BINDSTATUS_ENDDOWNLOADDATA) {
    progressSeen_ = true;
    external_->SetDownloadCurrent(progress);
  }
  return S_OK;
}

}  // namespace stubframework::core
