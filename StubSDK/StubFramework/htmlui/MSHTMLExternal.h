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

  // The index of the method named by exactly length characters (NULs included), or -1; derived
  // classes own the method names.
  virtual int FindMethod(const wchar_t* name, UINT length, bool ignoreCase) = 0;

  // Whether two names of the given lengths are the same name. Script names are counted strings
  // and may hold NULs, so a name never matches a shorter one that is its prefix.
  static bool SameName(const wchar_t* a, UINT aLength, const wchar_t* b, UINT bLength, bool ignoreCase);

  // Counts one call through this object for as long as it runs. A call can re-enter the script
  // engine (a stored function that calls back through the object), and every level takes stack of
  // the user-interface thread; past kMaxNesting levels the call is refused with kNestingTooDeep,
  // which the script sees as an exception, long before that stack runs out.
  class NestedCall {
   public:
    explicit NestedCall(MSHTMLExternal* object) : object_(object) { ++object_->nesting_; }
    ~NestedCall() { --object_->nesting_; }
    NestedCall(const NestedCall&) = delete;
    NestedCall& operator=(const NestedCall&) = delete;
    bool TooDeep() const { return object_->nesting_ > kMaxNesting; }

   private:
    MSHTMLExternal* object_;
  };
  static constexpr int kMaxNesting = 200;
  static constexpr HRESULT kNestingTooDeep = static_cast<HRESULT>(0x800703E9);  // ERROR_STACK_OVERFLOW

 private:
  struct Expando {
    BSTR name;      // counted: the name may hold NULs
    VARIANT value;  // vt 0xFFFF marks a deleted entry; its slot is never reused
  };
  static constexpr VARTYPE kDeleted = 0xFFFF;
  static constexpr DISPID kExpandoBit = static_cast<DISPID>(0x80000000);

  int FindExpando(const wchar_t* name, UINT length, bool ignoreCase) const;
  HRESULT InvokeExpando(Expando& entry, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, IServiceProvider* caller);

  LONG refCount_ = 1;
  Expando* expandos_ = nullptr;
  int expandoCount_ = 0;
  HWND window_ = nullptr;
  int nesting_ = 0;  // calls in progress; the object is used on the user-interface thread only
};

}  // namespace stubframework::htmlui
