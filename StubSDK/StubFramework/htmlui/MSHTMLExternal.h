#pragma once
// Generic IDispatchEx object for window.external: reference count, script-created properties
// (expandos) and the main window handle. Derived classes supply the named methods.
#include <windows.h>
#include <dispex.h>

namespace stubframework::htmlui {

class MSHTMLExternal : public IDispatchEx {
 public:
  MSHTMLExternal();

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  // IDispatchEx
  HRESULT STDMETHODCALLTYPE GetDispID(BSTR name, DWORD flags, DISPID* id) override;
  HRESULT STDMETHODCALLTYPE InvokeEx(DISPID id, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception,
                                     IServiceProvider* caller) override;
  HRESULT STDMETHODCALLTYPE DeleteMemberByName(BSTR name, DWORD flags) override;
  HRESULT STDMETHODCALLTYPE DeleteMemberByDispID(DISPID id) override;
  HRESULT STDMETHODCALLTYPE GetMemberProperties(DISPID id, DWORD fetch, DWORD* properties) override;
  HRESULT STDMETHODCALLTYPE GetMemberName(DISPID id, BSTR* name) override;
  HRESULT STDMETHODCALLTYPE GetNextDispID(DWORD flags, DISPID id, DISPID* next) override;
  HRESULT STDMETHODCALLTYPE GetNameSpaceParent(IUnknown** parent) override;

  virtual void SetWindow(HWND window);
  virtual void EnsureDefaultSize() = 0;
  HWND Window() const { return window_; }

 protected:
  virtual ~MSHTMLExternal();

  // The index of the named method, or -1; derived classes own the method names.
  virtual int FindMethod(const wchar_t* name, bool ignoreCase) = 0;

 private:
  struct Expando {
    wchar_t* name;
    VARIANT value;  // vt 0xFFFF marks a deleted entry; its slot is never reused
  };
  static constexpr VARTYPE kDeleted = 0xFFFF;
  static constexpr DISPID kExpandoBit = static_cast<DISPID>(0x80000000);

  int FindExpando(const wchar_t* name, bool ignoreCase) const;
  HRESULT InvokeExpando(Expando& entry, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, IServiceProvider* caller);

  LONG refCount_ = 1;
  Expando* expandos_ = nullptr;
  int expandoCount_ = 0;
  HWND window_ = nullptr;
};

}  // namespace stubframework::htmlui
