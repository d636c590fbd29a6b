// The product layer's readers and prepareInstall: pure rules on tables, the product-information
// file and legacy value in the prefix's own places, language folders made at test time, and
// Halvern packages built by wixl installed into the test prefix and removed again.
#include <gtest/gtest.h>

#include <windows.h>
#include <msi.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "core/ComValue.h"
#include "core/FrameworkCore.h"
#include "core/UniqueHandle.h"
#include "core/WorkingFolders.h"
#include "product/MyExternalMethods.h"
#include "product/ProductDetection.h"
#include "support/TestCore.h"
#include "support/TestSupport.h"

using namespace myexternalmethods;

namespace {

std::string Utf16(const std::wstring& text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

}  // namespace

TEST(ProductInfoValue, MatchesTheKeyAsASubTextOfTheLoweredLine) {
  const std::wstring longValue(150, L'V');
  const struct {
    const wchar_t* key;
    std::wstring text;
    std::wstring value;
  } cases[] = {
      {L"xat", L"XAT=MixedCase\r\n", L"mixedcase"},
      {L"xat", L"vid=OnlyVid\r\n", L""},
      {L"vid", L"vid=OnlyVid\r\n", L"onlyvid"},
      {L"vid", L"xvid=Sub\r\nvid=later\r\n", L"sub"},
      {L"xat", L"other=1\r\nxat:Two\r\nxat=three\r\n", L"two"},
      {L"xat", L"xat=no line end", L"no line end"},
      {L"xat", L"xat=a\rb\r\n", L"a"},
      {L"xat", L"xat\r\n", L""},
      {L"xat", L"xat=\r\n", L""},
      {L"xat", L"xat", L""},
      {L"XAT", L"xat=upper key\r\n", L"upper key"},
      {L"", L"xat=1\r\n", L""},
      {L"xat", L"xat=" + longValue + L"\r\n", std::wstring(99, L'v')},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ProductInfoValueFromText(c.key, c.text), c.value) << testing::PrintToString(c.text);
}

TEST(VersionComparison, ComparesMajorMinorAndBuildAsDecimalFields) {
  const struct {
    const wchar_t* installed;
    const wchar_t* package;
    bool sameOrNewer;
  } cases[] = {
      {L"77.0.16479", L"77.0.16478.0", true}, {L"77.0.16478", L"77.0.16478.0", true},
      {L"77.0.16478.9", L"77.0.16479.0", false}, {L"76.5.1000", L"77.0.16478.0", false},
      {L"78", L"77.9.9", true},                {L"77.1", L"77.0.99999", true},
      {L"77.x.5", L"77.0.1", false},           {L"", L"0.0.0", true},
      {L"99999999999.0.0", L"2147483647.0.0", true}, {L"-1.0.0", L"0.0.0", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsSameOrNewerVersion(c.installed, c.package), c.sameOrNewer) << testing::PrintToString(c.installed)
                                                                            << " vs " << testing::PrintToString(c.package);
}

TEST(OsFacts, NameVersionAndBitsFollowTheRunningSystem) {
  const struct {
    DWORD major, minor, registryMajor;
    const wchar_t* build;
    const wchar_t* name;
  } cases[] = {
      {10, 0, 10, L"22000", L"Windows 11"}, {10, 0, 10, L"22631", L"Windows 11"},
      {10, 0, 10, L"21999", L"Windows 10"}, {10, 0, 0, L"22631", L"Windows 10"},
      {6, 3, 0, L"", L"Windows 8"},         {6, 2, 0, L"", L"Windows 8"},
      {6, 1, 0, L"", L"Windows 7"},         {6, 0, 0, L"", L"Other"},
      {5, 1, 0, L"", L"Other"},
  };
  for (const auto& c : cases) {
    auto atLeast = [&](DWORD major, DWORD minor) { return c.major > major || (c.major == major && c.minor >= minor); };
    EXPECT_EQ(OsDisplayNameFrom(atLeast, c.registryMajor, c.build), c.name) << c.major << "." << c.minor;
  }
  // The test prefix is set to Windows 10, whose builds lie below 22000.
  EXPECT_EQ(OsDisplayName(), L"Windows 10");
  EXPECT_TRUE(IsWindowsVersionOrGreater(10, 0));
  EXPECT_FALSE(IsWindowsVersionOrGreater(10, 1));
  EXPECT_EQ(OsVersionText().rfind(L"10.0.", 0), 0u) << testing::PrintToString(OsVersionText());
  EXPECT_EQ(OsBitsText(), sizeof(void*) == 8 ? L"64" : stubframework::core::DetectArchitecture());
}

TEST(InstalledFiles, TheFirstExistingLanguageFolderDecidesWithOrWithoutABackslash) {
  const struct {
    std::vector<const wchar_t*> files;  // relative to the location; a trailing backslash makes a folder
    bool backslash;
    const wchar_t* mui;
    const wchar_t* program;
  } cases[] = {
      {{L"de-DE\\", L"en-US\\", L"en-US\\halvern64.exe.mui"}, true, L"", L""},
      {{L"de-DE\\", L"de-DE\\halvern64.exe.mui", L"en-US\\"}, true, L"de-DE\\halvern64.exe.mui", L""},
      {{L"en-US\\", L"en-US\\halvern.exe.mui", L"en-US\\halvern64.exe.mui"}, false, L"en-US\\halvern.exe.mui", L""},
      {{L"zh-TW\\", L"zh-TW\\halvern32.exe.mui", L"halvern64.exe", L"halvern32.exe"}, false,
       L"zh-TW\\halvern32.exe.mui", L"halvern32.exe"},
      {{L"xx-XX\\", L"xx-XX\\halvern.exe.mui", L"halvern64.exe"}, true, L"", L"halvern64.exe"},
  };
  for (const auto& c : cases) {
    testsupport::ScratchFolder location;
    for (const wchar_t* file : c.files) {
      std::wstring path = location.File(file);
      if (path.back() == L'\\')
        ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
      else
        ASSERT_TRUE(testsupport::WriteFileBytes(path, "x"));
    }
    std::wstring given = location.Path();
    if (!c.backslash) given.pop_back();
    std::wstring mui = FindMuiInLocation(given);
    EXPECT_EQ(mui, *c.mui ? location.File(c.mui) : L"") << testing::PrintToString(c.files);
    std::wstring program;
    EXPECT_EQ(FindProgramInLocation(given, program), *c.program != 0);
    EXPECT_EQ(program, *c.program ? location.File(c.program) : L"") << testing::PrintToString(c.files);
  }
  std::wstring program;
  EXPECT_FALSE(FindProgramInLocation(L"", program));
  EXPECT_EQ(FindMuiInLocation(L""), L"");
}

namespace {

const wchar_t kLegacySubkey[] = L"SOFTWARE\\Quorvane\\Halvern";

std::wstring ProductInfoFolder() {
  wchar_t appData[MAX_PATH] = {};
  SHGetSpecialFolderPathW(nullptr, appData, CSIDL_COMMON_APPDATA, FALSE);
  return std::wstring(appData) + L"\\Halvern\\";
}

// Writes the legacy value in one view (or removes the key from both when value is null).
void SetLegacyValue(const wchar_t* value, REGSAM view) {
  testsupport::DeleteKeyTree(HKEY_LOCAL_MACHINE, kLegacySubkey);
  if (!value) return;
  stubframework::utils::RegistryKey key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kLegacySubkey, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, key.Out(),
                            nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(key.Get(), L"x-at", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                 static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
}

void SetProductInfoFile(const std::string* bytes) {
  std::wstring folder = ProductInfoFolder();
  DeleteFileW((folder + L"HVPRODINFO.DAT").c_str());
  RemoveDirectoryW(folder.c_str());
  if (!bytes) return;
  CreateDirectoryW(folder.c_str(), nullptr);
  ASSERT_TRUE(testsupport::WriteFileBytes(folder + L"HVPRODINFO.DAT", *bytes));
}

}  // namespace

TEST(ProductInfoVid, FileKeysComeFirstThenTheLegacyValueInEitherView) {
  const std::wstring longRegistry(3000, L'R');
  const std::string bom = "\xFF\xFE";
  const struct {
    bool file;
    std::string bytes;
    const wchar_t* legacy;
    REGSAM view;
    std::wstring vid;
  } cases[] = {
      {true, Utf16(L"XAT=MixedCase\r\nvid=second\r\n"), L"Registry", KEY_WOW64_32KEY, L"mixedcase"},
      {true, bom + Utf16(L"other=1\r\nvid=OnlyVid\r\n"), L"Registry", KEY_WOW64_32KEY, L"onlyvid"},
      {true, Utf16(L"nothing=here\r\n"), L"Kept-Case", KEY_WOW64_32KEY, L"Kept-Case"},
      {false, "", L"Kept-Case", KEY_WOW64_32KEY, L"Kept-Case"},
      {false, "", L"From-64-View", KEY_WOW64_64KEY, L"From-64-View"},
      {true, Utf16(L"xat=" + std::wstring(150, L'f') + L"\r\n"), nullptr, 0, std::wstring(99, L'f')},
      {false, "", longRegistry.c_str(), KEY_WOW64_32KEY, std::wstring(99, L'R')},
      {false, "", nullptr, 0, L""},
  };
  for (const auto& c : cases) {
    SetProductInfoFile(c.file ? &c.bytes : nullptr);
    SetLegacyValue(c.legacy, c.view);
    EXPECT_EQ(ReadProductInfoVid(), c.vid) << testing::PrintToString(c.bytes);
  }
  SetProductInfoFile(nullptr);
  SetLegacyValue(nullptr, 0);
  EXPECT_EQ(ReadProductInfoValue(L"xat", ProductInfoFolder() + L"HVPRODINFO.DAT"), L"");
}

namespace {

std::wstring Fixture(const std::wstring& name) {
  std::wstring folder = testsupport::EnvironmentFolder(L"HALVERN_METHOD_FIXTURES");
  return folder.empty() ? folder : folder + name;
}

// A core with what the product methods use, and installs of the product packages that are
// removed again whatever the test's outcome.
class PrepareInstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Fixture(L"").empty()) << "HALVERN_METHOD_FIXTURES is not set";
    methods_->SetupProductLayer();
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  }
  void TearDown() override {
    for (const std::wstring& package : installed_)
      MsiInstallProductW(package.c_str(), L"REMOVE=ALL");
  }
  void Install(const wchar_t* name) {
    std::wstring package = Fixture(name);
    ASSERT_EQ(MsiInstallProductW(package.c_str(), L""), ERROR_SUCCESS) << name;
    installed_.push_back(package);
  }
  void Uninstall() {
    ASSERT_EQ(MsiInstallProductW(installed_.back().c_str(), L"REMOVE=ALL"), ERROR_SUCCESS);
    installed_.pop_back();
  }
  HRESULT Call(VARIANT argument, VARIANT* result) {
    DISPPARAMS params = {&argument, nullptr, 1, 0};
    return methods_->PrepareInstall(DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params, result);
  }
  int Prepare(const std::wstring& path) {
    for (const wchar_t* name : {L"version", L"pid", L"vid", L"startProgram"}) parameters_.properties.Set(name, L"-");
    stubframework::utils::Variant argument;
    argument.Get()->vt = VT_BSTR;
    argument.Get()->bstrVal = SysAllocString(path.c_str());
    VARIANT result;
    result.vt = VT_EMPTY;
    EXPECT_EQ(Call(*argument, &result), S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    return result.lVal;
  }
  std::wstring Property(const wchar_t* name) { return core_.external->GetProperty(name); }
  std::string Log() { return testsupport::ReadFileBytes(core_.log->FilePath()); }

  testsupport::TestCore test_{[](stubframework::core::FrameworkCore* core) { return new MyExternalMethods(core); }};
  stubframework::core::StubParameters& parameters_ = test_.parameters;
  stubframework::core::FrameworkCore& core_ = test_.core;
  MyExternalMethods* methods_ = static_cast<MyExternalMethods*>(test_.methods);
  std::vector<std::wstring> installed_;
};

}  // namespace

TEST_F(PrepareInstallTest, ComparesThePackageWithTheInstalledProductOfEitherUpgradeCode) {
  const std::wstring package = Fixture(L"product-package.msi");
  MsiInfo info;
  ASSERT_EQ(GetMsiInfo(package, info), 0u);
  EXPECT_EQ(info.upgradeCode, L"{B3E4D5F6-1A2B-4C3D-9E8F-0A1B2C3D4EA2}");
  EXPECT_EQ(info.version + L"|" + info.pid + L"|" + info.vid, L"77.0.16478|pkg-pid-77|Pkg-Vid-77");

  // Nothing installed: the package's own facts.
  EXPECT_EQ(Prepare(package), 0);
  EXPECT_EQ(Property(L"version") + L"|" + Property(L"pid") + L"|" + Property(L"vid") + L"|" + Property(L"startProgram"),
            L"77.0.16478.0|pkg-pid-77|Pkg-Vid-77|-");

  // 77.0.16479 under the first upgrade code: its resource strings and its program.
  Install(L"product-installed.msi");
  EXPECT_EQ(Prepare(package), 1);
  EXPECT_EQ(Property(L"version") + L"|" + Property(L"pid") + L"|" + Property(L"vid"),
            L"77.0.16479.7|hv-pid-0042|Vid-From-Mui");
  std::wstring program = Property(L"startProgram");
  EXPECT_NE(program.find(L"\\HalvernDetectioninstalled\\halvern64.exe"), std::wstring::npos)
      << testing::PrintToString(program);
  EXPECT_EQ(program.find(L"\\\\"), std::wstring::npos) << testing::PrintToString(program);
  EXPECT_TRUE(testsupport::PathExists(program));
  EXPECT_EQ(methods_->trackingProperties->msiBuildNumber, L"77.0.16479.7");
  std::string log = Log();
  for (const char* line : {"EMSetProperty 77.0.16479.7, version\r\n", "Set Halvern product version : 77.0.16479.7\r\n",
                           "Newer Halvern has been installed: product version : 77.0.16479\r\n",
                           "is Halvern newer installed 1\r\n", "Set Halvern vid : Vid-From-Mui\r\n"})
    EXPECT_NE(log.find(line), std::string::npos) << line;
  Uninstall();

  // 76.5.1000 under the second upgrade code: older, so the package's facts again.
  Install(L"product-older.msi");
  EXPECT_EQ(Prepare(package), 0);
  EXPECT_EQ(Property(L"version") + L"|" + Property(L"pid") + L"|" + Property(L"vid") + L"|" + Property(L"startProgram"),
            L"77.0.16478.0|pkg-pid-77|Pkg-Vid-77|-");
  EXPECT_EQ(methods_->trackingProperties->msiBuildNumber, L"77.0.16478.0");
}

TEST_F(PrepareInstallTest, AnUnreadablePackageGivesTwoAndANonStringIsRefused) {
  // The package as wixl built it, signed by nobody: Windows Installer never opens it.
  for (const std::wstring& path : {Fixture(L"product-package-unsigned.msi"), Fixture(L"plain.txt"),
                                   Fixture(L"missing.msi"), std::wstring(L"\\\\.\\COM1"), std::wstring(L"#1"),
                                   std::wstring()}) {
    EXPECT_EQ(Prepare(path), 2) << testing::PrintToString(path);
    for (const wchar_t* name : {L"version", L"pid", L"vid", L"startProgram"}) EXPECT_EQ(Property(name), L"-") << name;
  }
  EXPECT_NE(Log().find("Prepare Install error: GetMsiInfo fail error code : "), std::string::npos);
  EXPECT_NE(Log().find("product-package-unsigned.msi refused: its signature is not intact and trusted"), std::string::npos);
  EXPECT_NE(Log().find(", GetMsiInfo fail, Result 2\r\n"), std::string::npos);

  VARIANT number;
  number.vt = VT_I4;
  number.lVal = 5;
  stubframework::utils::Variant result;
  EXPECT_EQ(Call(number, result.Get()), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(result->vt, VT_EMPTY);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  EXPECT_EQ(methods_->PrepareInstall(DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none, result.Get()),
            DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(methods_->GetOSVersionAndBuildNumber(DISPATCH_METHOD, &none, result.Get()), S_OK);
  ASSERT_EQ(result->vt, VT_BSTR);
  EXPECT_EQ(std::wstring(result->bstrVal), OsVersionText());
  EXPECT_EQ(methods_->GetOSVersionAndBuildNumber(DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none, result.Out()),
            DISP_E_MEMBERNOTFOUND);

  const TrackingProperties& tracking = *methods_->trackingProperties;
  EXPECT_EQ(tracking.application + L"|" + tracking.stubVersion + L"|" + tracking.deviceOs + L"|" + tracking.deviceBits,
            L"Halvern|" + testsupport::kProductVersion + L"|Windows 10|" + OsBitsText());
  EXPECT_EQ(tracking.deviceOsVersion, OsVersionText());
  EXPECT_EQ(tracking.deviceLang.size(), 2u) << testing::PrintToString(tracking.deviceLang);
  EXPECT_TRUE(tracking.channel.empty() && tracking.msiBuildNumber.empty() && tracking.reserved1.empty());
}
