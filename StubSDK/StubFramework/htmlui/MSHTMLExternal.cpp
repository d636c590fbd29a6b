#include "htmlui/MSHTMLExternal.h"

#include <cstdlib>

#include "core/ComRef.h"

namespace stubframework::htmlui {

MSHTMLExternal::MSHTMLExternal() = default;

MSHTMLExternal::~MSHTMLExternal() {
  for (int i = 0; i < expandoCount_; ++i) {
    SysFreeString(expandos_[i].name);
    if (expandos_[i].value.vt != kDeleted) VariantClear(&expandos_[i].value);
  }
  free(expandos_);
}

HRESULT STDMETHODCALLTYPE MSHTMLExternal::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IDispatchEx) {
    *object = static_cast<IDispatchEx*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

// The object lives in the user-interface apartment only: plain counting is enough.
ULONG STDMETHODCALLTYPE MSHTMLExternal::AddRef() { return ++refCount_; }

ULONG STDMETHODCALLTYPE MSHTMLExternal::Release() {
  LONG count = --refCount_;
  if (count == 0) delete this;
  return count;
}

HRESULT STDMETHODCALLTYPE MSHTMLExternal::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE MSHTMLExternal::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE MSHTMLExternal::GetMemberProperties(DISPID, DWORD, DWORD*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE MSHTMLExternal::GetMemberName(DISPID, BSTR*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE MSHTMLExternal::GetNextDispID(DWORD, DISPID, DISPID*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE MSHTMLExternal::GetNameSpaceParent(IUnknown**) { return E_NOTIMPL; }

bool MSHTMLExternal::SameName(const wchar_t* a, UINT aLength, const wchar_t* b, UINT bLength,
                              bool ignoreCase) {
  if (aLength != bLength) return false;
  if (aLength == 0) return true;
  return CompareStringOrdinal(a, static_cast<int>(aLength), b, static_cast<int>(bLength), ignoreCase) ==
         CSTR_EQUAL;
}

int MSHTMLExternal::FindExpando(const wchar_t* name, UINT length, bool ignoreCase) const {
  for (int i = 0; i < expandoCount_; ++i) {
    const Expando& entry = expandos_[i];
    if (SameName(entry.name, SysStringLen(entry.name), name, length, ignoreCase)) return i;
  }
  return -1;
}

HRESULT STDMETHODCALLTYPE MSHTMLExternal::GetDispID(BSTR name, DWORD flags, DISPID* id) {
  if (!id) return E_POINTER;
  const wchar_t* text = name ? name : L"";
  UINT length = SysStringLen(name);
  bool ignoreCase = (flags & fdexNameCaseInsensitive) != 0;
  bool ensure = (flags & fdexNameEnsure) != 0;

  int method = FindMethod(text, length, ignoreCase);
  if (method >= 0) {
    *id = method + 1;
    return S_OK;
  }
  if (!(flags & fdexNameNoDynamicProperties)) {
    int index = FindExpando(text, length, ignoreCase);
    if (index >= 0) {
      if (expandos_[index].value.vt == kDeleted) {
        if (!ensure) {
          *id = DISPID_UNKNOWN;
          return DISP_E_UNKNOWNNAME;
        }
        VariantInit(&expandos_[index].value);
      }
      *id = kExpandoBit | index;
      return S_OK;
    }
  }
  if (!ensure) {
    *id = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  if (expandoCount_ % 32 == 0) {
    void* grown = realloc(expandos_, sizeof(Expando) * (expandoCount_ + 32));
    if (!grown) {
      *id = DISPID_UNKNOWN;
      return E_OUTOFMEMORY;
    }
    expandos_ = static_cast<Expando*>(grown);
  }
  BSTR copy = SysAllocStringLen(text, length);
  if (!copy) {
    *id = DISPID_UNKNOWN;
    return E_OUTOFMEMORY;
  }
  Expando& entry = expandos_[expandoCount_];
  entry.name = copy;
  VariantInit(&entry.value);
  *id = kExpandoBit | expandoCount_++;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE MSHTMLExternal::InvokeEx(DISPID id, LCID lcid, WORD flags, DISPPARAMS* params,
                                                   VARIANT* result, EXCEPINFO* exception,
                                                   IServiceProvider* caller) {
  if (id >= 0) return Invoke(id, IID_NULL, lcid, flags, params, result, exception, nullptr);
  int index = id & ~kExpandoBit;
  if (index >= expandoCount_) return DISP_E_UNKNOWNNAME;
  NestedCall call(this);
  if (call.TooDeep()) return kNestingTooDeep;
  return InvokeExpando(expandos_[index], lcid, flags, params, result, exception, caller);
}

HRESULT MSHTMLExternal::InvokeExpando(Expando& entry, LCID lcid, WORD flags, DISPPARAMS* params,
                                      VARIANT* result, EXCEPINFO* exception, IServiceProvider* caller) {
  UINT argumentCount = params ? params->cArgs : 0;
  if (entry.value.vt == kDeleted) return DISP_E_UNKNOWNNAME;
  // A call with arguments whose value is used arrives as METHOD | PROPERTYGET: it is a call.
  bool call = (flags & DISPATCH_METHOD) && argumentCount > 0;
  if ((flags & DISPATCH_PROPERTYGET) && !call) {
    if (argumentCount != 0) return DISP_E_BADPARAMCOUNT;
    return result ? VariantCopy(result, &entry.value) : S_OK;
  }
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    if (argumentCount != 1) return DISP_E_BADPARAMCOUNT;
    if (params->cNamedArgs != 1 || !params->rgdispidNamedArgs ||
        params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
      return DISP_E_PARAMNOTFOUND;
    return VariantCopy(&entry.value, &params->rgvarg[0]);
  }
  if (flags & DISPATCH_METHOD) {
    if (entry.value.vt != VT_DISPATCH || !entry.value.pdispVal) return S_OK;
    // A reference of its own: the call may replace the stored value.
    auto function = utils::ComRef<IDispatch>::Share(entry.value.pdispVal);
    utils::ComRef<IDispatchEx> functionEx;
    if (SUCCEEDED(function->QueryInterface(IID_IDispatchEx, functionEx.OutVoid())))
      return functionEx->InvokeEx(DISPID_VALUE, lcid, flags, params, result, exception, caller);
    return function->Invoke(DISPID_VALUE, IID_NULL, lcid, flags, params, result, exception, nullptr);
  }
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE MSHTMLExternal::DeleteMemberByName(BSTR name, DWORD flags) {
  // An unknown name yields DISPID_UNKNOWN, which is out of range: deleting it succeeds.
  DISPID id = DISPID_UNKNOWN;
  GetDispID(name, flags, &id);
  return DeleteMemberByDispID(id);
}

HRESULT STDMETHODCALLTYPE MSHTMLExternal::DeleteMemberByDispID(DISPID id) {
  if (id >= 0) return S_FALSE;  // methods cannot be deleted
  int index = id & ~kExpandoBit;
  if (index < expandoCount_ && expandos_[index].value.vt != kDeleted) {
    VariantClear(&expandos_[index].value);
    expandos_[index].value.vt = kDeleted;
  }
  return S_OK;
}

void MSHTMLExternal::SetWindow(HWND window) { window_ = window; }

}  // namespace stubframework::htmlui
