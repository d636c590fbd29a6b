#include <initguid.h>  // defines the document and command-group GUIDs used here

#include "htmlui/MSHTMLClient.h"

#include <mshtml.h>
#include <mshtmdid.h>
#include <urlmon.h>

#include "core/ComValue.h"
#include "htmlui/HtmlExternal.h"

namespace stubframework::htmlui {
namespace {

constexpr DWORD kHostFlags = DOCHOSTUIFLAG_DIALOG | DOCHOSTUIFLAG_DISABLE_HELP_MENU |
                             DOCHOSTUIFLAG_ENABLE_INPLACE_NAVIGATION | DOCHOSTUIFLAG_THEME |
                             DOCHOSTUIFLAG_NO3DOUTERBORDER | DOCHOSTUIFLAG_DPI_AWARE;
constexpr LONG kDownloadControl = DLCTL_DLIMAGES | DLCTL_VIDEOS | DLCTL_BGSOUNDS | DLCTL_RESYNCHRONIZE;

// Context menus the document may show itself: controls, text selections, debug, scroll bars.
bool DocumentShowsMenu(DWORD id) {
  return id == 2 || id == 4 || id == 9 || id == 10;
}

}  // namespace

MSHTMLClient::MSHTMLClient(HWND window, core::HtmlExternal* external)
    : window_(window), external_(external) {}

MSHTMLClient::~MSHTMLClient() { CloseDocument(); }

bool MSHTMLClient::CreateDocument() {
  utils::ComRef<IHTMLDocument2> created;
  if (FAILED(CoCreateInstance(CLSID_HTMLDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IHTMLDocument2,
                              created.OutVoid())))
    return false;
  CloseDocument();
  document_.Reset(created.Detach());
  return ConnectDocument();
}

bool MSHTMLClient::ConnectDocument() {
  {
    utils::ComRef<IConnectionPointContainer> container;
    if (FAILED(document_->QueryInterface(IID_IConnectionPointContainer, container.OutVoid()))) return false;
    utils::ComRef<IConnectionPoint> point;
    if (FAILED(container->FindConnectionPoint(IID_IPropertyNotifySink, point.Out()))) return false;
    if (FAILED(point->Advise(static_cast<IDispatch*>(this), &adviseCookie_))) return false;
  }
  utils::ComRef<IOleObject> object;
  if (FAILED(document_->QueryInterface(IID_IOleObject, object.OutVoid()))) return false;
  HRESULT hr = object->SetClientSite(static_cast<IOleClientSite*>(this));
  if (SUCCEEDED(hr)) {
    RECT client = {};
    GetClientRect(window_, &client);
    hr = object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(this), 0,
                        window_, &client);
  }
  return SUCCEEDED(hr);
}

bool MSHTMLClient::LoadPage(const wchar_t* path) {
  if (!document_ || !path) return false;
  utils::ComRef<IMoniker> moniker;
  if (FAILED(CreateURLMonikerEx(nullptr, path, moniker.Out(), URL_MK_UNIFORM))) return false;
  utils::ComRef<IBindCtx> context;
  utils::ComRef<IPersistMoniker> persist;
  return SUCCEEDED(CreateBindCtx(0, context.Out())) &&
         SUCCEEDED(document_->QueryInterface(IID_IPersistMoniker, persist.OutVoid())) &&
         SUCCEEDED(persist->Load(FALSE, moniker.Get(), context.Get(), 0));
}

void MSHTMLClient::UseDocument(IDispatch* document) {
  CloseDocument();
  document_ = utils::ComRef<IDispatch>::Share(document);
}

void MSHTMLClient::ResizeDocument() {
  RECT client = {};
  GetClientRect(window_, &client);
  if (view_) {
    view_->SetRect(&client);
    return;
  }
  utils::ComRef<IOleInPlaceObject> object;
  if (document_ && SUCCEEDED(document_->QueryInterface(IID_IOleInPlaceObject, object.OutVoid())))
    object->SetObjectRects(&client, &client);
}

