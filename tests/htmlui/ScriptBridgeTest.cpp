// The external object and the method object called the way the script engine calls them.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>

#include "core/ComRef.h"
#include "core/ComValue.h"
#include "core/FrameworkCore.h"
#include "htmlui/HtmlExternal.h"
#include "product/MyExternalMethods.h"
#include "support/TestSupport.h"

using namespace stubframework;
using core::HtmlExternal;

namespace {

struct Arguments {
  explicit Arguments(std::initializer_list<VARIANT> scriptOrder) : values(scriptOrder.size()) {
    size_t i = values.size();
    for (const VARIANT& value : scriptOrder) values[--i] = value;
    params = {values.data(), nullptr, static_cast<UINT>(values.size()), 0};
  }
  ~Arguments() {
    for (VARIANT& value : values)
      if (value.vt == VT_BSTR) SysFreeString(value.bstrVal);
  }
  Arguments(const Arguments&) = delete;
  Arguments& operator=(const Arguments&) = delete;
  std::vector<VARIANT> values;
  DISPPARAMS params;
};

// A real BSTR: the methods read its length prefix, which a plain literal does not have.
VARIANT Text(const wchar_t* text) {
  VARIANT v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(text);
  return v;
}

VARIANT Typed(VARTYPE type) {
  VARIANT v;
  VariantInit(&v);
  v.vt = type;
  return v;
}

class ScriptBridgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core_ = core::CreateFrameworkCore();
    ASSERT_NE(core_, nullptr);
    methods_ = new myexternalmethods::MyExternalMethods(core_);
    methods_->RegisterProductMethods();
    core::PrepareFrameworkRun(core_, methods_);
    external_ = core_->external;
  }
  void TearDown() override {
    core::ReleaseFrameworkCore(core_);
    delete methods_;
  }

  DISPID IdOf(const wchar_t* name, DWORD flags = 0) {
    utils::Bstr text(name);
    DISPID id = 0;
    external_->GetDispID(text.Get(), flags, &id);
    return id;
  }

  HRESULT Call(const wchar_t* name, WORD flags, DISPPARAMS* params, VARIANT* result) {
    return external_->Invoke(IdOf(name), IID_NULL, 0, flags, params, result, nullptr, nullptr);
  }

  std::string LogText() {
    return testsupport::ReadFileBytes(core_->log->FilePath());
  }

  core::FrameworkCore* core_ = nullptr;
  myexternalmethods::MyExternalMethods* methods_ = nullptr;
  HtmlExternal* external_ = nullptr;
};

}  // namespace

TEST_F(ScriptBridgeTest, InterfacesAndNameLookup) {
  utils::ComRef<IDispatchEx> dispatchEx;
  ASSERT_EQ(external_->QueryInterface(IID_IDispatchEx, dispatchEx.OutVoid()), S_OK);
  IUnknown* other = reinterpret_cast<IUnknown*>(1);
  EXPECT_EQ(external_->QueryInterface(IID_IStream, reinterpret_cast<void**>(&other)), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);

  EXPECT_EQ(external_->MethodCount(), 71);
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"getProperty"), const_cast<LPOLESTR>(L"GetProperty"),
                      const_cast<LPOLESTR>(L"setProperty")};
  DISPID ids[3] = {};
  EXPECT_EQ(external_->GetIDsOfNames(IID_NULL, names, 3, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], IdOf(L"getProperty"));
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);
  EXPECT_EQ(ids[2], IdOf(L"setProperty"));
  EXPECT_GT(ids[0], 0);
  // Expandos are not found through GetIDsOfNames.
  EXPECT_LT(IdOf(L"scriptValue", fdexNameEnsure), 0);
  LPOLESTR expando[] = {const_cast<LPOLESTR>(L"scriptValue")};
  EXPECT_EQ(external_->GetIDsOfNames(IID_NULL, expando, 1, 0, ids), DISP_E_UNKNOWNNAME);
  // fdexNameNoDynamicProperties hides them from GetDispID as well.
  DISPID id = 0;
  utils::Bstr name(L"scriptValue");
  EXPECT_EQ(external_->GetDispID(name.Get(), fdexNameNoDynamicProperties, &id), DISP_E_UNKNOWNNAME);
}

