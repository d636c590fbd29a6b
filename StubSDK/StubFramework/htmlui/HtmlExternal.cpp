#include "htmlui/HtmlExternal.h"

namespace stubframework::htmlui {

HRESULT STDMETHODCALLTYPE HtmlExternal::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (riid != IID_IUnknown) return E_NOINTERFACE;
  *object = static_cast<IUnknown*>(this);
  AddRef();
  return S_OK;
}

ULONG STDMETHODCALLTYPE HtmlExternal::AddRef() { return InterlockedIncrement(&references_); }

ULONG STDMETHODCALLTYPE HtmlExternal::Release() {
  LONG count = InterlockedDecrement(&references_);
  if (count == 0) delete this;
  return count;
}

}  // namespace stubframework::htmlui
