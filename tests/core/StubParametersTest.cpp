#include <gtest/gtest.h>

#include <regex>

#include "core/CommandLine.h"
#include "core/FrameworkCore.h"
#include "core/MainWindow.h"
#include "core/Registry.h"
#include "core/StubParameters.h"
#include "methods/LanguageTable.h"
#include "support/TestCore.h"
#include "support/TestSupport.h"

using namespace stubframework::core;
using stubframework::utils::ReadRegistryValue;
using stubframework::utils::WriteRegistryString;

namespace {

using testsupport::kProductSubkey;

class StubParametersTest : public ::testing::Test {
 protected:
  void SetUp() override { testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kProductSubkey); }
  void TearDown() override { testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kProductSubkey); }
};

}  // namespace

TEST_F(StubParametersTest, StartUpValues) {
  StubParameters parameters;
  EXPECT_EQ(parameters.registryKey, testsupport::kProductRegistryKey);
  EXPECT_TRUE(std::regex_match(std::string(parameters.requestToken.begin(), parameters.requestToken.end()),
                               std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")))
      << std::string(parameters.requestToken.begin(), parameters.requestToken.end());
  EXPECT_EQ(parameters.productId, testsupport::kProductCode);
  EXPECT_EQ(parameters.productVersion, stubframework::definition::kProductVersion);
  EXPECT_EQ(parameters.channel, L"test");
  EXPECT_EQ(parameters.clientVersion, L"1.0");
  EXPECT_EQ(parameters.status, 4);
  EXPECT_EQ(parameters.exitCode, INT_MAX);
  EXPECT_EQ(parameters.machineId, L"X-XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX");
  EXPECT_EQ(parameters.installLanguage, L"English");
  EXPECT_EQ(parameters.properties.Get(L"lang"), L"en");
  EXPECT_EQ(parameters.properties.Get(L"osbits"), parameters.architecture);
  EXPECT_EQ(parameters.country, std::to_wstring(GetUserGeoID(GEOCLASS_NATION)));
  std::wstring stored;
  ASSERT_TRUE(ReadRegistryValue(parameters.registryKey, L"install_language", stored));
  EXPECT_EQ(stored, L"English");
  // Wine reports Windows 10 on a 64-bit system to a program whose manifest allows it.
  EXPECT_EQ(parameters.osName, L"Windows 10");
  EXPECT_EQ(parameters.architecture, L"64");
}

TEST(StubParameters, OsNameRule) {
  const BYTE workstation = VER_NT_WORKSTATION, server = VER_NT_SERVER;
  EXPECT_EQ(OsNameFromVersion(5, 1, server, 0), L"Windows XP");
  EXPECT_EQ(OsNameFromVersion(5, 2, workstation, PROCESSOR_ARCHITECTURE_AMD64), L"Windows XP");
  EXPECT_EQ(OsNameFromVersion(5, 2, workstation, PROCESSOR_ARCHITECTURE_INTEL), L"Other");
  EXPECT_EQ(OsNameFromVersion(5, 2, server, PROCESSOR_ARCHITECTURE_AMD64), L"Other");
  EXPECT_EQ(OsNameFromVersion(6, 0, workstation, 0), L"Windows Vista");
  EXPECT_EQ(OsNameFromVersion(6, 1, workstation, 0), L"Windows 7");
  EXPECT_EQ(OsNameFromVersion(6, 2, workstation, 0), L"Windows 8");
  EXPECT_EQ(OsNameFromVersion(6, 3, workstation, 0), L"Windows 8");
  EXPECT_EQ(OsNameFromVersion(6, 4, workstation, 0), L"Windows 10");
  EXPECT_EQ(OsNameFromVersion(6, 5, workstation, 0), L"Other");
  EXPECT_EQ(OsNameFromVersion(10, 0, workstation, 0), L"Windows 10");
  EXPECT_EQ(OsNameFromVersion(10, 0, server, 0), L"Other");
  EXPECT_EQ(OsNameFromVersion(11, 0, workstation, 0), L"Other");
}

TEST(StubParameters, ArchitectureRule) {
  EXPECT_EQ(ArchitectureFromNativeMachine(IMAGE_FILE_MACHINE_AMD64), L"64");
  EXPECT_EQ(ArchitectureFromNativeMachine(IMAGE_FILE_MACHINE_IA64), L"64");
  EXPECT_EQ(ArchitectureFromNativeMachine(IMAGE_FILE_MACHINE_ARM64), L"A64");
  EXPECT_EQ(ArchitectureFromNativeMachine(IMAGE_FILE_MACHINE_I386), L"86");
  EXPECT_EQ(ArchitectureFromNativeMachine(0), L"86");
}

TEST_F(StubParametersTest, TextAccessorsFallBackToTheProductKeyWhenEmpty) {
  StubParameters parameters;
  EXPECT_EQ(parameters.Channel(), L"test");
  ASSERT_TRUE(WriteRegistryString(parameters.registryKey, L"channel", L"", false));
  parameters.channel.clear();
  EXPECT_EQ(parameters.Channel(), L"");

  ASSERT_TRUE(WriteRegistryString(parameters.registryKey, L"product_id", L"FROMREG", false));
  ASSERT_TRUE(WriteRegistryString(parameters.registryKey, L"production_version", L"9.1", false));
  EXPECT_EQ(parameters.ProductId(), testsupport::kProductCode);
  parameters.productId.clear();
  parameters.productVersion.clear();
  EXPECT_EQ(parameters.ProductId(), L"FROMREG");
  EXPECT_EQ(parameters.ProductVersion(), L"9.1");
  // A member filled from the registry keeps its value.
  ASSERT_TRUE(WriteRegistryString(parameters.registryKey, L"product_id", L"LATER", false));
  EXPECT_EQ(parameters.ProductId(), L"FROMREG");
}

TEST_F(StubParametersTest, StatusAccessorReadsTheRegistryOnlyWhenUnset) {
  StubParameters parameters;
  ASSERT_TRUE(WriteRegistryString(parameters.registryKey, L"status", L"71", false));
  EXPECT_EQ(parameters.Status(), 4);
  parameters.status = parameters.notSet;
  EXPECT_EQ(parameters.Status(), 71);
  parameters.status = parameters.notSet;
  ASSERT_TRUE(WriteRegistryString(parameters.registryKey, L"status", L"abc", false));
  EXPECT_EQ(parameters.Status(), 0);
  parameters.status = parameters.notSet;
  testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kProductSubkey);
  EXPECT_EQ(parameters.Status(), INT_MAX);
}

TEST_F(StubParametersTest, SetInstallStatusStoresMemberAndRegistry) {
  StubParameters parameters;
  stubframework::methods::SetInstallStatus(parameters, 93);
  EXPECT_EQ(parameters.status, 93);
  std::wstring stored;
  ASSERT_TRUE(ReadRegistryValue(parameters.registryKey, L"status", stored));
  EXPECT_EQ(stored, L"93");
}

// The hand-over code comes only from this run's own self-update, kept in memory: values planted
// in the user's key end nothing and are removed.
TEST_F(StubParametersTest, ExitCodeIgnoresAndRemovesPlantedSelfUpdateValues) {
  StubParameters parameters;
  EXPECT_EQ(SettleExitCode(parameters), INT_MAX);
  ASSERT_TRUE(WriteRegistryString(parameters.registryKey, L"selfupdate_code", L"197800", false));
  ASSERT_TRUE(WriteRegistryString(parameters.registryKey, L"update_stub_name", L"C:\\planted.exe", false));
  EXPECT_EQ(SettleExitCode(parameters), INT_MAX);
  std::wstring stored;
  EXPECT_FALSE(ReadRegistryValue(parameters.registryKey, L"selfupdate_code", stored));
  EXPECT_FALSE(ReadRegistryValue(parameters.registryKey, L"update_stub_name", stored));
  parameters.exitCode = 197800;
  EXPECT_EQ(SettleExitCode(parameters), 197800);
}

TEST(FinalStatus, AddsTheUninstallOptionToStatusesBelowFour) {
  EXPECT_EQ(SettleFinalStatus(0, L""), 3);
  EXPECT_EQ(SettleFinalStatus(1, L"Modify"), 71);
  EXPECT_EQ(SettleFinalStatus(2, L"Repair"), 82);
  EXPECT_EQ(SettleFinalStatus(3, L"Remove"), 93);
  EXPECT_EQ(SettleFinalStatus(0, L"Remove"), 93);
  EXPECT_EQ(SettleFinalStatus(1, L"modify"), 1);
  EXPECT_EQ(SettleFinalStatus(1, L"Modif"), 1);
  EXPECT_EQ(SettleFinalStatus(4, L"Modify"), 4);
  EXPECT_EQ(SettleFinalStatus(5, L"Repair"), 5);
  EXPECT_EQ(SettleFinalStatus(6, L"Remove"), 6);
  EXPECT_EQ(SettleFinalStatus(-1, L""), -1);
}

TEST(CommandLine, PassthroughValues) {
  EXPECT_EQ(PassthroughArguments(L"setup.exe passthrough=\"/a /b\" passthro=\"/c\""), L"/a /b /c");
  EXPECT_EQ(PassthroughArguments(L"setup.exe passthro=\"/c\""), L" /c");
  EXPECT_EQ(PassthroughArguments(L"setup.exe passthrough=\"/a\""), L"/a");
  EXPECT_EQ(PassthroughArguments(L"setup.exe passthrough=\"/unterminated"), L"/unterminated");
  EXPECT_EQ(PassthroughArguments(L"setup.exe Passthrough=\"/a\""), L"");
  EXPECT_EQ(PassthroughArguments(L"setup.exe \"passthrough=/a /b\""), L"/a /b");
  EXPECT_EQ(PassthroughArguments(L"setup.exe xpassthrough=\"/a\""), L"");
  EXPECT_EQ(PassthroughArguments(L"setup.exe"), L"");

  const std::vector<std::wstring> allowed = {L"VID", L"CHNL"};
  const struct {
    const wchar_t* text;
    const wchar_t* kept;
    size_t dropped;
  } cases[] = {
      {L"VID=a CHNL=b", L"VID=a CHNL=b", 0},
      {L" \tVID=a\t\tTRANSFORMS=C:\\t.mst ", L"VID=a", 1},
      {L"/i x.msi PATCH=p.msp vid=a VID= VID CHNL=b", L"CHNL=b", 6},
      {L"", L"", 0},
  };
  for (const auto& c : cases) {
    std::vector<std::wstring> dropped;
    EXPECT_EQ(BoundedPassthrough(c.text, allowed, dropped), c.kept) << c.text;
    EXPECT_EQ(dropped.size(), c.dropped) << c.text;
  }
}

TEST(CommandLine, ArgumentsAfterTheProgramPath) {
  EXPECT_TRUE(HasArgument(L"\"C:\\a b\\setup.exe\" RUN=1", L"run=1"));
  EXPECT_FALSE(HasArgument(L"run=1 other", L"run=1"));
  EXPECT_EQ(GetCommandLineValue(L"setup.exe x=1 newVersionExitCode=5 newVersionExitCode=6", L"newVersionExitCode"), L"5");
  EXPECT_EQ(GetCommandLineValue(L"setup.exe NEWVERSIONEXITCODE=5", L"newVersionExitCode"), L"");
  EXPECT_EQ(GetCommandLineValue(L"parentProcessID=1", L"parentProcessID"), L"");
}