void MSHTMLClient::CloseDocument() {
  if (view_) {
    view_->CloseView(0);
    view_.Reset();
  }
  if (adviseCookie_ && document_) {
    utils::ComRef<IConnectionPointContainer> container;
    utils::ComRef<IConnectionPoint> point;
    if (SUCCEEDED(document_->QueryInterface(IID_IConnectionPointContainer, container.OutVoid())) &&
        SUCCEEDED(container->FindConnectionPoint(IID_IPropertyNotifySink, point.Out())))
      point->Unadvise(adviseCookie_);
  }
  adviseCookie_ = 0;
  if (document_) {
    {
      utils::ComRef<IOleObject> object;
      if (SUCCEEDED(document_->QueryInterface(IID_IOleObject, object.OutVoid()))) object->SetClientSite(nullptr);
    }
    document_.Reset();
  }
}

void MSHTMLClient::Detach() {
  window_ = nullptr;
  external_ = nullptr;
}

HRESULT STDMETHODCALLTYPE MSHTMLClient::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (riid == IID_IUnknown || riid == IID_IDispatch)
    *object = static_cast<IDispatch*>(this);
  else if (riid == IID_IDocHostUIHandler || riid == IID_IDocHostUIHandler2)
    *object = static_cast<IDocHostUIHandler2*>(this);
  else if (riid == IID_IDocHostShowUI)
    *object = static_cast<IDocHostShowUI*>(this);
  else if (riid == IID_IOleClientSite)
    *object = static_cast<IOleClientSite*>(this);
  else if (riid == IID_IOleDocumentSite)
    *object = static_cast<IOleDocumentSite*>(this);
  else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite || riid == IID_IOleInPlaceSiteEx)
    *object = static_cast<IOleInPlaceSiteEx*>(this);
  else if (riid == IID_IOleInPlaceUIWindow || riid == IID_IOleInPlaceFrame)
    *object = static_cast<IOleInPlaceFrame*>(this);
  else if (riid == IID_IPropertyNotifySink)
    *object = static_cast<IPropertyNotifySink*>(this);
  else if (riid == IID_IOleCommandTarget)
    *object = static_cast<IOleCommandTarget*>(this);
  else
    return E_NOINTERFACE;  // hyperlinks and services stay with the document
  AddRef();
  return S_OK;
}

ULONG STDMETHODCALLTYPE MSHTMLClient::AddRef() { return ++refCount_; }

ULONG STDMETHODCALLTYPE MSHTMLClient::Release() {
  LONG count = --refCount_;
  if (count == 0) delete this;
  return count;
}

