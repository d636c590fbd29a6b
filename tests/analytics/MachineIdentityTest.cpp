// The machine identifier: its pure steps exactly, every branch through a scripted source, the
// protected file and the computer's own answers as far as Wine gives them.
#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "analytics/MachineIdentity.h"
#include "analytics/NetworkAdapters.h"
#include "core/TextFormat.h"
#include "support/TestSupport.h"

namespace {

using namespace stubframework::analytics;
using stubframework::utils::WideToUtf8;

const wchar_t kMacId[] = L"P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C";
// sha256sum of kMacId, computed on the Linux side.
const wchar_t kMacIdReported[] = L"40114013419f868858042657ed27b94414a4b068d7f40fa5a4dac48b50e26b19";

TEST(MachineIdentity, MacBasedTextFillsTheGuidLayoutCyclicallyFromTheSmallestMac) {
  struct Case {
    std::vector<std::wstring> macs;
    std::wstring expected;
  } cases[] = {
      {{L"00:1A:2B:3C:4D:5E"}, kMacId},
      {{L"00:50:56:C0:00:01", L"00:1A:2B:3C:4D:5E"}, kMacId},
      {{L"00:1A:2B:3C:4D:5E", L"00:50:56:C0:00:01"}, kMacId},
      {{L"ab:cd"}, L"P-abcdabcd-abcd-abcd-abcd-abcdabcdabcd"},
      {{}, L""},
      {{L":::"}, L""},
  };
  for (const Case& c : cases) EXPECT_EQ(MacBasedText(c.macs), c.expected) << WideToUtf8(c.expected);
  EXPECT_EQ(MacText(std::vector<uint8_t>{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}.data()), L"00:1A:2B:3C:4D:5E");
}

TEST(MachineIdentity, ReportedFormIsTheSha256OfTheLowBytesInLowerCaseHex) {
  EXPECT_EQ(ReportedFormOf(kMacId), kMacIdReported);
  std::wstring highBytes = kMacId;
  highBytes[0] = static_cast<wchar_t>(0x4100 | L'P');
  EXPECT_EQ(ReportedFormOf(highBytes), kMacIdReported);
  EXPECT_EQ(ReportedFormOf(L""), L"");
}

TEST(MachineIdentity, OnlyTheExactModelAndManufacturerPairsAreVirtualMachines) {
  struct Case {
    const wchar_t* model;
    const wchar_t* manufacturer;
    bool isVirtual;
  } cases[] = {
      {L"VirtualBox", L"innotek GmbH", true},
      {L"VMware Virtual Platform", L"VMware, Inc.", true},
      {L"Virtual Machine", L"Microsoft Corporation", true},
      {L"virtualbox", L"innotek GmbH", false},
      {L"VirtualBox", L"innotek GmbH ", false},
      {L"Virtual Machine", L"VMware, Inc.", false},
      {L"Wine", L"The Wine Project", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsVirtualMachineModel(c.model, c.manufacturer), c.isVirtual) << WideToUtf8(c.model);
}

TEST(MachineIdentity, AdapterSelectionDropsEarlyRootUsbBluetoothAndMicrosoftWords) {
  struct Case {
    const wchar_t* path;
    const wchar_t* description;
    bool kept;
  } cases[] = {
      {L"\\\\?\\pci#ven_8086&dev_100e", L"Intel(R) PRO/1000", true},
      {L"\\\\?\\usb#vid_0b95&pid_1790", L"USB Ethernet", false},
      {L"\\\\?\\pci#ven_8086&devusb1", L"usb at position 20", true},
      {L"\\\\?\\ROOT#NET#0000", L"", false},
      {L"\\\\?\\BTH#MS_BTHPAN", L"", false},
      {L"\\\\?\\pciusb", L"usb at position 7", false},
      {L"\\\\?\\pcixusb", L"usb at position 8", true},
      {L"\\\\?\\pci#1", L"Microsoft Kernel Debug Network Adapter", false},
      {L"\\\\?\\pci#2", L"microsoft loopback", false},
      {L"\\\\?\\pci#3", L"1234567Microsoft", false},
      {L"\\\\?\\pci#4", L"12345678Microsoft", true},
  };
  std::vector<NetworkAdapter> adapters;
  std::vector<std::wstring> expected;
  for (const Case& c : cases) {
    adapters.push_back({c.path, c.description});
    if (c.kept) expected.push_back(c.path);
  }
  EXPECT_EQ(SelectPhysicalAdapters(adapters), expected);
}

// A computer as the algorithm sees it, with a record of what was stored.
class ScriptedSource : public IMachineIdentitySource {
 public:
  bool queryWorks = true;
  bool isVirtual = false;
  std::optional<std::wstring> stored;
  bool saveWorks = true;
  bool guidWorks = true;
  std::vector<std::wstring> macs;
  std::vector<std::wstring> saved;

  bool IsVirtualMachine(bool& result) override {
    if (queryWorks) result = isVirtual;
    return queryWorks;
  }
  bool CollectAdapterMacs(std::vector<std::wstring>& out) override {
    out = macs;
    return !macs.empty();
  }
  bool ReadStoredMachineId(std::wstring& text) override {
    if (stored) text = *stored;
    return stored.has_value();
  }
  bool SaveStoredMachineId(const std::wstring& text) override {
    saved.push_back(text);
    return saveWorks;
  }
  bool NewGuidText(std::wstring& text) override {
    text = L"0123ABCD-4567-89EF-0123-456789ABCDEF";
    return guidWorks;
  }
};

TEST(MachineIdentity, ComputeMachineIdFollowsStoredTextVirtualMachineAndMacPaths) {
  const std::wstring stored38 = L"V-11111111-2222-3333-4444-555555555555";
  const std::wstring guidId = L"V-0123ABCD-4567-89EF-0123-456789ABCDEF";
  const std::wstring mac = L"00:1A:2B:3C:4D:5E";
  const std::wstring keep = L"X-XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX";
  struct Case {
    const char* name;
    bool queryWorks, isVirtual;
    std::optional<std::wstring> stored;
    bool saveWorks, guidWorks;
    std::vector<std::wstring> macs;
    bool ok;
    std::wstring id;
    std::vector<std::wstring> saved;
  } cases[] = {
      {"vm with a stored text", true, true, stored38, true, true, {mac}, true, stored38, {}},
      {"vm without one", true, true, std::nullopt, true, true, {mac}, true, guidId, {guidId}},
      {"vm with 37 characters stored", true, true, stored38.substr(1), true, true, {}, true, guidId, {guidId}},
      {"vm that cannot store", true, true, std::nullopt, false, true, {mac}, false, keep, {guidId}},
      {"vm without a guid", true, true, std::nullopt, true, false, {mac}, false, keep, {}},
      {"physical keeps any 38 characters", true, false, stored38, true, true, {mac}, true, stored38, {}},
      {"physical with 37 characters", true, false, stored38.substr(1), true, true, {mac}, true, kMacId, {kMacId}},
      {"physical that cannot store", true, false, std::nullopt, false, true, {mac}, true, kMacId, {kMacId}},
      {"physical without adapters", true, false, std::nullopt, true, true, {}, false, keep, {}},
      {"failed query counts as physical", false, true, std::nullopt, true, true, {mac}, true, kMacId, {kMacId}},
  };
  for (const Case& c : cases) {
    ScriptedSource source;
    source.queryWorks = c.queryWorks;
    source.isVirtual = c.isVirtual;
    source.stored = c.stored;
    source.saveWorks = c.saveWorks;
    source.guidWorks = c.guidWorks;
    source.macs = c.macs;
    std::wstring id = keep;
    EXPECT_EQ(ComputeMachineId(source, id), c.ok) << c.name;
    EXPECT_EQ(id, c.id) << c.name;
    EXPECT_EQ(source.saved, c.saved) << c.name;
  }
}

class MachineIdFileTest : public ::testing::Test {
 protected:
  std::wstring Data() const { return scratch_.File(L"data"); }
  testsupport::ScratchFolder scratch_;
};

TEST_F(MachineIdFileTest, RoundTripsProtectedAndRefusesEmptyOrOversizedFiles) {
  std::wstring text;
  EXPECT_FALSE(ReadMachineIdFile(scratch_.Path(), text));
  ASSERT_TRUE(SaveMachineIdFile(scratch_.Path(), kMacId));
  std::string bytes = testsupport::ReadFileBytes(Data());
  EXPECT_EQ(bytes.find("P\0-\0", 0, 4), std::string::npos) << "stored in the clear";
  ASSERT_TRUE(ReadMachineIdFile(scratch_.Path(), text));
  EXPECT_EQ(text, kMacId);
  // A shorter text replaces a longer one completely.
  ASSERT_TRUE(SaveMachineIdFile(scratch_.Path(), L"P-1"));
  ASSERT_TRUE(ReadMachineIdFile(scratch_.Path(), text));
  EXPECT_EQ(text, L"P-1");

  std::string protectedBytes = testsupport::ReadFileBytes(Data());
  struct Case {
    size_t size;
    bool read;
  } cases[] = {{protectedBytes.size(), true}, {4096, true}, {4097, false}, {0, false}};
  for (const Case& c : cases) {
    std::string content = c.size ? protectedBytes + std::string(c.size - protectedBytes.size(), '\0') : "";
    ASSERT_TRUE(testsupport::WriteFileBytes(Data(), content));
    text.clear();
    EXPECT_EQ(ReadMachineIdFile(scratch_.Path(), text), c.read) << c.size << " bytes";
    EXPECT_EQ(text, c.read ? L"P-1" : L"") << c.size << " bytes";
  }
}

TEST_F(MachineIdFileTest, NeitherALinkedFolderNorASecondNameOfAnotherFileIsUsed) {
  testsupport::ScratchFolder elsewhere;
  ASSERT_TRUE(SaveMachineIdFile(elsewhere.Path(), kMacId));
  std::string victim = testsupport::ReadFileBytes(elsewhere.File(L"data"));
  std::wstring linkedFolder = scratch_.File(L"UniqueId");
  ASSERT_TRUE(testsupport::MakeFolderLink(elsewhere.Path(), linkedFolder));
  std::wstring text;
  EXPECT_FALSE(ReadMachineIdFile(linkedFolder + L"\\", text));
  EXPECT_FALSE(SaveMachineIdFile(linkedFolder + L"\\", L"P-2"));
  EXPECT_TRUE(testsupport::RemoveFolderLink(linkedFolder));
  // "data" a second name of another folder's file.
  ASSERT_TRUE(CreateHardLinkW(Data().c_str(), elsewhere.File(L"data").c_str(), nullptr));
  EXPECT_FALSE(SaveMachineIdFile(scratch_.Path(), L"P-2"));
  EXPECT_FALSE(ReadMachineIdFile(scratch_.Path(), text));
  EXPECT_EQ(testsupport::ReadFileBytes(elsewhere.File(L"data")), victim);
}

TEST_F(MachineIdFileTest, ASharingViolationIsWaitedOutForUpToThreeSeconds) {
  ASSERT_TRUE(SaveMachineIdFile(scratch_.Path(), kMacId));
  for (bool releasedEarly : {true, false}) {
    HANDLE holder = CreateFileW(Data().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    std::thread releaser;
    if (releasedEarly) releaser = std::thread([holder] {
      Sleep(300);
      CloseHandle(holder);
    });
    std::wstring text;
    EXPECT_EQ(ReadMachineIdFile(scratch_.Path(), text), releasedEarly);
    EXPECT_EQ(text, releasedEarly ? kMacId : L"");
    if (releaser.joinable()) releaser.join();
    if (!releasedEarly) CloseHandle(holder);
  }
}

TEST(MachineIdentity, TheComputerAnswersAsFarAsWineDoes) {
  HRESULT com = CoInitialize(nullptr);
  SystemMachineIdentitySource source;
  bool isVirtual = true;
  EXPECT_TRUE(source.IsVirtualMachine(isVirtual)) << "Win32_ComputerSystem";
  EXPECT_FALSE(isVirtual);
  std::wstring guid;
  ASSERT_TRUE(source.NewGuidText(guid));
  EXPECT_EQ(guid.size(), 36u);
  EXPECT_EQ(guid.find_first_not_of(L"0123456789ABCDEF-"), std::wstring::npos);
  std::vector<std::wstring> macs;
  EXPECT_EQ(source.CollectAdapterMacs(macs), !macs.empty());
  for (const std::wstring& mac : macs) EXPECT_EQ(mac.size(), 17u);
  for (const NetworkAdapter& adapter : ListNetworkAdapters()) EXPECT_FALSE(adapter.devicePath.empty());
  std::wstring folder;
  ASSERT_TRUE(StoredIdFolder(folder));
  EXPECT_EQ(folder.size() > 10 ? folder.substr(folder.size() - 10) : folder, L"\\UniqueId\\");
  if (SUCCEEDED(com)) CoUninitialize();
}

// Another process, the script host, finds the identifier this one stored and reports its digest
// to the page. The file is put back afterwards.
TEST(MachineIdentity, AStoredIdentifierIsReadBackByTheNextProcessAndReportedToThePage) {
  std::wstring folder;
  ASSERT_TRUE(StoredIdFolder(folder));
  std::wstring data = folder + L"data";
  bool existed = testsupport::PathExists(data);
  std::string original = testsupport::ReadFileBytes(data);
  ASSERT_TRUE(SaveMachineIdFile(folder, kMacId));

  testsupport::ScratchFolder scratch;
  std::wstring script = scratch.File(L"machine_id.js");
  ASSERT_TRUE(testsupport::WriteFileBytes(
      script, "checkEqual(window.external.getMachineId(), \"" + WideToUtf8(kMacIdReported) +
                  "\", \"reported form of the stored identifier\");\n"
                  "checkThrows(function () { window.external.getMachineId(1); }, DISP_E_BADPARAMCOUNT, \"argument\");\n"
                  "finish();\n"));
  std::wstring host = testsupport::ProgramFolder() + L"script_host.exe";
  std::wstring commandLine = L"\"" + host + L"\" run=1 \"" + testsupport::SourceFolder() +
                             L"tests\\scripthost\\testlib.js\" \"" + script + L"\"";
  testsupport::ProcessResult result = testsupport::RunAndWait(host, commandLine, 60000);

  if (existed)
    EXPECT_TRUE(testsupport::WriteFileBytes(data, original));
  else
    EXPECT_TRUE(DeleteFileW(data.c_str()));
  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0u);
}

}  // namespace
