#include "analytics/WmiQuery.h"

#include <oleauto.h>

namespace stubframework::analytics {

WmiObject::~WmiObject() {
  if (object_) object_->Release();
}

VARIANT WmiObject::Property(const wchar_t* name) const {
  VARIANT value;
  VariantInit(&value);
  if (!object_ || FAILED(object_->Get(name, 0, &value, nullptr, nullptr))) {
    VariantClear(&value);
    VariantInit(&value);
  }
  return value;
}

bool WmiObject::String(const wchar_t* name, std::wstring& text) const {
  VARIANT value = Property(name);
  bool isString = value.vt == VT_BSTR;
  if (isString) text.assign(value.bstrVal ? value.bstrVal : L"", value.bstrVal ? SysStringLen(value.bstrVal) : 0);
  VariantClear(&value);
  return isString;
}

bool WmiObject::Int32(const wchar_t* name, int32_t& number) const {
  VARIANT value = Property(name);
  bool isInt = value.vt == VT_I4;
  if (isInt) number = value.lVal;
  VariantClear(&value);
  return isInt;
}

WmiConnection::~WmiConnection() {
  if (services_) services_->Release();
  if (locator_) locator_->Release();
}

bool WmiConnection::Connect() {
  if (services_) return true;
  if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                              reinterpret_cast<void**>(&locator_))))
    return false;
  BSTR space = SysAllocString(L"ROOT\\CIMV2");
  HRESULT hr = space ? locator_->ConnectServer(space, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services_)
                     : E_OUTOFMEMORY;
  SysFreeString(space);
  if (FAILED(hr)) {
    services_ = nullptr;
    return false;
  }
  if (FAILED(CoSetProxyBlanket(services_, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                               RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE))) {
    services_->Release();
    services_ = nullptr;
    return false;
  }
  return true;
}

bool WmiConnection::Query(const std::wstring& wql, ULONG limit, std::vector<WmiObject>& objects) {
  if (!Connect() || limit == 0) return false;
  BSTR language = SysAllocString(L"WQL");
  BSTR text = SysAllocStringLen(wql.data(), static_cast<UINT>(wql.size()));
  IEnumWbemClassObject* enumerator = nullptr;
  HRESULT hr = language && text ? services_->ExecQuery(language, text,
                                                       WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY,
                                                       nullptr, &enumerator)
                                : E_OUTOFMEMORY;
  SysFreeString(language);
  SysFreeString(text);
  if (FAILED(hr) || !enumerator) return false;
  std::vector<IWbemClassObject*> found(limit, nullptr);
  ULONG returned = 0;
  enumerator->Next(WBEM_INFINITE, limit, found.data(), &returned);
  enumerator->Release();
  if (returned > limit) returned = limit;
  for (ULONG i = 0; i < limit; ++i) {
    if (!found[i]) continue;
    if (i < returned)
      objects.emplace_back(found[i]);
    else
      found[i]->Release();
  }
  return true;
}

}  // namespace stubframework::analytics
