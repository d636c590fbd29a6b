#include <initguid.h>  // defines the browser GUIDs used here

#include "product/TrackerHTMLDialog.h"

#include <cguid.h>
#include <exdisp.h>
#include <exdispid.h>
#include <mshtml.h>
#include <mshtmhst.h>
#include <ole2.h>

#include "core/ComValue.h"
#include "product/ProductAnalytics.h"

namespace myexternalmethods {
namespace {

using stubframework::utils::Bstr;
using stubframework::utils::ComRef;
using stubframework::utils::Variant;

const wchar_t kWindowClass[] = L"TrackerHTMLDialog";
const wchar_t kTrackEvent[] = L"trackEvent";
constexpr DISPID kPostJSMessageId = 1;

}  // namespace

// window.external of the page: PostJSMessage(message) and nothing else.
class TrackerExternal final : public IDispatch {
 public:
  explicit TrackerExternal(TrackerPage* page) : page_(page) {}
  void Detach() { page_ = nullptr; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid != IID_IUnknown && iid != IID_IDispatch) return *object = nullptr, E_NOINTERFACE;
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return *count = 0, S_OK; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (count != 1 || !names || !names[0] || lstrcmpiW(names[0], L"PostJSMessage") != 0) {
      for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
      return DISP_E_UNKNOWNNAME;
    }
    ids[0] = kPostJSMessageId;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    if (id != kPostJSMessageId || !(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
    if (!params || params->cArgs != 1 || params->cNamedArgs != 0) return DISP_E_BADPARAMCOUNT;
    if (page_) page_->PostJSMessage(params->rgvarg[0]);
    return S_OK;
  }

 private:
  ULONG references_ = 1;
  TrackerPage* page_;
};

ScriptedTrackerPage::ScriptedTrackerPage() : external_(new TrackerExternal(this)) {}

ScriptedTrackerPage::~ScriptedTrackerPage() {
  // The page may still hold the object: it then reaches nothing.
  external_->Detach();
}

IDispatch* ScriptedTrackerPage::External() const { return external_.Get(); }

HRESULT ScriptedTrackerPage::CallJScriptFunct(const VARIANT& argument, VARIANT* result) {
  AnalyticsLogTrace(L"calling JS '%s' begins", kTrackEvent);
  HRESULT hr = E_FAIL;
  ComRef<IDispatch> script;
  try {
    if (!DocumentScript(script.Out(), hr)) {
      AnalyticsLogError(L"calling JS '%s' failed, m_spHtmlDoc is NULL, errorCode: %u.", kTrackEvent, GetLastError());
      return E_FAIL;
    }
    if (SUCCEEDED(hr) && !script) hr = E_FAIL;
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR name = const_cast<LPOLESTR>(kTrackEvent);
    if (SUCCEEDED(hr)) hr = script->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_SYSTEM_DEFAULT, &id);
    if (SUCCEEDED(hr)) {
      Variant copy;
      VariantCopy(copy.Get(), const_cast<VARIANT*>(&argument));
      DISPPARAMS params = {copy.Get(), nullptr, 1, 0};
      hr = script->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, result, nullptr, nullptr);
      if (FAILED(hr))
        AnalyticsLogError(L"calling JS '%s' failed, errorCode: %u.", kTrackEvent, GetLastError());
      else
        AnalyticsLogTrace(L"calling JS '%s' success", kTrackEvent);
    }
  } catch (...) {
    AnalyticsLogError(L"calling JS '%s' exception, errorCode: %u.", kTrackEvent, GetLastError());
    hr = E_FAIL;
  }
  script.Reset();
  AnalyticsLogTrace(L"calling JS '%s' ends", kTrackEvent);
  return hr;
}

