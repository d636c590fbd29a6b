#include "htmlui/HtmlExternal.h"

#include "core/StubParameters.h"
#include "core/TextFormat.h"

namespace stubframework::core {

HtmlExternal::HtmlExternal(StubParameters* parameters) : parameters_(parameters) {}

HRESULT STDMETHODCALLTYPE HtmlExternal::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (riid != IID_IUnknown) return E_NOINTERFACE;
  *object = static_cast<IUnknown*>(this);
  AddRef();
  return S_OK;
}

ULONG STDMETHODCALLTYPE HtmlExternal::AddRef() { return ++references_; }

ULONG STDMETHODCALLTYPE HtmlExternal::Release() {
  LONG count = --references_;
  if (count == 0) delete this;
  return count;
}

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
