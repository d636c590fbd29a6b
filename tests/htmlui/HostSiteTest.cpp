// The document's host site, called the way the HTML engine calls it. Wine has no HTML engine, so
// document creation fails here; readiness is driven through a small document of the test's own.
#include <gtest/gtest.h>

#include <mshtmhst.h>
#include <mshtmdid.h>
#include <olectl.h>

#include "core/ComRef.h"
#include "core/ComValue.h"
#include "core/FrameworkCore.h"
#include "core/MainWindow.h"
#include "htmlui/HtmlExternal.h"
#include "htmlui/MSHTMLClient.h"

using namespace stubframework;

namespace {

// Answers DISPID_READYSTATE with the state it is given.
class ReadyStateDocument : public IDispatch {
 public:
  LONG state = READYSTATE_LOADING;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
      *object = this;
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result,
                                   EXCEPINFO*, UINT*) override {
    if (id != DISPID_READYSTATE || flags != DISPATCH_PROPERTYGET) return DISP_E_MEMBERNOTFOUND;
    result->vt = VT_I4;
    result->lVal = state;
    return S_OK;
  }
  LONG references = 1;
};

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(window, message, wParam, lParam);
}

class HostSiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    core_ = core::CreateFrameworkCore();
    ASSERT_NE(core_, nullptr);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = PlainWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"HostSiteTestWindow";
    RegisterClassW(&windowClass);
    window_ = CreateWindowExW(0, L"HostSiteTestWindow", L"", WS_POPUP | WS_VISIBLE, 0, 0, 0, 0, nullptr,
                              nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(window_, nullptr);
    core_->external->SetWindow(window_);
    site_.Reset(new htmlui::MSHTMLClient(window_, core_->external));
  }
  void TearDown() override {
    site_.Reset();
    core_->external->SetWindow(nullptr);
    DestroyWindow(window_);
    core::ReleaseFrameworkCore(core_);
    CoUninitialize();
  }

  core::FrameworkCore* core_ = nullptr;
  HWND window_ = nullptr;
  utils::ComRef<htmlui::MSHTMLClient> site_;
};

}  // namespace