TEST_F(ScriptBridgeTest, InvokeRefusesForeignInterfacesAndOutOfRangeIds) {
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  IID other = IID_IDispatch;
  EXPECT_EQ(external_->Invoke(IdOf(L"getProperty"), other, 0, 3, &none, nullptr, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
  EXPECT_EQ(external_->Invoke(0, IID_NULL, 0, 1, &none, nullptr, nullptr, nullptr), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(external_->Invoke(72, IID_NULL, 0, 1, &none, nullptr, nullptr, nullptr), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(external_->InvokeEx(static_cast<DISPID>(0x80000005), 0, DISPATCH_PROPERTYGET, &none, nullptr,
                                nullptr, nullptr),
            DISP_E_UNKNOWNNAME);
}

TEST_F(ScriptBridgeTest, ExpandoLifecycle) {
  DISPID first = IdOf(L"value", fdexNameEnsure);
  ASSERT_LT(first, 0);
  VARIANT five = Typed(VT_I4);
  five.lVal = 5;
  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS put = {&five, &putId, 1, 1};
  EXPECT_EQ(external_->InvokeEx(first, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr), S_OK);
  DISPPARAMS putWithoutName = {&five, nullptr, 1, 0};
  EXPECT_EQ(external_->InvokeEx(first, 0, DISPATCH_PROPERTYPUT, &putWithoutName, nullptr, nullptr, nullptr),
            DISP_E_PARAMNOTFOUND);

  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  VARIANT read;
  VariantInit(&read);
  EXPECT_EQ(external_->InvokeEx(first, 0, DISPATCH_PROPERTYGET, &none, &read, nullptr, nullptr), S_OK);
  EXPECT_EQ(read.vt, VT_I4);
  EXPECT_EQ(read.lVal, 5);
  EXPECT_EQ(external_->InvokeEx(first, 0, DISPATCH_PROPERTYGET, &put, &read, nullptr, nullptr),
            DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(external_->InvokeEx(first, 0, 0, &none, nullptr, nullptr, nullptr), E_NOTIMPL);
  // A value that is not a function is "called" without effect.
  EXPECT_EQ(external_->InvokeEx(first, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), S_OK);

  EXPECT_EQ(external_->DeleteMemberByDispID(first), S_OK);
  EXPECT_EQ(external_->InvokeEx(first, 0, DISPATCH_PROPERTYGET, &none, &read, nullptr, nullptr),
            DISP_E_UNKNOWNNAME);
  EXPECT_EQ(IdOf(L"value"), DISPID_UNKNOWN);
  EXPECT_EQ(IdOf(L"VALUE", fdexNameEnsure | fdexNameCaseInsensitive), first);

  // Methods cannot be deleted; unknown names delete without complaint.
  EXPECT_EQ(external_->DeleteMemberByName(utils::Bstr(L"getProperty").Get(), 0), S_FALSE);
  EXPECT_EQ(external_->DeleteMemberByName(utils::Bstr(L"neverThere").Get(), 0), S_OK);

  // The array grows past its first 32 entries and keeps every slot.
  for (int i = 0; i < 40; ++i) {
    std::wstring name = L"grown" + std::to_wstring(i);
    EXPECT_EQ(IdOf(name.c_str(), fdexNameEnsure), static_cast<DISPID>(0x80000000 | ((first & 0xFFFF) + 1 + i)));
  }
}

TEST_F(ScriptBridgeTest, CallingConventionOfTheMethods) {
  utils::Variant result;
  Arguments good({Text(L"name"), Text(L"value")});
  EXPECT_EQ(Call(L"setProperty", DISPATCH_METHOD, &good.params, nullptr), S_OK);
  EXPECT_EQ(Call(L"setProperty", DISPATCH_METHOD | DISPATCH_PROPERTYGET, &good.params, nullptr),
            DISP_E_MEMBERNOTFOUND);

  Arguments number({Text(L"name"), Typed(VT_I4)});
  EXPECT_EQ(Call(L"setProperty", DISPATCH_METHOD, &number.params, nullptr), DISP_E_TYPEMISMATCH);
  const VARTYPE wrongTypes[] = {VT_R8, VT_NULL, VT_EMPTY, VT_BOOL, VT_DISPATCH, VT_BSTR | VT_BYREF};
  for (VARTYPE wrong : wrongTypes) {
    Arguments mismatch({Typed(wrong)});
    EXPECT_EQ(Call(L"getProperty", 3, &mismatch.params, result.Get()), DISP_E_TYPEMISMATCH) << wrong;
  }
  Arguments one({Text(L"x")});
  DISPID named = 7;
  DISPPARAMS withName = {one.values.data(), &named, 1, 1};
  EXPECT_EQ(Call(L"getProperty", 3, &withName, result.Get()), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(L"getProperty", 1, &one.params, result.Get()), DISP_E_MEMBERNOTFOUND);
  // No result slot: nothing to do, and success.
  EXPECT_EQ(Call(L"getProperty", 3, &one.params, nullptr), S_OK);
  Arguments url({Text(L"http://127.0.0.1:1/HalvernSetup.exe")});
  EXPECT_EQ(Call(L"isNeedSelfUpdate", 3, &url.params, nullptr), S_OK);
  EXPECT_EQ(LogText().find("EMIsNeedSelfUpdate"), std::string::npos);
  EXPECT_EQ(Call(L"getProperty", 3, &one.params, result.Get()), S_OK);
  EXPECT_EQ(result->vt, VT_BSTR);

  // Refused calls still leave the entry trace, and the type check says why.
  std::string log = LogText();
  size_t traces = 0;
  for (size_t at = log.find("DEBUG] EMSetProperty\r\n"); at != std::string::npos;
       at = log.find("DEBUG] EMSetProperty\r\n", at + 1))
    ++traces;
  EXPECT_EQ(traces, 3u) << log;
  EXPECT_NE(log.find("DEBUG] EMSetProperty value, name\r\n"), std::string::npos);
  EXPECT_NE(log.find("CheckParamTypes -- DISP_E_TYPEMISMATCH at 0: type 3, expected 8"), std::string::npos);
}

// Methods whose work throws, as an allocation deep inside one may.
class ThrowingMethods : public ExternalMethods {
 public:
  explicit ThrowingMethods(core::FrameworkCore* core) : ExternalMethods(core) {
    Register(L"outOfMemory", static_cast<ScriptMethod>(&ThrowingMethods::OutOfMemory));
    Register(L"failing", static_cast<ScriptMethod>(&ThrowingMethods::Failing));
    Register(L"throwingInt", static_cast<ScriptMethod>(&ThrowingMethods::ThrowingInt));
  }
  HRESULT OutOfMemory(WORD, DISPPARAMS*, VARIANT*) { throw std::bad_alloc(); }
  HRESULT Failing(WORD, DISPPARAMS*, VARIANT*) { throw std::runtime_error("failing"); }
  HRESULT ThrowingInt(WORD, DISPPARAMS*, VARIANT*) { throw 5; }
};

TEST_F(ScriptBridgeTest, AnExceptionOfAMethodStopsAtTheBridgeAsAnError) {
  ThrowingMethods throwing(core_);
  external_->SetMethods(&throwing);
  const struct {
    const wchar_t* name;
    HRESULT hr;
    const char* logged;
  } cases[] = {
      {L"outOfMemory", E_OUTOFMEMORY, "outOfMemory: exception: std::bad_alloc"},
      {L"failing", E_FAIL, "failing: exception: failing"},
      {L"throwingInt", E_FAIL, "throwingInt: exception"},
  };
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  for (const auto& c : cases) {
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(Call(c.name, DISPATCH_METHOD, &none, &result), c.hr);
    EXPECT_NE(LogText().find(c.logged), std::string::npos) << c.logged;
  }
  external_->SetMethods(methods_);
}

TEST_F(ScriptBridgeTest, ARegistrationMadeTwiceKeepsTheLaterMethodUnderTheSameName) {
  methods_->Register(L"getProperty", &ExternalMethods::SetPropertyMethod);
  ASSERT_EQ(methods_->Methods().size(), 71u);
  EXPECT_EQ(methods_->Methods().at(L"getProperty"), &ExternalMethods::SetPropertyMethod);
}

TEST_F(ScriptBridgeTest, ProgressValuesAndTheirSaturation) {
  EXPECT_EQ(external_->GetDownloadTotal(), 1);
  EXPECT_EQ(external_->GetInstallCurrent(), 0);
  external_->SetDownloadTotal(4000000000u);
  EXPECT_EQ(external_->GetProperty(L"downloadTotal"), L"4000000000");
  EXPECT_EQ(external_->GetDownloadTotal(), 2147483647);
  external_->SetProperty(L"downloadCurrent", L"abc");
  EXPECT_EQ(external_->GetDownloadCurrent(), 0);
  external_->SetProperty(L"installTotal", L"  -12x");
  EXPECT_EQ(external_->GetInstallTotal(), -12);

  // Extraction of 50 entries: before each entry, then once at the end.
  for (DWORD i = 0; i < 50; ++i) external_->OnProgress(i, 50);
  external_->OnProgress(50, 50);
  EXPECT_EQ(external_->GetInstallCurrent(), 5);
  EXPECT_EQ(external_->GetInstallTotal(), 50);
  external_->OnError(ERROR_DISK_FULL);
  EXPECT_EQ(external_->lastZipError, static_cast<DWORD>(ERROR_DISK_FULL));
}

TEST(PropertyStore, UnknownNamesAreCreatedEmptyAndListedInOrder) {
  htmlui::PropertyStore store;
  store.Set(L"b", L"2");
  EXPECT_EQ(store.Get(L"a"), L"");
  store.Set(L"B", L"upper");
  auto entries = store.Snapshot();
  ASSERT_EQ(entries.size(), 3u);
  auto it = entries.begin();
  EXPECT_EQ(it++->first, L"B");
  EXPECT_EQ(it->first, L"a");
  EXPECT_EQ(it++->second, L"");
  EXPECT_EQ(it->first, L"b");
}
