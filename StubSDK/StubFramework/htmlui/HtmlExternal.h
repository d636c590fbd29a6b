#pragma once
// The window.external object: the script bridge, the shared run state of methods and workers
// (window, cancellation flags, last errors) and the native side of the property store.
#include <windows.h>
#include <unknwn.h>

#include <string>

#include "core/ZipReporter.h"

namespace stubframework::core {

class StubParameters;

// Placeholder: the IDispatchEx bridge (dispatch table, expandos) arrives with the script bridge
// issue; until then the object is a reference-counted IUnknown with its native operations.
class HtmlExternal : public IUnknown, public zip::ZipReporter {
 public:
  explicit HtmlExternal(StubParameters* parameters);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // Property store (callable from any thread).
  void SetProperty(const std::wstring& name, const std::wstring& value);
  std::wstring GetProperty(const std::wstring& name);
  void SetDownloadTotal(DWORD value);
  void SetDownloadCurrent(DWORD value);
  void SetInstallTotal(DWORD value);
  void SetInstallCurrent(DWORD value);
  int GetDownloadTotal();
  int GetDownloadCurrent();
  int GetInstallTotal();
  int GetInstallCurrent();
  void InitProgressValues();

  // Extraction progress: installCurrent = current / 10, installTotal = total.
  void OnProgress(DWORD current, DWORD total) override;
  void OnError(DWORD code) override;

  DWORD lastZipError = 0;
  LONG lastInstallError = 0;
  volatile BYTE sizeQueryOnly = 0;
  volatile BYTE stopRequested = 0;

 protected:
  virtual ~HtmlExternal() = default;

 private:
  void SetNumber(const wchar_t* name, DWORD value);
  int GetNumber(const wchar_t* name);

  LONG references_ = 1;
  StubParameters* parameters_;
};

}  // namespace stubframework::core
