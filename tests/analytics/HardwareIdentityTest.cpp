// The hardware identifier: the description's joining rules, its digest, the network component's
// registry cache, and the whole identifier as Wine's WMI service answers.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "analytics/HardwareIdentity.h"
#include "core/ComValue.h"
#include "core/TextFormat.h"
#include "core/UniqueHandle.h"
#include "support/TestSupport.h"

namespace {

using namespace stubframework::analytics;
using stubframework::utils::WideToUtf8;

// A VARIANT for the table: text, or VT_NULL as WMI gives a property without a value.
struct Property {
  explicit Property(const wchar_t* text) {
    VARIANT* v = value.Get();
    if (text) {
      v->vt = VT_BSTR;
      v->bstrVal = SysAllocString(text);
    } else {
      v->vt = VT_NULL;
    }
  }
  stubframework::utils::Variant value;
};

TEST(HardwareIdentity, PiecesKeepOnlyStringPropertiesAndJoinWithoutMissingOrLongOnes) {
  struct PairCase {
    const wchar_t* first;
    const wchar_t* second;
    const wchar_t* expected;
  } pairs[] = {
      {L"Maker", L"Model", L"Maker|Model"},
      {L"Maker", nullptr, L"Maker"},
      {nullptr, L"SN1", L"|SN1"},
      {L"Maker", L"", L"Maker|"},
      {nullptr, nullptr, L""},
  };
  for (const PairCase& c : pairs) {
    Property first(c.first), second(c.second);
    EXPECT_EQ(PairText(*first.value, *second.value), c.expected) << WideToUtf8(c.expected);
  }

  const std::wstring long259(259, L'a'), long260(260, L'b');
  struct JoinCase {
    std::vector<std::wstring> pieces;
    bool ok;
    std::wstring expected;
  } joins[] = {
      {{L"M|X", L"B|1", L"F|2", L"001A2B3C4D5E"}, true, L"M|X|B|1|F|2|001A2B3C4D5E"},
      {{L"", L"B|1", L"F|2", L""}, true, L"|B|1|F|2"},
      {{L"M|X", L"", L"|2", L"001A"}, true, L"M|X||2|001A"},
      {{L"M|X", L"|Maker|", L"", L""}, true, L"M|X||Maker|"},
      {{long259, long260, L"F", L""}, true, long259 + L"|F"},
      {{L"", L"", L"", L""}, true, L""},
      {{long259, long259, long259, std::wstring(243, L'c')},
       true,
       long259 + L"|" + long259 + L"|" + long259 + L"|" + std::wstring(243, L'c')},
      {{long259, long259, long259, std::wstring(244, L'c')}, false, L"unchanged"},
  };
  for (const JoinCase& c : joins) {
    std::wstring description = L"unchanged";
    EXPECT_EQ(JoinHardwareDescription(c.pieces, description), c.ok) << WideToUtf8(c.expected);
    EXPECT_EQ(description, c.expected);
  }
}

TEST(HardwareIdentity, IdentifierIsV2AndTheUpperCaseMd5OfAsManyBytesAsUnits) {
  // md5sum of the texts on the Linux side; the last over the first 600 bytes of the 1200-byte
  // Shift-JIS form of 600 ideographs.
  struct Case {
    std::wstring description;
    UINT codePage;
    const wchar_t* expected;
  } cases[] = {
      {L"", CP_ACP, L"V2D41D8CD98F00B204E9800998ECF8427E"},
      {L"Maker|Model|Board|SN1|BiosCo|B1|001A2B3C4D5E", CP_ACP, L"V24B6CB12000A92E8CF49B080965A2F2C5"},
      {std::wstring(600, L'\x65E5'), 932, L"V27A4FE8234F9021EE10F7501D834FC242"},
  };
  for (const Case& c : cases) EXPECT_EQ(HardwareIdOf(c.description, c.codePage), c.expected) << c.codePage;
}

// Adapters as the scripted WMI service lists them, and how often it was asked.
class ScriptedAdapters : public INetworkAdapterQuery {
 public:
  std::vector<WmiAdapter> adapters;
  int queries = 0;
  bool Query(std::vector<WmiAdapter>& out) override {
    ++queries;
    out = adapters;
    return true;
  }
};

class NetworkComponentTest : public ::testing::Test {
 protected:
  void SetUp() override { testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kKey); }
  void TearDown() override { testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kKey); }
  static void Write(const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
    stubframework::utils::RegistryKey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Out(), nullptr), 0);
    RegSetValueExW(key.Get(), name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
  static std::wstring Read(const wchar_t* name) {
    std::wstring text;
    testsupport::ReadStringValue(HKEY_CURRENT_USER, kKey, name, text);
    return text;
  }
  static constexpr const wchar_t* kKey = L"Software\\HalvernTest\\Norb";
  ScriptedAdapters query_;
};