HRESULT STDMETHODCALLTYPE MSHTMLClient::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE MSHTMLClient::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE MSHTMLClient::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE MSHTMLClient::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result,
                                               EXCEPINFO*, UINT*) {
  if (id != DISPID_AMBIENT_DLCONTROL) return DISP_E_MEMBERNOTFOUND;
  if (result) {
    result->vt = VT_I4;
    result->lVal = kDownloadControl;
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE MSHTMLClient::ShowContextMenu(DWORD id, POINT*, IUnknown*, IDispatch*) {
  return DocumentShowsMenu(id) ? S_FALSE : S_OK;
}

HRESULT STDMETHODCALLTYPE MSHTMLClient::GetHostInfo(DOCHOSTUIINFO* info) {
  if (!info) return E_POINTER;
  info->dwFlags = kHostFlags;
  info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
  info->pchHostCss = nullptr;
  info->pchHostNS = nullptr;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE MSHTMLClient::ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*,
                                               IOleInPlaceFrame*, IOleInPlaceUIWindow*) {
  return S_FALSE;
}
HRESULT STDMETHODCALLTYPE MSHTMLClient::HideUI() { return S_OK; }
HRESULT STDMETHODCALLTYPE MSHTMLClient::UpdateUI() { return S_OK; }
HRESULT STDMETHODCALLTYPE MSHTMLClient::EnableModeless(BOOL) { return S_OK; }
HRESULT STDMETHODCALLTYPE MSHTMLClient::OnDocWindowActivate(BOOL) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE MSHTMLClient::OnFrameWindowActivate(BOOL) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE MSHTMLClient::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE MSHTMLClient::TranslateAccelerator(LPMSG, const GUID*, DWORD) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE MSHTMLClient::GetOptionKeyPath(LPOLESTR* key, DWORD) {
  if (key) *key = nullptr;
  return S_FALSE;
}

HRESULT STDMETHODCALLTYPE MSHTMLClient::GetOverrideKeyPath(LPOLESTR* key, DWORD) {
  if (key) *key = nullptr;
  return S_FALSE;
}

HRESULT STDMETHODCALLTYPE MSHTMLClient::GetDropTarget(IDropTarget*, IDropTarget**) { return E_FAIL; }

HRESULT STDMETHODCALLTYPE MSHTMLClient::GetExternal(IDispatch** external) {
  if (!external) return E_POINTER;
  if (!external_) {
    *external = nullptr;
    return S_FALSE;
  }
  *external = static_cast<IDispatch*>(external_);
  (*external)->AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE MSHTMLClient::TranslateUrl(DWORD, LPWSTR, LPWSTR* translated) {
  if (translated) *translated = nullptr;
  return S_FALSE;
}

HRESULT STDMETHODCALLTYPE MSHTMLClient::FilterDataObject(IDataObject*, IDataObject**) { return E_NOTIMPL; }

// Every box the document would show (script alerts included) is suppressed.
HRESULT STDMETHODCALLTYPE MSHTMLClient::ShowMessage(HWND, LPOLESTR, LPOLESTR, DWORD, LPOLESTR, DWORD,
                                                    LRESULT*) {
  return S_OK;
}
HRESULT STDMETHODCALLTYPE MSHTMLClient::ShowHelp(HWND, LPOLESTR, UINT, DWORD, POINT, IDispatch*) {
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE MSHTMLClient::SaveObject() { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE MSHTMLClient::GetMoniker(DWORD, DWORD, IMoniker**) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE MSHTMLClient::GetContainer(IOleContainer** container) {
  if (container) *container = nullptr;
  return E_NOINTERFACE;
}
HRESULT STDMETHODCALLTYPE MSHTMLClient::ShowObject() { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE MSHTMLClient::OnShowWindow(BOOL) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE MSHTMLClient::RequestNewObjectLayout() { return E_NOTIMPL; }

void MSHTMLClient::ActivateView(IOleDocumentView* view) {
  RECT client = {};
  GetClientRect(window_, &client);
  view->SetInPlaceSite(static_cast<IOleInPlaceSiteEx*>(this));
  view->SetRect(&client);
  view->UIActivate(TRUE);
  view->Show(TRUE);
  view_ = utils::ComRef<IOleDocumentView>::Share(view);
}

HRESULT STDMETHODCALLTYPE MSHTMLClient::ActivateMe(IOleDocumentView* view) {
  if (view) {
    ActivateView(view);
    return S_OK;
  }
  utils::ComRef<IOleDocument> document;
  utils::ComRef<IOleDocumentView> created;
  if (document_ && SUCCEEDED(document_->QueryInterface(IID_IOleDocument, document.OutVoid())) &&
      SUCCEEDED(document->CreateView(static_cast<IOleInPlaceSiteEx*>(this), nullptr, 0, created.Out())))
    ActivateView(created.Get());
  return S_OK;
}

HRESULT STDMETHODCALLTYPE MSHTMLClient::GetWindow(HWND* window) {
  if (!window) return E_POINTER;
  *window = window_;
  return S_OK;
}
HRESULT STDMETHODCALLTYPE MSHTMLClient::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE MSHTMLClient::CanInPlaceActivate() { return S_OK; }
HRESULT STDMETHODCALLTYPE MSHTMLClient::OnInPlaceActivate() { return S_OK; }
HRESULT STDMETHODCALLTYPE MSHTMLClient::OnUIActivate() { return S_OK; }

HRESULT STDMETHODCALLTYPE MSHTMLClient::GetWindowContext(IOleInPlaceFrame** frame,
                                                         IOleInPlaceUIWindow** document, LPRECT position,
                                                         LPRECT clip, LPOLEINPLACEFRAMEINFO frameInfo) {
  if (frame) {
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
  }
  if (document) *document = nullptr;
  RECT client = {};
  GetClientRect(window_, &client);
  if (position) *position = client;
  if (clip) *clip = client;
  if (frameInfo) {
    frameInfo->fMDIApp = FALSE;
    frameInfo->hwndFrame = window_;
    frameInfo->haccel = nullptr;
    frameInfo->cAccelEntries = 0;
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE MSHTMLClient::Scroll(SIZE) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE MSHTMLClient::OnUIDeactivate(BOOL) { return S_OK; }
HRESULT STDMETHODCALLTYPE MSHTMLClient::OnInPlaceDeactivate() { return S_OK; }
HRESULT STDMETHODCALLTYPE MSHTMLClient::DiscardUndoState() { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE MSHTMLClient::DeactivateAndUndo() { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE MSHTMLClient::OnPosRectChange(LPCRECT) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE MSHTMLClient::OnInPlaceActivateEx(BOOL* noRedraw, DWORD) {
  if (noRedraw) *noRedraw = TRUE;
  return S_OK;
}
HRESULT STDMETHODCALLTYPE MSHTMLClient::OnInPlaceDeactivateEx(BOOL) { return S_OK; }
HRESULT STDMETHODCALLTYPE MSHTMLClient::RequestUIActivate() { return S_OK; }

HRESULT STDMETHODCALLTYPE MSHTMLClient::GetBorder(LPRECT) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE MSHTMLClient::RequestBorderSpace(LPCBORDERWIDTHS) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE MSHTMLClient::SetBorderSpace(LPCBORDERWIDTHS) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE MSHTMLClient::SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) { return S_OK; }
HRESULT STDMETHODCALLTYPE MSHTMLClient::InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE MSHTMLClient::SetMenu(HMENU, HOLEMENU, HWND) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE MSHTMLClient::RemoveMenus(HMENU) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE MSHTMLClient::SetStatusText(LPCOLESTR) { return S_OK; }
HRESULT STDMETHODCALLTYPE MSHTMLClient::TranslateAccelerator(LPMSG, WORD) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE MSHTMLClient::OnChanged(DISPID id) {
  if (!external_ || id != DISPID_READYSTATE || !document_) return S_OK;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  utils::Variant state;
  HRESULT hr = document_->Invoke(DISPID_READYSTATE, GUID{}, LOCALE_SYSTEM_DEFAULT, DISPATCH_PROPERTYGET,
                                 &none, state.Get(), nullptr, nullptr);
  if (SUCCEEDED(hr) && state->vt == VT_I4 && state->lVal == READYSTATE_COMPLETE) external_->EnsureDefaultSize();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE MSHTMLClient::OnRequestEdit(DISPID) { return S_OK; }

HRESULT STDMETHODCALLTYPE MSHTMLClient::QueryStatus(const GUID*, ULONG, OLECMD*, OLECMDTEXT*) {
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE MSHTMLClient::Exec(const GUID* group, DWORD id, DWORD, VARIANT* in, VARIANT*) {
  if (group) {
    if (*group != CGID_DocHostCommandHandler) return OLECMDERR_E_UNKNOWNGROUP;
    // Script-error reports and similar: handled, nothing is shown.
    return id == 6041 || id == 6 ? S_OK : OLECMDERR_E_NOTSUPPORTED;
  }
  if (id != OLECMDID_SETTITLE) return E_NOTIMPL;
  if (in && in->vt == VT_BSTR && window_) SetWindowTextW(window_, in->bstrVal ? in->bstrVal : L"");
  return S_OK;
}

}  // namespace stubframework::htmlui
