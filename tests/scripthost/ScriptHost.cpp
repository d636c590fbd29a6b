// Test host for the script API: builds the framework core and the method object exactly as the
// stub's entry point does, runs script files in the JScript engine with the real external object
// as "external" and "window.external", pumps the user-interface thread's messages until the
// script calls host.exit(code) or the time limit passes, and ends with the script's code.
//
// Usage: script_host.exe [stub arguments...] file.js [file.js...]
// Exit codes: the script's own; 100 script error; 101 time limit; 102 set-up failure.
#include <initguid.h>  // IID_IActiveScriptParse

#include <windows.h>
#include <activscp.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/ComRef.h"
#include "core/ComValue.h"
#include "core/CommandLine.h"
#include "core/FrameworkCore.h"
#include "core/MessagePump.h"
#include "core/TextFormat.h"
#include "core/UniqueHandle.h"
#include "htmlui/HtmlExternal.h"
#include "htmlui/ScriptCallback.h"
#include "methods/LaunchMethods.h"
#include "product/ProductAnalytics.h"
#include "product/ProductRun.h"
#include "product/TrackerHTMLDialog.h"
#include "product/TrackingThread.h"
#include "support/TestSupport.h"

namespace {

constexpr int kScriptError = 100;
constexpr int kTimeLimit = 101;
constexpr int kSetUpFailure = 102;

bool g_exitRequested = false;
int g_exitCode = 0;
DWORD g_timeLimitMs = 30000;
stubframework::utils::ComRef<IDispatch> g_endRunCallback;

// A small IDispatch whose members are looked up by name in a fixed list.
class NamedDispatch : public IDispatch {
 public:
  explicit NamedDispatch(std::vector<std::wstring> names) : names_(std::move(names)) {}
  virtual ~NamedDispatch() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG count = --references_;
    if (count == 0) delete this;
    return count;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
      ids[i] = DISPID_UNKNOWN;
      for (size_t n = 0; n < names_.size(); ++n)
        if (names_[n] == names[i]) ids[i] = static_cast<DISPID>(n + 1);
      if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO*, UINT*) override {
    if (id < 1 || static_cast<size_t>(id) > names_.size()) return DISP_E_MEMBERNOTFOUND;
    return Call(names_[id - 1], flags, params, result);
  }

 protected:
  virtual HRESULT Call(const std::wstring& name, WORD flags, DISPPARAMS* params, VARIANT* result) = 0;

  static bool IntArgument(DISPPARAMS* params, UINT scriptIndex, int& value) {
    if (!params || scriptIndex >= params->cArgs) return false;
    VARIANT converted;
    VariantInit(&converted);
    if (FAILED(VariantChangeType(&converted, &params->rgvarg[params->cArgs - 1 - scriptIndex], 0, VT_I4)))
      return false;
    value = converted.lVal;
    return true;
  }
  static std::wstring TextArgument(DISPPARAMS* params, UINT scriptIndex) {
    if (!params || scriptIndex >= params->cArgs) return L"";
    stubframework::utils::Variant converted;
    if (FAILED(VariantChangeType(converted.Get(), &params->rgvarg[params->cArgs - 1 - scriptIndex], 0, VT_BSTR)))
      return L"";
    // The whole text, NULs included: tests pass names that carry them.
    return std::wstring(converted->bstrVal ? converted->bstrVal : L"", SysStringLen(converted->bstrVal));
  }

 private:
  LONG references_ = 1;
  std::vector<std::wstring> names_;
};

struct WorkerStart {
  IStream* stream;
  int count;
};

// Calls the script back count times from a multithreaded-apartment thread: callback(i, count).
DWORD WINAPI TestWorkerThreadFunc(void* parameter) {
  auto* start = static_cast<WorkerStart*>(parameter);
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  {
    stubframework::htmlui::ScriptCallback callback;
    if (SUCCEEDED(callback.Attach(start->stream))) {
      for (int i = 1; i <= start->count; ++i) callback.Call({i, start->count});
    }
  }
  CoUninitialize();
  delete start;
  return 0;
}

// Stands in for the restart of Windows, which no scenario may cause: records the call and
// whether the shutdown privilege was enabled when it came ("flags reason enabled|disabled;").
std::wstring g_restartCalls;

