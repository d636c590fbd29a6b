// The resume record an installation keeps below the product key: what counts as a loaded
// record, the temporary folder list up to its first gap, values too long to read, clearing, and
// the values the install worker stores.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "core/Registry.h"
#include "core/StubParameters.h"
#include "core/UniqueHandle.h"
#include "setup/ResumeManager.h"
#include "support/TestSupport.h"

using namespace stubframework;
using stubframework::setup::ResumeManager;

namespace {

// A product id of its own keeps these records apart from those of the other test programs.
const wchar_t kProductSubkey[] = L"SOFTWARE\\Velmora\\stubframework\\HLVNRESUMETEST\\77";
const wchar_t kRecordSubkey[] = L"SOFTWARE\\Velmora\\stubframework\\HLVNRESUMETEST\\77\\ResumeManager";
const wchar_t kRecordPath[] = L"HKEY_CURRENT_USER\\SOFTWARE\\Velmora\\stubframework\\HLVNRESUMETEST\\77\\ResumeManager";

class ResumeManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    parameters_.productId = L"HLVNRESUMETEST";
    testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kProductSubkey);
  }
  void TearDown() override { testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kProductSubkey); }
  void WriteRecord(const std::map<std::wstring, std::wstring>& values) {
    for (const auto& value : values)
      ASSERT_TRUE(utils::WriteRegistryString(kRecordPath, value.first, value.second, false)) << value.first;
  }
  bool RecordExists() {
    utils::RegistryKey key;
    return RegOpenKeyExW(HKEY_CURRENT_USER, kRecordSubkey, 0, KEY_READ | KEY_WOW64_32KEY, key.Out()) == ERROR_SUCCESS;
  }

  core::StubParameters parameters_;
};

}  // namespace

TEST_F(ResumeManagerTest, LoadsOnlyARecordWithFolderAndGuidAndReadsTempFoldersUpToTheFirstGap) {
  // With the terminator, 255 characters fill the 512 bytes a read takes; 256 do not fit.
  const std::wstring fits(255, L'x'), tooLong(256, L'x');
  struct Case {
    const char* name;
    std::map<std::wstring, std::wstring> values;
    bool loaded;
    std::wstring guid;
    std::wstring launchOnExit;
    std::vector<std::wstring> tempFolders;
  };
  const std::vector<Case> cases = {
      {"absent", {}, false, L"", L"", {}},
      {"whole",
       {{L"folder", L"F"}, {L"guid", L"G"}, {L"launchOnExit", L"L"}, {L"tempfolder0", L"T0"},
        {L"tempfolder1", L"T1"}, {L"tempfolder3", L"T3"}},
       true, L"G", L"L", {L"T0", L"T1"}},
      {"folder and guid only", {{L"folder", L""}, {L"guid", L"G"}}, true, L"G", L"", {}},
      {"no folder", {{L"guid", L"G"}, {L"launchOnExit", L"L"}, {L"tempfolder0", L"T0"}}, false, L"", L"", {}},
      {"no guid", {{L"folder", L"F"}, {L"launchOnExit", L"L"}, {L"tempfolder0", L"T0"}}, false, L"", L"", {}},
      {"folder too long", {{L"folder", tooLong}, {L"guid", L"G"}}, false, L"", L"", {}},
      {"guid too long", {{L"folder", L"F"}, {L"guid", tooLong}}, false, L"", L"", {}},
      {"longest guid", {{L"folder", fits}, {L"guid", fits}}, true, fits, L"", {}},
      {"launchOnExit too long", {{L"folder", L"F"}, {L"guid", L"G"}, {L"launchOnExit", tooLong}}, true, L"G", L"", {}},
      {"tempfolder too long",
       {{L"folder", L"F"}, {L"guid", L"G"}, {L"tempfolder0", L"T0"}, {L"tempfolder1", tooLong}, {L"tempfolder2", L"T2"}},
       true, L"G", L"", {L"T0"}},
      {"numbering from 1", {{L"folder", L"F"}, {L"guid", L"G"}, {L"tempfolder1", L"T1"}}, true, L"G", L"", {}},
  };
  for (const Case& c : cases) {
    testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kRecordSubkey);
    WriteRecord(c.values);
    ResumeManager record(true, &parameters_);
    EXPECT_EQ(record.keyPath, kRecordPath) << c.name;
    EXPECT_EQ(record.loaded, c.loaded) << c.name;
    if (c.loaded) {
      EXPECT_EQ(record.guid, c.guid) << c.name;
    }
    EXPECT_EQ(record.launchOnExit, c.launchOnExit) << c.name;
    EXPECT_EQ(record.tempFolders, c.tempFolders) << c.name;
    EXPECT_EQ(RecordExists(), !c.values.empty()) << c.name << ": loading leaves the record as it is";
  }
}

TEST_F(ResumeManagerTest, WithoutLoadClearsTheRecordAndWritesGuidAndLaunchOnExitInThe32BitView) {
  WriteRecord({{L"folder", L"F"}, {L"guid", L"OLD"}, {L"launchOnExit", L"OLD"}});
  ResumeManager record(false, &parameters_);
  EXPECT_FALSE(record.loaded);
  EXPECT_TRUE(record.guid.empty());
  EXPECT_FALSE(RecordExists());

  EXPECT_TRUE(record.WriteGuid(L"NEW-GUID"));
  EXPECT_TRUE(record.WriteLaunchOnExit(L"\"C:\\app.exe\" NEW-GUID"));
  EXPECT_EQ(record.guid, L"NEW-GUID");
  EXPECT_EQ(record.launchOnExit, L"\"C:\\app.exe\" NEW-GUID");
  for (const auto& value : std::map<std::wstring, std::wstring>{{L"guid", L"NEW-GUID"},
                                                               {L"launchOnExit", L"\"C:\\app.exe\" NEW-GUID"}}) {
    wchar_t data[100] = {};
    DWORD size = sizeof(data) - sizeof(wchar_t);
    EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, kRecordSubkey, value.first.c_str(), RRF_RT_REG_SZ | RRF_SUBKEY_WOW6432KEY,
                           nullptr, data, &size),
              ERROR_SUCCESS)
        << value.first;
    EXPECT_EQ(std::wstring(data), value.second) << value.first;
  }
  // Without "folder" the record written here does not count as one to resume from.
  EXPECT_FALSE(ResumeManager(true, &parameters_).loaded);
}
