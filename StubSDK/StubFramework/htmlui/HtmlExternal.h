#pragma once
// The window.external object: maps script names to the methods registered on the method object,
// and carries the run state that methods and workers share (window, last window size, last
// errors, cancellation flags) and the native side of the property store.
#include <windows.h>

#include <string>
#include <vector>

#include "core/ZipReporter.h"
#include "htmlui/MSHTMLExternal.h"
#include "methods/ExternalMethods.h"

namespace stubframework::core {

class StubParameters;

class HtmlExternal : public htmlui::MSHTMLExternal, public zip::ZipReporter {
 public:
  explicit HtmlExternal(StubParameters* parameters);

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

  void SetWindow(HWND window) override;
  void EnsureDefaultSize() override;

  // Builds the dispatch table from the method object's map, in its order; DISPID = index + 1.
  // Registrations made afterwards are not seen.
  void SetMethods(ExternalMethods* methods);
  ExternalMethods* GetMethods() const { return methods_; }
  int MethodCount() const { return static_cast<int>(table_.size()); }
  void SetSizeQueryOnly(bool flag) { sizeQueryOnly = flag; }
  void SetStopRequested(bool flag) { stopRequested = flag; }

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

  int lastWidth = 0;
  int lastHeight = 0;
  volatile DWORD lastZipError = 0;
  volatile LONG lastInstallError = 0;
  volatile BYTE sizeQueryOnly = 0;
  volatile BYTE stopRequested = 0;

 protected:
  ~HtmlExternal() override = default;
  int FindMethod(const wchar_t* name, UINT length, bool ignoreCase) override;

 private:
  // An exception that ended the method at index, in the installer log.
  void LogException(UINT index, const char* what);
  void SetNumber(const wchar_t* name, DWORD value);
  int GetNumber(const wchar_t* name);

  StubParameters* parameters_;
  ExternalMethods* methods_ = nullptr;
  struct Entry {
    std::wstring name;
    ScriptMethod method;
  };
  std::vector<Entry> table_;  // sorted by UTF-16 code units
};

}  // namespace stubframework::core