BOOL WINAPI RecordRestart(UINT flags, DWORD reason) {
  bool enabled = false;
  stubframework::utils::KernelHandle token;
  LUID shutdown = {};
  if (LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &shutdown) &&
      OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Out())) {
    DWORD size = 0;
    GetTokenInformation(token.Get(), TokenPrivileges, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size && GetTokenInformation(token.Get(), TokenPrivileges, buffer.data(), size, &size)) {
      const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
      for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        const LUID_AND_ATTRIBUTES& entry = privileges->Privileges[i];
        if (entry.Luid.LowPart == shutdown.LowPart && entry.Luid.HighPart == shutdown.HighPart)
          enabled = (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
      }
    }
  }
  wchar_t line[64];
  swprintf(line, 64, L"0x%x 0x%lx %ls;", flags, static_cast<unsigned long>(reason), enabled ? L"enabled" : L"disabled");
  g_restartCalls += line;
  return TRUE;
}

struct DialogAnswer {
  DWORD processId;
  std::wstring action;
  HANDLE callReturned;  // set when the call the helper was armed for has returned
  HWND found;
};

BOOL CALLBACK FindOwnDialog(HWND window, LPARAM parameter) {
  auto* answer = reinterpret_cast<DialogAnswer*>(parameter);
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  wchar_t className[16] = {};
  GetClassNameW(window, className, 16);
  if (processId == answer->processId && IsWindowVisible(window) && wcscmp(className, L"#32770") == 0) {
    answer->found = window;
    return FALSE;
  }
  return TRUE;
}

// Answers the first modal dialog of this process that appears while the call it was armed for
// runs, as a user would, and ends without answering anything once that call has returned: a call
// refused before its box appears leaves nothing behind that could answer a later box.
DWORD WINAPI DialogAnswerThreadFunc(void* parameter) {
  auto* answer = static_cast<DialogAnswer*>(parameter);
  while (WaitForSingleObject(answer->callReturned, 50) == WAIT_TIMEOUT) {
    EnumWindows(FindOwnDialog, reinterpret_cast<LPARAM>(answer));
    if (!answer->found) continue;
    // Let the dialog finish its own start-up.
    if (WaitForSingleObject(answer->callReturned, 100) != WAIT_TIMEOUT) break;
    if (answer->action == L"ok")
      PostMessageW(answer->found, WM_COMMAND, IDOK, 0);
    else if (answer->action == L"cancel")
      PostMessageW(answer->found, WM_COMMAND, IDCANCEL, 0);
    else if (answer->action == L"escape")
      PostMessageW(answer->found, WM_KEYDOWN, VK_ESCAPE, 0);
    else
      PostMessageW(answer->found, WM_CLOSE, 0, 0);
    break;
  }
  return 0;
}

// A script object of another page, whose trackEvent fails as a script error would make it.
class FailingTrackEvent : public NamedDispatch {
 public:
  FailingTrackEvent() : NamedDispatch({L"trackEvent"}) {}

 protected:
  HRESULT Call(const std::wstring&, WORD, DISPPARAMS*, VARIANT*) override { return DISP_E_EXCEPTION; }
};

// The product-analytics page as a scenario is one: its script is the scenario's and its
// document's script object the engine's. How its document answers is the scenario's choice:
// "" the engine's script, "none" no document, "throw" an exception, "other" a script without
// trackEvent, "failing" a trackEvent that fails.
class HostTrackerPage : public myexternalmethods::ScriptedTrackerPage {
 public:
  HostTrackerPage(IDispatch* script, IDispatch* other) : script_(script), other_(other) {}
  bool Open(const std::wstring&, bool) override { return true; }
  std::wstring document;

 protected:
  bool DocumentScript(IDispatch** script, HRESULT& hr) override {
    if (document == L"none") return false;
    if (document == L"throw") throw std::bad_alloc();
    *script = document == L"other" ? other_ : document == L"failing" ? failing_.Get() : script_;
    (*script)->AddRef();
    hr = S_OK;
    return true;
  }

 private:
  IDispatch* script_;
  IDispatch* other_;
  stubframework::utils::ComRef<IDispatch> failing_{new FailingTrackEvent};
};

// The "host" object: what a test script needs beyond the page's API.
class HostObject : public NamedDispatch {
 public:
  explicit HostObject(stubframework::core::HtmlExternal* external)
      : NamedDispatch({L"exit", L"log", L"startWorker", L"dispIdOf", L"methodNames", L"sleep", L"answerDialog",
                       L"logText", L"getMember", L"putMember", L"testServers", L"endRun", L"copyFile", L"readText",
                       L"setTimeLimit", L"restartCalls", L"installerService", L"writeText", L"productVersion",
                       L"trackerPage", L"deliverEvent", L"pendingAcknowledgements", L"analyticsLog"}),
        external_(external) {}