namespace {

// The control's container: client and in-place site, frame, host UI handler and the sink of the
// browser's events, which posts kPageLoadedMessage when a document completes.
class BrowserSite final : public IOleClientSite,
                    public IOleInPlaceSite,
                    public IOleInPlaceFrame,
                    public IDocHostUIHandler,
                    public IDispatch {
 public:
  BrowserSite(HWND window, IDispatch* external)
      : window_(window), external_(ComRef<IDispatch>::Share(external)) {}
  void Detach() {
    window_ = nullptr;
    external_.Reset();
  }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid == IID_IUnknown || iid == IID_IOleClientSite)
      *object = static_cast<IOleClientSite*>(this);
    else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite)
      *object = static_cast<IOleInPlaceSite*>(this);
    else if (iid == IID_IOleInPlaceFrame || iid == IID_IOleInPlaceUIWindow)
      *object = static_cast<IOleInPlaceFrame*>(this);
    else if (iid == IID_IDocHostUIHandler)
      *object = static_cast<IDocHostUIHandler*>(this);
    else if (iid == IID_IDispatch || iid == DIID_DWebBrowserEvents2)
      *object = static_cast<IDispatch*>(this);
    else
      return *object = nullptr, E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  // IOleClientSite
  HRESULT STDMETHODCALLTYPE SaveObject() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
    return *moniker = nullptr, E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override {
    return *container = nullptr, E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow (site and frame)
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override { return *window = window_, window_ ? S_OK : E_FAIL; }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                             LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    *document = nullptr;
    GetClientRect(window_, position);
    GetClientRect(window_, clip);
    info->fMDIApp = FALSE;
    info->hwndFrame = window_;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return S_OK; }

  // IOleInPlaceUIWindow and IOleInPlaceFrame: no tool space, no menus, no status line.
  HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  // IDocHostUIHandler
  HRESULT STDMETHODCALLTYPE ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetHostInfo(DOCHOSTUIINFO* info) override {
    info->dwFlags = kTrackerHostFlags;
    info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                                   IOleInPlaceUIWindow*) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE HideUI() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE UpdateUI() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, const GUID*, DWORD) override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE GetOptionKeyPath(LPOLESTR* key, DWORD) override { return *key = nullptr, E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDropTarget(IDropTarget*, IDropTarget**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetExternal(IDispatch** external) override {
    *external = external_.Get();
    if (!external_) return S_FALSE;
    external_->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE TranslateUrl(DWORD, LPWSTR, LPWSTR* translated) override {
    return *translated = nullptr, S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE FilterDataObject(IDataObject*, IDataObject** filtered) override {
    return *filtered = nullptr, S_FALSE;
  }

  // IDispatch: the browser's events
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return *count = 0, S_OK; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    if (id == DISPID_DOCUMENTCOMPLETE && window_) {
      AnalyticsLogTrace(L"OnDocumentComplete");
      PostMessageW(window_, kPageLoadedMessage, 0, 0);
    }
    return S_OK;
  }

 private:
  ULONG references_ = 1;
  HWND window_;
  ComRef<IDispatch> external_;
};

class TrackerHTMLDialog : public ScriptedTrackerPage {
 public:
  ~TrackerHTMLDialog() override { Close(); }

  bool Open(const std::wstring& url, bool alertingEnabled) override {
    if (!CreateHiddenWindow()) return false;
    site_.Reset(new BrowserSite(window_, External()));
    IOleClientSite* clientSite = static_cast<IOleClientSite*>(site_.Get());
    RECT client = {};
    GetClientRect(window_, &client);
    bool created =
        SUCCEEDED(CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                   object_.OutVoid())) &&
        SUCCEEDED(object_->SetClientSite(clientSite)) &&
        SUCCEEDED(object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, clientSite, 0, window_, &client)) &&
        SUCCEEDED(object_->QueryInterface(IID_IWebBrowser2, browser_.OutVoid()));
    if (!created) {
      Close();
      return false;
    }
    // Without alerting, script errors and dialogs of the page show nothing.
    if (!alertingEnabled) browser_->put_Silent(VARIANT_TRUE);
    {
      ComRef<IConnectionPointContainer> container;
      if (SUCCEEDED(browser_->QueryInterface(IID_IConnectionPointContainer, container.OutVoid())) &&
          SUCCEEDED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, eventsPoint_.Out())) &&
          FAILED(eventsPoint_->Advise(static_cast<IDispatch*>(site_.Get()), &eventsCookie_)))
        eventsPoint_.Reset();
    }
    Bstr address(url);
    Variant empty;
    HRESULT hr = browser_->Navigate(address.Get(), empty.Get(), empty.Get(), empty.Get(), empty.Get());
    if (FAILED(hr) || !eventsPoint_) {
      Close();
      return false;
    }
    return true;
  }

 protected:
  bool DocumentScript(IDispatch** script, HRESULT& hr) override {
    ComRef<IDispatch> document;
    ComRef<IHTMLDocument> html;
    if (!browser_ || FAILED(browser_->get_Document(document.Out())) || !document ||
        FAILED(document->QueryInterface(IID_IHTMLDocument, html.OutVoid())))
      return false;
    hr = html->get_Script(script);
    return true;
  }

 private:
  bool CreateHiddenWindow() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClass;
    if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    // The size of a 309 x 176 dialog-unit dialog in the system font; it is never shown.
    LONG units = GetDialogBaseUnits();
    int width = MulDiv(309, LOWORD(units), 4), height = MulDiv(176, HIWORD(units), 8);
    window_ = CreateWindowExW(0, kWindowClass, L"Dialog", WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, width, height,
                              nullptr, nullptr, instance, nullptr);
    return window_ != nullptr;
  }

  void Close() {
    if (eventsPoint_) {
      eventsPoint_->Unadvise(eventsCookie_);
      eventsPoint_.Reset();
    }
    if (browser_) browser_->Stop();
    browser_.Reset();
    if (object_) {
      object_->Close(OLECLOSE_NOSAVE);
      object_->SetClientSite(nullptr);
    }
    object_.Reset();
    if (site_) site_->Detach();
    site_.Reset();
    if (window_) DestroyWindow(window_);
    window_ = nullptr;
  }

  HWND window_ = nullptr;
  // Released by Close in a fixed order: events, browser, control, site.
  ComRef<BrowserSite> site_;
  ComRef<IOleObject> object_;
  ComRef<IWebBrowser2> browser_;
  ComRef<IConnectionPoint> eventsPoint_;
  DWORD eventsCookie_ = 0;
};

}  // namespace

std::unique_ptr<TrackerPage> MakeTrackerHTMLDialog() { return std::make_unique<TrackerHTMLDialog>(); }

}  // namespace myexternalmethods
