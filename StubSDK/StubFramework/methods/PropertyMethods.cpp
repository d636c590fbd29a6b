// setProperty and getProperty: the script's side of the property store.
#include "core/FrameworkCore.h"
#include "methods/ExternalMethods.h"

namespace stubframework {

HRESULT ExternalMethods::SetPropertyMethod(WORD flags, DISPPARAMS* params, VARIANT*) {
  core::FrameworkLogDebug(core_, L"EMSetProperty");
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {VT_BSTR, VT_BSTR});
  if (FAILED(hr)) return hr;
  std::wstring name = ArgumentText(params, 0);
  std::wstring value = ArgumentText(params, 1);
  core_->external->SetProperty(name, value);
  core::FrameworkLogDebug(core_, L"EMSetProperty %s, %s", value.c_str(), name.c_str());
  return S_OK;
}

HRESULT ExternalMethods::GetPropertyMethod(WORD flags, DISPPARAMS* params, VARIANT* result) {
  HRESULT hr = CheckArguments(flags, kFlagsMethodGet, params, {VT_BSTR});
  if (FAILED(hr)) return hr;
  if (!result) return S_OK;
  SetResultText(result, core_->external->GetProperty(ArgumentText(params, 0)));
  return S_OK;
}

}  // namespace stubframework