  stubframework::core::FrameworkCore* core = nullptr;
  // The engine's global script object, which a tracker page's document would give.
  IDispatch* script = nullptr;

 protected:
  HRESULT Call(const std::wstring& name, WORD, DISPPARAMS* params, VARIANT* result) override {
    if (name == L"exit") {
      int code = 0;
      IntArgument(params, 0, code);
      g_exitCode = code;
      g_exitRequested = true;
      return S_OK;
    }
    if (name == L"log") {
      wprintf(L"script: %ls\n", TextArgument(params, 0).c_str());
      fflush(stdout);
      return S_OK;
    }
    if (name == L"sleep") {
      int milliseconds = 0;
      IntArgument(params, 0, milliseconds);
      Sleep(milliseconds);
      return S_OK;
    }
    if (name == L"startWorker") {
      int count = 0;
      if (!params || params->cArgs != 2 || params->rgvarg[1].vt != VT_DISPATCH || !IntArgument(params, 1, count))
        return DISP_E_TYPEMISMATCH;
      IStream* stream = nullptr;
      HRESULT hr = stubframework::htmlui::MarshalScriptCallback(params->rgvarg[1].pdispVal, &stream);
      if (FAILED(hr)) return hr;
      stubframework::utils::KernelHandle thread(
          CreateThread(nullptr, 0, TestWorkerThreadFunc, new WorkerStart{stream, count}, 0, nullptr));
      return thread.Valid() ? S_OK : E_FAIL;
    }
    if (name == L"answerDialog") return AnswerDialog(params, result);
    if (name == L"logText") {
      std::string bytes = testsupport::ReadFileBytes(core->log->FilePath());
      if (result) {
        result->vt = VT_BSTR;
        result->bstrVal = SysAllocString(stubframework::utils::Utf8ToWide(bytes).c_str());
      }
      return S_OK;
    }
    // The "key=value" lines of the download servers' servers.txt or the installer service's
    // service.txt, empty without them.
    if (name == L"testServers" || name == L"installerService") {
      const wchar_t* variable =
          _wgetenv(name == L"testServers" ? L"HALVERN_TEST_SERVERS" : L"HALVERN_INSTALLER_SERVICE");
      std::wstring file = variable ? variable : L"";
      // CTest gives the Linux path: Wine shows it on drive Z:.
      if (!file.empty() && file[0] == L'/') {
        for (wchar_t& c : file) c = c == L'/' ? L'\\' : c;
        file = L"Z:" + file;
      }
      std::string bytes = file.empty() ? std::string() : testsupport::ReadFileBytes(file);
      if (result) {
        result->vt = VT_BSTR;
        result->bstrVal = SysAllocString(stubframework::utils::Utf8ToWide(bytes).c_str());
      }
      return S_OK;
    }
    // The end of the run's worker stop, as the main window's loop does it once closeWindow ended
    // the loop: not inside this call (a worker may be waiting for the script), but from the pump
    // at top level, which then calls callback(ended).
    if (name == L"endRun") {
      if (!params || params->cArgs != 1 || params->rgvarg[0].vt != VT_DISPATCH || g_endRunCallback)
        return DISP_E_TYPEMISMATCH;
      g_endRunCallback = stubframework::utils::ComRef<IDispatch>::Share(params->rgvarg[0].pdispVal);
      return S_OK;
    }
    // For scenarios that run long by design; CTest's own limit still applies.
    if (name == L"setTimeLimit") {
      int seconds = 0;
      if (!IntArgument(params, 0, seconds) || seconds <= 0) return DISP_E_TYPEMISMATCH;
      g_timeLimitMs = static_cast<DWORD>(seconds) * 1000;
      return S_OK;
    }
    // readText(path) reads UTF-8, readText(path, "utf-16") what programs such as the test
    // installer write.
    if (name == L"readText") {
      std::string bytes = testsupport::ReadFileBytes(TextArgument(params, 0));
      std::wstring text = params && params->cArgs > 1 && TextArgument(params, 1) == L"utf-16"
                              ? std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2)
                              : stubframework::utils::Utf8ToWide(bytes);
      if (result) {
        result->vt = VT_BSTR;
        result->bstrVal = SysAllocString(text.c_str());
      }
      return S_OK;
    }
    // productVersion() is the version of the product definition the stub was built with.
    if (name == L"productVersion") {
      if (result) {
        result->vt = VT_BSTR;
        result->bstrVal = SysAllocString(stubframework::definition::kProductVersion);
      }
      return S_OK;
    }
    // writeText(path, text) writes the text as UTF-8, replacing the file.
    if (name == L"writeText") {
      bool written = testsupport::WriteFileBytes(TextArgument(params, 0),
                                                 stubframework::utils::WideToUtf8(TextArgument(params, 1)));
      if (result) {
        result->vt = VT_BOOL;
        result->boolVal = written ? VARIANT_TRUE : VARIANT_FALSE;
      }
      return S_OK;
    }
    if (name == L"copyFile") {
      BOOL copied = CopyFileW(TextArgument(params, 0).c_str(), TextArgument(params, 1).c_str(), FALSE);
      if (result) {
        result->vt = VT_BOOL;
        result->boolVal = copied ? VARIANT_TRUE : VARIANT_FALSE;
      }
      return S_OK;
    }
    if (name == L"dispIdOf") {
      int flags = 0;
      IntArgument(params, 1, flags);
      DISPID id = DISPID_UNKNOWN;
      MemberId(params, static_cast<DWORD>(flags), id);
      if (result) {
        result->vt = VT_I4;
        result->lVal = id;
      }
      return S_OK;
    }
    // Member access the way an engine does it, with the whole counted name: look up (creating
    // the member for an assignment), then read or assign.
    if (name == L"getMember") {
      DISPID id = DISPID_UNKNOWN;
      HRESULT hr = MemberId(params, 0, id);
      if (FAILED(hr)) return hr;
      DISPPARAMS none = {nullptr, nullptr, 0, 0};
      return external_->InvokeEx(id, 0, DISPATCH_PROPERTYGET, &none, result, nullptr, nullptr);
    }
    if (name == L"putMember") {
      if (!params || params->cArgs != 2) return DISP_E_BADPARAMCOUNT;
      DISPID id = DISPID_UNKNOWN;
      HRESULT hr = MemberId(params, fdexNameEnsure, id);
      if (FAILED(hr)) return hr;
      DISPID putId = DISPID_PROPERTYPUT;
      DISPPARAMS value = {&params->rgvarg[0], &putId, 1, 1};
      return external_->InvokeEx(id, 0, DISPATCH_PROPERTYPUT, &value, nullptr, nullptr, nullptr);
    }
    if (name == L"restartCalls") {
      if (result) {
        result->vt = VT_BSTR;
        result->bstrVal = SysAllocString(g_restartCalls.c_str());
      }
      return S_OK;
    }
    // The tracker dialog's side of the product-analytics page, with this script as the page:
    // trackerPage() is the page's window.external (the analytics log is written from then on),
    // deliverEvent(text, document) hands it an event as the tracking thread does.
    if (name == L"trackerPage") {
      if (!tracker_) {
        myexternalmethods::AnalyticsSettings& settings = myexternalmethods::Settings();
        settings.logEnabled = true;
        settings.logThreshold = stubframework::debug::kLogError;
        tracker_ = std::make_unique<HostTrackerPage>(script, this);
      }
      if (result) {
        result->vt = VT_DISPATCH;
        result->pdispVal = tracker_->External();
        result->pdispVal->AddRef();
      }
      return S_OK;
    }
    if (name == L"deliverEvent") {
      if (!tracker_) return E_UNEXPECTED;
      tracker_->document = params && params->cArgs > 1 ? TextArgument(params, 1) : L"";
      myexternalmethods::DeliverEvent(*tracker_, TextArgument(params, 0));
      return S_OK;
    }
    if (name == L"pendingAcknowledgements") {
      if (!tracker_) return E_UNEXPECTED;
      if (result) {
        result->vt = VT_I4;
        result->lVal = tracker_->PendingAcknowledgements();
      }
      return S_OK;
    }
    if (name == L"analyticsLog") {
      std::string bytes = testsupport::ReadFileBytes(myexternalmethods::AnalyticsLogPath());
      if (result) {
        result->vt = VT_BSTR;
        result->bstrVal = SysAllocString(stubframework::utils::Utf8ToWide(bytes).c_str());
      }
      return S_OK;
    }
    if (name == L"methodNames") {
      std::wstring names;
      for (const auto& entry : external_->GetMethods()->Methods()) names += (names.empty() ? L"" : L";") + entry.first;
      if (result) {
        result->vt = VT_BSTR;
        result->bstrVal = SysAllocString(names.c_str());
      }
      return S_OK;
    }
    return DISP_E_MEMBERNOTFOUND;
  }

 private:
  // answerDialog(action, call): runs call() with a helper that answers the box it shows, and ends
  // the helper when call returns; the result is call's.
  HRESULT AnswerDialog(DISPPARAMS* params, VARIANT* result) {
    if (!params || params->cArgs != 2 || params->rgvarg[0].vt != VT_DISPATCH || !params->rgvarg[0].pdispVal)
      return DISP_E_TYPEMISMATCH;
    stubframework::utils::KernelHandle callReturned(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    DialogAnswer answer = {GetCurrentProcessId(), TextArgument(params, 0), callReturned.Get(), nullptr};
    stubframework::utils::KernelHandle thread(
        callReturned.Valid() ? CreateThread(nullptr, 0, DialogAnswerThreadFunc, &answer, 0, nullptr) : nullptr);
    HRESULT hr = E_FAIL;
    if (thread.Valid()) {
      DISPPARAMS none = {nullptr, nullptr, 0, 0};
      const IID noInterface = {};  // IID_NULL
      hr = params->rgvarg[0].pdispVal->Invoke(DISPID_VALUE, noInterface, 0, DISPATCH_METHOD, &none, result, nullptr,
                                              nullptr);
      SetEvent(callReturned.Get());
      WaitForSingleObject(thread.Get(), INFINITE);
    }
    return hr;
  }

  // GetDispID of the external object for the first argument, NULs and all.
  HRESULT MemberId(DISPPARAMS* params, DWORD flags, DISPID& id) {
    stubframework::utils::Bstr member(TextArgument(params, 0));
    return external_->GetDispID(member.Get(), flags, &id);
  }

  stubframework::core::HtmlExternal* external_;
  std::unique_ptr<HostTrackerPage> tracker_;
};

