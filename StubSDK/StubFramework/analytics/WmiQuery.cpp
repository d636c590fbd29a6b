#include "analytics/WmiQuery.h"

#include <oleauto.h>

#include <utility>

namespace stubframework::analytics {

void WmiObject::Property(const wchar_t* name, utils::Variant& value) const {
  VARIANT* out = value.Out();
  // A failed read may leave part of a value behind.
  if (object_ && FAILED(object_->Get(name, 0, out, nullptr, nullptr))) value.Out();
}

bool WmiObject::String(const wchar_t* name, std::wstring& text) const {
  utils::Variant value;
  Property(name, value);
  bool isString = value->vt == VT_BSTR;
  if (isString) text.assign(value->bstrVal ? value->bstrVal : L"", value->bstrVal ? SysStringLen(value->bstrVal) : 0);
  return isString;
}

bool WmiObject::Int32(const wchar_t* name, int32_t& number) const {
  utils::Variant value;
  Property(name, value);
  bool isInt = value->vt == VT_I4;
  if (isInt) number = value->lVal;
  return isInt;
}

bool WmiConnection::Connect() {
  if (services_) return true;
  if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                              locator_.OutVoid())))
    return false;
  utils::Bstr space(L"ROOT\\CIMV2");
  HRESULT hr = space.Get() ? locator_->ConnectServer(space.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                                     services_.Out())
                           : E_OUTOFMEMORY;
  if (FAILED(hr)) return false;
  if (FAILED(CoSetProxyBlanket(services_.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                               RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE))) {
    services_.Reset();
    return false;
  }
  return true;
}

bool WmiConnection::Query(const std::wstring& wql, ULONG limit, std::vector<WmiObject>& objects) {
  if (!Connect() || limit == 0) return false;
  utils::Bstr language(L"WQL"), text(wql);
  utils::ComRef<IEnumWbemClassObject> enumerator;
  HRESULT hr = language.Get() && text.Get()
                   ? services_->ExecQuery(language.Get(), text.Get(), WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY,
                                          nullptr, enumerator.Out())
                   : E_OUTOFMEMORY;
  if (FAILED(hr) || !enumerator) return false;
  std::vector<IWbemClassObject*> found(limit, nullptr);
  ULONG returned = 0;
  enumerator->Next(WBEM_INFINITE, limit, found.data(), &returned);
  if (returned > limit) returned = limit;
  for (ULONG i = 0; i < limit; ++i) {
    // Every instance is adopted, so that those beyond the count returned are released too.
    WmiObject object(found[i]);
    if (found[i] && i < returned) objects.push_back(std::move(object));
  }
  return true;
}

}  // namespace stubframework::analytics
