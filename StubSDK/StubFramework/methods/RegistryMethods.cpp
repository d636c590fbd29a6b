// setDataToReg, getDataFromReg, deleteRegKey, searchRegKey and getBaseRegKey: the script's access
// to the registry, through the registry layer's key paths and views.
#include "core/FrameworkCore.h"
#include "core/Registry.h"
#include "methods/ExternalMethods.h"
#include "methods/RegistrySearch.h"

namespace stubframework {

HRESULT ExternalMethods::SetDataToReg(WORD flags, DISPPARAMS* params, VARIANT*) {
  core::FrameworkLogDebug(core_, L"EMSetDataToReg");
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {VT_BSTR, VT_BSTR, VT_BSTR, VT_BOOL});
  if (FAILED(hr)) return hr;
  std::wstring key = ArgumentText(params, 0);
  std::wstring valueName = ArgumentText(params, 1);
  std::wstring data = ArgumentText(params, 2);
  VARIANT_BOOL view64 = Argument(params, 3).boolVal;
  utils::WriteRegistryString(key, valueName, data, view64 != VARIANT_FALSE);
  core::FrameworkLogDebug(core_, L"EMSetDataToReg %d, %s, %s, %s", static_cast<int>(view64), data.c_str(),
                          valueName.c_str(), key.c_str());
  return S_OK;
}

HRESULT ExternalMethods::GetDataFromReg(WORD flags, DISPPARAMS* params, VARIANT* result) {
  core::FrameworkLogDebug(core_, L"EMGetDataFromReg");
  HRESULT hr = CheckArguments(flags, kFlagsMethodGet, params, {VT_BSTR, VT_BSTR});
  if (FAILED(hr) || !result) return hr;
  std::wstring key = ArgumentText(params, 0);
  std::wstring valueName = ArgumentText(params, 1);
  std::wstring text;
  utils::ReadRegistryValue(key, valueName, text);
  core::FrameworkLogDebug(core_, L"EMGetDataFromReg args %s %s, Result %s", valueName.c_str(), key.c_str(),
                          text.c_str());
  SetResultText(result, text);
  return S_OK;
}

HRESULT ExternalMethods::DeleteRegKey(WORD flags, DISPPARAMS* params, VARIANT*) {
  core::FrameworkLogDebug(core_, L"EMDeleteRegKey");
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {VT_BSTR, VT_BOOL});
  if (FAILED(hr)) return hr;
  std::wstring key = ArgumentText(params, 0);
  VARIANT_BOOL view64 = Argument(params, 1).boolVal;
  utils::DeleteRegistryKey(key, view64 != VARIANT_FALSE);
  core::FrameworkLogDebug(core_, L"EMDeleteRegKey %d, %s", static_cast<int>(view64), key.c_str());
  return S_OK;
}

HRESULT ExternalMethods::SearchRegKey(WORD flags, DISPPARAMS* params, VARIANT* result) {
  core::FrameworkLogDebug(core_, L"EMSearchRegKey");
  HRESULT hr = CheckArguments(flags, kFlagsMethodGet, params, {VT_BOOL, VT_BSTR, VT_BSTR, VT_BSTR});
  if (FAILED(hr) || !result) return hr;
  bool view64 = Argument(params, 0).boolVal != VARIANT_FALSE;
  std::wstring key = ArgumentText(params, 1);
  std::wstring suffixes = ArgumentText(params, 2);
  std::wstring valueName = ArgumentText(params, 3);
  HKEY root;
  std::wstring subkey;
  bool found = false;
  if (utils::RegistryRoot(key, root, subkey)) {
    std::wstring foundPath;
    methods::SearchRegistryKeys(view64, root, subkey, L"", methods::SplitSearchSuffixes(suffixes), valueName,
                                foundPath, found);
  }
  core::FrameworkLogDebug(core_, L"EMSearchRegKey %d %s %s %s", view64 ? 1 : 0, key.c_str(), suffixes.c_str(),
                          valueName.c_str());
  SetResultBool(result, found);
  return S_OK;
}

HRESULT ExternalMethods::GetBaseRegKey(WORD flags, DISPPARAMS* params, VARIANT* result) {
  core::FrameworkLogDebug(core_, L"EMGetBaseRegKey");
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {});
  if (FAILED(hr) || !result) return hr;
  core::StubParameters& parameters = *core_->parameters;
  std::wstring key =
      utils::ProductRegistryKey(parameters.ProductId(), utils::MajorVersion(parameters.ProductVersion()));
  core::FrameworkLogDebug(core_, L"EMGetBaseRegKey %s", key.c_str());
  SetResultText(result, key);
  return S_OK;
}

}  // namespace stubframework