TEST_F(HostSiteTest, HandsOutItsInterfacesButNeitherHyperlinkFrameNorServices) {
  const IID* offered[] = {&IID_IUnknown, &IID_IDispatch, &IID_IDocHostUIHandler, &IID_IDocHostUIHandler2,
                          &IID_IDocHostShowUI, &IID_IOleClientSite, &IID_IOleDocumentSite, &IID_IOleWindow,
                          &IID_IOleInPlaceSite, &IID_IOleInPlaceSiteEx, &IID_IOleInPlaceUIWindow,
                          &IID_IOleInPlaceFrame, &IID_IPropertyNotifySink, &IID_IOleCommandTarget};
  for (const IID* iid : offered) {
    utils::ComRef<IUnknown> object;
    ASSERT_EQ(site_->QueryInterface(*iid, object.OutVoid()), S_OK);
  }
  const IID refused[] = {IID_IServiceProvider, IID_IOleInPlaceSiteWindowless, IID_IStream,
                         {0xfc4801a5, 0x2ba9, 0x11cf, {0xa2, 0x29, 0x00, 0xaa, 0x00, 0x3d, 0x73, 0x52}}};
  for (const IID& iid : refused) {
    IUnknown* object = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(site_->QueryInterface(iid, reinterpret_cast<void**>(&object)), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
  }
}

TEST_F(HostSiteTest, UiBehaviourAnswers) {
  DOCHOSTUIINFO info = {};
  info.cbSize = sizeof(info);
  ASSERT_EQ(site_->GetHostInfo(&info), S_OK);
  EXPECT_EQ(info.dwFlags, 0x40250003u);
  EXPECT_EQ(info.dwDoubleClick, 0u);
  EXPECT_EQ(info.pchHostCss, nullptr);

  for (DWORD id : {2u, 4u, 9u, 10u}) EXPECT_EQ(site_->ShowContextMenu(id, nullptr, nullptr, nullptr), S_FALSE);
  for (DWORD id : {0u, 1u, 3u, 5u, 6u, 7u, 8u, 11u}) EXPECT_EQ(site_->ShowContextMenu(id, nullptr, nullptr, nullptr), S_OK);

  LRESULT boxResult = 12345;
  EXPECT_EQ(site_->ShowMessage(window_, const_cast<LPOLESTR>(L"alert"), nullptr, MB_OK, nullptr, 0, &boxResult), S_OK);
  EXPECT_EQ(boxResult, 12345);

  VARIANT ambient;
  VariantInit(&ambient);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  ASSERT_EQ(static_cast<IDispatch*>(site_.Get())->Invoke(DISPID_AMBIENT_DLCONTROL, IID_NULL, 0, DISPATCH_PROPERTYGET,
                                                   &none, &ambient, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(ambient.vt, VT_I4);
  EXPECT_EQ(ambient.lVal, 8304);
  EXPECT_EQ(static_cast<IDispatch*>(site_.Get())->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, 0, DISPATCH_PROPERTYGET,
                                                   &none, &ambient, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);

  LPOLESTR key = reinterpret_cast<LPOLESTR>(1);
  EXPECT_EQ(site_->GetOptionKeyPath(&key, 0), S_FALSE);
  EXPECT_EQ(key, nullptr);
  LPWSTR translated = reinterpret_cast<LPWSTR>(1);
  EXPECT_EQ(site_->TranslateUrl(0, const_cast<LPWSTR>(L"x"), &translated), S_FALSE);
  EXPECT_EQ(translated, nullptr);
  EXPECT_EQ(site_->GetDropTarget(nullptr, nullptr), E_FAIL);
  EXPECT_EQ(site_->ShowUI(0, nullptr, nullptr, nullptr, nullptr), S_FALSE);
  BOOL noRedraw = FALSE;
  EXPECT_EQ(site_->OnInPlaceActivateEx(&noRedraw, 0), S_OK);
  EXPECT_TRUE(noRedraw);
  IOleContainer* container = reinterpret_cast<IOleContainer*>(1);
  EXPECT_EQ(site_->GetContainer(&container), E_NOINTERFACE);
  EXPECT_EQ(container, nullptr);
}

TEST_F(HostSiteTest, WindowContextDescribesTheMainWindow) {
  SetWindowPos(window_, nullptr, 0, 0, 300, 200, SWP_NOZORDER | SWP_NOMOVE);
  utils::ComRef<IOleInPlaceFrame> frame;
  IOleInPlaceUIWindow* uiWindow = reinterpret_cast<IOleInPlaceUIWindow*>(1);
  RECT position = {}, clip = {};
  OLEINPLACEFRAMEINFO frameInfo = {};
  frameInfo.cb = sizeof(frameInfo);
  ASSERT_EQ(site_->GetWindowContext(frame.Out(), &uiWindow, &position, &clip, &frameInfo), S_OK);
  ASSERT_TRUE(frame);
  EXPECT_EQ(uiWindow, nullptr);
  EXPECT_EQ(position.right, 300);
  EXPECT_EQ(clip.bottom, 200);
  EXPECT_EQ(frameInfo.hwndFrame, window_);
  EXPECT_FALSE(frameInfo.fMDIApp);
  HWND reported = nullptr;
  EXPECT_EQ(static_cast<IOleInPlaceSiteEx*>(site_.Get())->GetWindow(&reported), S_OK);
  EXPECT_EQ(reported, window_);
}

TEST_F(HostSiteTest, CommandsSetTheTitleAndSwallowScriptErrorReports) {
  utils::Variant title;
  title.Get()->vt = VT_BSTR;
  title.Get()->bstrVal = SysAllocString(L"Halvern Setup");
  EXPECT_EQ(site_->Exec(nullptr, OLECMDID_SETTITLE, 0, title.Get(), nullptr), S_OK);
  wchar_t text[64] = {};
  GetWindowTextW(window_, text, 64);
  EXPECT_STREQ(text, L"Halvern Setup");
  VARIANT number;
  number.vt = VT_I4;
  number.lVal = 1;
  EXPECT_EQ(site_->Exec(nullptr, OLECMDID_SETTITLE, 0, &number, nullptr), S_OK);
  EXPECT_EQ(site_->Exec(nullptr, OLECMDID_PRINT, 0, nullptr, nullptr), E_NOTIMPL);

  EXPECT_EQ(site_->Exec(&CGID_DocHostCommandHandler, 6041, 0, nullptr, nullptr), S_OK);
  EXPECT_EQ(site_->Exec(&CGID_DocHostCommandHandler, 6, 0, nullptr, nullptr), S_OK);
  EXPECT_EQ(site_->Exec(&CGID_DocHostCommandHandler, 40, 0, nullptr, nullptr), OLECMDERR_E_NOTSUPPORTED);
  EXPECT_EQ(site_->Exec(&IID_IStream, 6041, 0, nullptr, nullptr), OLECMDERR_E_UNKNOWNGROUP);
  EXPECT_EQ(site_->QueryStatus(nullptr, 0, nullptr, nullptr), E_NOTIMPL);
}

TEST_F(HostSiteTest, GetExternalUntilDetached) {
  {
    utils::ComRef<IDispatch> external;
    ASSERT_EQ(site_->GetExternal(external.Out()), S_OK);
    EXPECT_EQ(external.Get(), static_cast<IDispatch*>(core_->external));
  }
  site_->Detach();
  IDispatch* detached = reinterpret_cast<IDispatch*>(1);
  EXPECT_EQ(site_->GetExternal(&detached), S_FALSE);
  EXPECT_EQ(detached, nullptr);
}

TEST_F(HostSiteTest, ReadyStateCompleteGivesAnUnsizedWindowItsDefaultSize) {
  ReadyStateDocument document;
  site_->UseDocument(&document);
  EXPECT_EQ(site_->OnChanged(DISPID_READYSTATE), S_OK);
  RECT client = {};
  GetClientRect(window_, &client);
  EXPECT_EQ(client.right, 0);

  document.state = READYSTATE_COMPLETE;
  EXPECT_EQ(site_->OnChanged(DISPID_UNKNOWN), S_OK);
  GetClientRect(window_, &client);
  EXPECT_EQ(client.right, 0);
  EXPECT_EQ(site_->OnChanged(DISPID_READYSTATE), S_OK);
  GetClientRect(window_, &client);
  HDC screen = GetDC(nullptr);
  int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  EXPECT_EQ(client.right, 400 * dpi / 96);
  EXPECT_EQ(client.bottom, 200 * dpi / 96);

  // A page that sized itself keeps its size.
  core::ResizeWindow(core_->external, 300, 150);
  EXPECT_EQ(site_->OnChanged(DISPID_READYSTATE), S_OK);
  GetClientRect(window_, &client);
  EXPECT_EQ(client.right, 300 * dpi / 96);
  site_->CloseDocument();
  EXPECT_EQ(document.references, 1);
}

TEST_F(HostSiteTest, WithoutAnHtmlEngineDocumentCreationFails) {
  EXPECT_FALSE(site_->CreateDocument());
  EXPECT_EQ(site_->Document(), nullptr);
  EXPECT_FALSE(site_->LoadPage(L"C:\\nowhere\\Load.html"));
}
