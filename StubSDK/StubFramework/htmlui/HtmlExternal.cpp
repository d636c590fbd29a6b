#include "htmlui/HtmlExternal.h"

#include <cwchar>
#include <exception>
#include <new>

#include "core/FrameworkCore.h"
#include "core/MainWindow.h"
#include "core/StubParameters.h"
#include "core/TextFormat.h"

namespace stubframework::core {

HtmlExternal::HtmlExternal(StubParameters* parameters) : parameters_(parameters) {}

void HtmlExternal::SetMethods(ExternalMethods* methods) {
  methods_ = methods;
  table_.clear();
  if (!methods) return;
  for (const auto& entry : methods->Methods()) table_.push_back({entry.first, entry.second});
}

int HtmlExternal::FindMethod(const wchar_t* name, UINT length, bool ignoreCase) {
  for (size_t i = 0; i < table_.size(); ++i) {
    const std::wstring& entry = table_[i].name;
    if (SameName(entry.c_str(), static_cast<UINT>(entry.size()), name, length, ignoreCase))
      return static_cast<int>(i);
  }
  return -1;
}

HRESULT STDMETHODCALLTYPE HtmlExternal::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                                      DISPID* ids) {
  if (count > 0 && (!names || !ids)) return E_POINTER;
  HRESULT hr = S_OK;
  // These names are plain OLESTRs, not counted strings: each ends at its terminator.
  for (UINT i = 0; i < count; ++i) {
    int index = names[i] ? FindMethod(names[i], static_cast<UINT>(wcslen(names[i])), false) : -1;
    ids[i] = index >= 0 ? index + 1 : DISPID_UNKNOWN;
    if (index < 0) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT STDMETHODCALLTYPE HtmlExternal::Invoke(DISPID id, REFIID riid, LCID, WORD flags,
                                               DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                               UINT*) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  UINT index = static_cast<UINT>(id) - 1;
  if (index >= table_.size() || !methods_) return DISP_E_MEMBERNOTFOUND;
  NestedCall call(this);
  if (call.TooDeep()) return kNestingTooDeep;
  DISPPARAMS empty = {nullptr, nullptr, 0, 0};
  // No exception may cross into the script engine: the script sees an error instead.
  try {
    return (methods_->*table_[index].method)(flags, params ? params : &empty, result);
  } catch (const std::bad_alloc&) {
    LogException(index, "std::bad_alloc");
    return E_OUTOFMEMORY;
  } catch (const std::exception& exception) {
    LogException(index, exception.what());
    return E_FAIL;
  } catch (...) {
    LogException(index, "of no standard type");
    return E_FAIL;
  }
}

void HtmlExternal::LogException(UINT index, const char* what) {
  // Logging needs memory, which may be what ran out.
  try {
    FrameworkLogError(methods_->Core(), L"%s: exception: %hs", table_[index].name.c_str(), what);
  } catch (...) {
  }
}

void HtmlExternal::SetWindow(HWND window) {
  if (window == Window()) return;
  MSHTMLExternal::SetWindow(window);
  if (methods_) methods_->SetWindow(window);
}

void HtmlExternal::EnsureDefaultSize() { core::EnsureDefaultSize(this); }

void HtmlExternal::SetProperty(const std::wstring& name, const std::wstring& value) {
  parameters_->properties.Set(name, value);
}

std::wstring HtmlExternal::GetProperty(const std::wstring& name) {
  return parameters_->properties.Get(name);
}

void HtmlExternal::SetNumber(const wchar_t* name, DWORD value) {
  SetProperty(name, utils::FormatWide(L"%lu", static_cast<unsigned long>(value)));
}

int HtmlExternal::GetNumber(const wchar_t* name) { return utils::ParseDecimalInt(GetProperty(name)); }

void HtmlExternal::SetDownloadTotal(DWORD value) { SetNumber(L"downloadTotal", value); }
void HtmlExternal::SetDownloadCurrent(DWORD value) { SetNumber(L"downloadCurrent", value); }
void HtmlExternal::SetInstallTotal(DWORD value) { SetNumber(L"installTotal", value); }
void HtmlExternal::SetInstallCurrent(DWORD value) { SetNumber(L"installCurrent", value); }
int HtmlExternal::GetDownloadTotal() { return GetNumber(L"downloadTotal"); }
int HtmlExternal::GetDownloadCurrent() { return GetNumber(L"downloadCurrent"); }
int HtmlExternal::GetInstallTotal() { return GetNumber(L"installTotal"); }
int HtmlExternal::GetInstallCurrent() { return GetNumber(L"installCurrent"); }

void HtmlExternal::InitProgressValues() {
  SetDownloadTotal(1);
  SetDownloadCurrent(0);
  SetInstallTotal(1);
  SetInstallCurrent(0);
}

void HtmlExternal::OnProgress(DWORD current, DWORD total) {
  SetInstallCurrent(static_cast<DWORD>(current * 0.1));
  SetInstallTotal(total);
}

void HtmlExternal::OnError(DWORD code) { lastZipError = code; }

}  // namespace stubframework::core