// The "window" object: only window.external.
class WindowObject : public NamedDispatch {
 public:
  explicit WindowObject(IDispatch* external) : NamedDispatch({L"external"}), external_(external) {}

 protected:
  HRESULT Call(const std::wstring&, WORD flags, DISPPARAMS*, VARIANT* result) override {
    if (!(flags & DISPATCH_PROPERTYGET) || !result) return DISP_E_MEMBERNOTFOUND;
    result->vt = VT_DISPATCH;
    result->pdispVal = external_;
    external_->AddRef();
    return S_OK;
  }

 private:
  IDispatch* external_;
};

class ScriptSite : public IActiveScriptSite {
 public:
  ScriptSite(IDispatch* external, IDispatch* window, IDispatch* host)
      : external_(external), window_(window), host_(host) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IActiveScriptSite) {
      *object = static_cast<IActiveScriptSite*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }   // lives on main's stack
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetLCID(LCID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** info) override {
    if (info) *info = nullptr;
    if (!(mask & SCRIPTINFO_IUNKNOWN) || !item) return mask & SCRIPTINFO_ITYPEINFO ? TYPE_E_ELEMENTNOTFOUND : S_OK;
    IDispatch* object = wcscmp(name, L"external") == 0 ? external_
                        : wcscmp(name, L"window") == 0 ? window_
                        : wcscmp(name, L"host") == 0   ? host_
                                                       : nullptr;
    if (!object) return TYPE_E_ELEMENTNOTFOUND;
    object->AddRef();
    *item = object;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDocVersionString(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnStateChange(SCRIPTSTATE) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnScriptError(IActiveScriptError* error) override {
    EXCEPINFO exception = {};
    error->GetExceptionInfo(&exception);
    DWORD context = 0;
    ULONG line = 0;
    LONG column = 0;
    error->GetSourcePosition(&context, &line, &column);
    fwprintf(stderr, L"script error in %ls, line %lu: %ls (0x%08lX)\n", fileName.c_str(), line + 1,
             exception.bstrDescription ? exception.bstrDescription : L"", static_cast<unsigned long>(exception.scode));
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    g_exitCode = kScriptError;
    g_exitRequested = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnEnterScript() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnLeaveScript() override { return S_OK; }

  std::wstring fileName;

 private:
  IDispatch* external_;
  IDispatch* window_;
  IDispatch* host_;
};

void EndRunIfAsked(stubframework::core::FrameworkCore* core) {
  stubframework::utils::ComRef<IDispatch> callback = std::move(g_endRunCallback);
  if (!callback) return;
  VARIANT ended;
  VariantInit(&ended);
  ended.vt = VT_BOOL;
  ended.boolVal = stubframework::core::StopFrameworkWorkers(core) ? VARIANT_TRUE : VARIANT_FALSE;
  DISPPARAMS params = {&ended, nullptr, 1, 0};
  const IID none = {};
  callback->Invoke(DISPID_VALUE, none, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

void PumpUntilExit(stubframework::core::FrameworkCore* core, DWORD limitMs) {
  bool exited = stubframework::core::PumpMessagesUntil(
      [core] {
        EndRunIfAsked(core);
        return g_exitRequested;
      },
      limitMs, limitMs);
  if (!exited) {
    fwprintf(stderr, L"script host: time limit of %lu ms reached\n", static_cast<unsigned long>(limitMs));
    g_exitCode = kTimeLimit;
  }
}

int RunScripts(stubframework::core::FrameworkCore* core, const std::vector<std::wstring>& files) {
  using stubframework::utils::ComRef;
  IDispatch* external = static_cast<IDispatch*>(core->external);
  // Released after the engine, which holds them as named items.
  ComRef<WindowObject> window(new WindowObject(external));
  ComRef<HostObject> host(new HostObject(core->external));
  host->core = core;
  ScriptSite site(external, window.Get(), host.Get());
  CLSID jscript;
  ComRef<IActiveScript> engine;
  ComRef<IActiveScriptParse> parser;
  if (FAILED(CLSIDFromProgID(L"JScript", &jscript)) ||
      FAILED(CoCreateInstance(jscript, nullptr, CLSCTX_INPROC_SERVER, IID_IActiveScript, engine.OutVoid())) ||
      FAILED(engine->QueryInterface(IID_IActiveScriptParse, parser.OutVoid()))) {
    fwprintf(stderr, L"script host: no JScript engine\n");
    return kSetUpFailure;
  }
  engine->SetScriptSite(&site);
  parser->InitNew();
  for (const wchar_t* name : {L"external", L"window", L"host"})
    engine->AddNamedItem(name, SCRIPTITEM_ISVISIBLE);
  engine->SetScriptState(SCRIPTSTATE_CONNECTED);
  ComRef<IDispatch> script;
  engine->GetScriptDispatch(nullptr, script.Out());
  host->script = script.Get();

  for (const std::wstring& file : files) {
    std::string bytes = testsupport::ReadFileBytes(file);
    if (bytes.empty()) {
      fwprintf(stderr, L"script host: cannot read %ls\n", file.c_str());
      g_exitCode = kSetUpFailure;
      break;
    }
    site.fileName = file;
    std::wstring text = stubframework::utils::Utf8ToWide(bytes);
    EXCEPINFO exception = {};
    parser->ParseScriptText(text.c_str(), nullptr, nullptr, nullptr, 0, 0, SCRIPTTEXT_ISVISIBLE, nullptr,
                            &exception);
    if (g_exitRequested) break;
  }
  if (!g_exitRequested) PumpUntilExit(core, g_timeLimitMs);

  g_endRunCallback.Reset();
  engine->Close();
  return g_exitCode;
}

}  // namespace

int wmain() {
  std::vector<std::wstring> files;
  for (const std::wstring& argument : stubframework::core::SplitCommandLine(GetCommandLineW())) {
    if (argument.size() > 3 && _wcsicmp(argument.c_str() + argument.size() - 3, L".js") == 0)
      files.push_back(argument);
  }
  if (files.empty()) {
    fwprintf(stderr, L"usage: script_host.exe [stub arguments...] file.js [file.js...]\n");
    return kSetUpFailure;
  }
  stubframework::methods::SetRestartWindowsFunction(RecordRestart);
  CoInitialize(nullptr);
  // The stub's own start, without the product analytics, whose tracker page never loads here and
  // would hold every scenario's end.
  myexternalmethods::ProductRun run;
  if (!run.Start(false)) {
    CoUninitialize();
    // Without run=1 this process was the launcher, which ends with 0 once its copy has run.
    if (!stubframework::core::HasArgument(GetCommandLineW(), L"run=1")) return 0;
    fwprintf(stderr, L"script host: the framework core was not created (another instance?)\n");
    return kSetUpFailure;
  }
  stubframework::core::PrepareFrameworkRun(run.core, run.methods);

  int code = RunScripts(run.core, files);

  run.Finish();
  CoUninitialize();
  fflush(stdout);
  return code;
}