TEST_F(NetworkComponentTest, TheCachedComponentIsUsedWithoutAnyQuery) {
  query_.adapters = {{true, 1, true, 0, true, L"00:50:56:C0:00:01"}};
  struct Case {
    std::wstring text;
    DWORD type;
    std::wstring expected;
  } cases[] = {{L"001A2B3C4D5E", REG_SZ, L"001A2B3C4D5E"},
               {L"%HALVERN_TEST_MAC%", REG_EXPAND_SZ, L"0A0B0C0D0E0F"}};
  SetEnvironmentVariableW(L"HALVERN_TEST_MAC", L"0A0B0C0D0E0F");
  for (const Case& c : cases) {
    Write(L"HFNCv2", c.text, c.type);
    std::wstring component;
    EXPECT_TRUE(NetworkComponent(kKey, query_, component));
    EXPECT_EQ(component, c.expected);
  }
  EXPECT_EQ(query_.queries, 0);
}

TEST_F(NetworkComponentTest, TheSmallestIndexIsChosenAndRememberedWithAndWithoutItsAddress) {
  query_.adapters = {
      {false, 0, false, 0, true, L"00:00:00:00:00:01"},  // no integer Index
      {true, 9, true, 0, true, L"00:50:56:C0:00:01"},
      {true, 7, true, 22, false, L""},                  // disabled: its remembered address
      {true, 3, true, 0, false, L""},                   // no address at all
  };
  Write(L"7", L"00:1A:2B:3C:4D:5E");
  std::wstring component;
  ASSERT_TRUE(NetworkComponent(kKey, query_, component));
  EXPECT_EQ(component, L"001A2B3C4D5E");
  EXPECT_EQ(Read(L"HFNCv2"), L"001A2B3C4D5E");
  EXPECT_EQ(Read(L"7"), L"001A2B3C4D5E");
  EXPECT_EQ(query_.queries, 1);
  ASSERT_TRUE(NetworkComponent(kKey, query_, component));
  EXPECT_EQ(query_.queries, 1);

  testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kKey);
  query_.adapters = {{true, 7, true, 22, false, L""}};
  EXPECT_FALSE(NetworkComponent(kKey, query_, component)) << "nothing to remember";
}

TEST(HardwareIdentity, GetHardwareIdAnswersFromWineWithItsCapacityRule) {
  const std::wstring realKey = kNetworkComponentKey;
  std::wstring before;
  bool cached = testsupport::ReadStringValue(HKEY_CURRENT_USER, realKey, L"HFNCv2", before);
  HRESULT com = CoInitialize(nullptr);
  std::wstring description;
  EXPECT_TRUE(DescribeHardware(description));
  EXPECT_FALSE(description.empty()) << "Wine names at least its computer system";
  wchar_t buffer[1024] = {};
  int32_t capacity = 34;
  EXPECT_FALSE(GetHardwareId(buffer, capacity));
  EXPECT_EQ(capacity, 34);
  EXPECT_EQ(buffer[0], L'\0');
  capacity = 1024;
  ASSERT_TRUE(GetHardwareId(buffer, capacity));
  EXPECT_EQ(capacity, 34);
  EXPECT_EQ(std::wstring(buffer), HardwareIdOf(description, CP_THREAD_ACP));
  if (SUCCEEDED(com)) CoUninitialize();
  if (!cached) testsupport::DeleteKeyTree(HKEY_CURRENT_USER, realKey);
}

}  // namespace
