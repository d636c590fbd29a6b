#pragma once
// The window.external object. Placeholder: the script bridge (dispatch table, expandos, worker
// callbacks) arrives with the script bridge issue; until then it is a reference-counted IUnknown.
#include <windows.h>
#include <unknwn.h>

namespace stubframework::htmlui {

class HtmlExternal : public IUnknown {
 public:
  HtmlExternal() = default;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

 private:
  virtual ~HtmlExternal() = default;
  LONG references_ = 1;
};

}  // namespace stubframework::htmlui
