// The launcher protocol's text rules and file steps, on command lines and files of the test's own;
// tests/product/RelaunchTest.cpp runs the protocol with real processes.
#include <gtest/gtest.h>

#include "core/CommandLine.h"
#include "core/UniqueHandle.h"
#include "setup/InstallWorker.h"
#include "setup/SelfUpdate.h"
#include "support/TestSupport.h"

using namespace stubframework;

TEST(CommandLine, TheForwardedTailIsTheRawTailWithoutTheLaunchersKeys) {
  const struct {
    const wchar_t* commandLine;
    const wchar_t* raw;
    const wchar_t* forwarded;
  } cases[] = {
      {L"C:\\d\\stub.exe /foo bar", L" /foo bar", L" /foo bar"},
      {L"\"C:\\my d\\stub.exe\" /foo bar", L" /foo bar", L" /foo bar"},
      {L"\"C:\\d\\stub.exe\"/foo", L"/foo", L" /foo"},
      {L"stub.exe", L"", L""},
      {L"stub.exe  passthrough=\"a b\"\tx", L"  passthrough=\"a b\"\tx", L"  passthrough=\"a b\"\tx"},
      // Crafted keys would steer the child: replace mode over any file, or a second run=1.
      {L"stub.exe a shortcut=C:\\Windows\\x.exe newVersionExitCode=0 parentProcessID=4 b", nullptr, L" a b"},
      {L"stub.exe RUN=1 Update=0 \"shortcut=C:\\a b.exe\" c", nullptr, L" c"},
      {L"\"C:\\d\\stub.exe\"shortcut=C:\\x.exe", nullptr, L""},
      {L"stub.exe k=\"shortcut=x y\" z", nullptr, L" k=\"shortcut=x y\" z"},
      // Quotes and backslashes as CommandLineToArgvW reads them.
      {L"stub.exe a\\\"b shortcut=x", nullptr, L" a\\\"b"},
      {L"stub.exe \"open shortcut=x", nullptr, L" \"open shortcut=x"},
  };
  for (const auto& c : cases) {
    if (c.raw) {
      EXPECT_EQ(core::RawTail(c.commandLine), c.raw) << c.commandLine;
    }
    EXPECT_EQ(core::ForwardedTail(c.commandLine), c.forwarded) << c.commandLine;
  }
}

TEST(CommandLine, UpdateStubNamesAreBareFileNamesFromTheUrl) {
  const struct {
    const wchar_t* url;
    const wchar_t* name;
  } cases[] = {
      {L"http://h/d/stub.exe", L"stub.exe"},
      {L"http://h/d/stub.exe?t=1#f", L"stub.exe"},
      {L"http://h/d/STUB.EXE?t=1", L"STUB.EXE"},
      {L"http://h/d/HalvernSetup.EXE", L"HalvernSetup_update.exe"},
      {L"http://h/d/HalvernSetup.exe?x=/a", L"HalvernSetup_update.exe"},
      {L"http://h/d/", L""},
      {L"http://h/d/..", L""},
      {L"http://h/d/a..exe", L""},
      {L"http://h/d\\..\\x.exe", L"x.exe"},
      {L"http://h/d/C:x.exe", L""},
      {L"http://h/d/x.exe:stream", L""},
      {L"http://h/d/a*.exe", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(core::UpdateStubName(c.url, L"HalvernSetup.exe"), c.name) << c.url;
  for (const wchar_t* name : {L"", L"..", L"a\\b.exe", L"a/b.exe", L"c:b.exe", L"a\tb.exe", L"\"q\".exe"})
    EXPECT_FALSE(core::IsBareFileName(name)) << name;
  EXPECT_TRUE(core::IsBareFileName(L"new stub.exe"));
}

TEST(CommandLine, TextValuesEndWhereTheirOwnQuotesSayAndTheListTempSitsBesideTheList) {
  const struct {
    const wchar_t* text;
    const wchar_t* value;
  } launchOnExit[] = {
      {L"A LAUNCHONEXIT=\"C:\\A B\\a.exe\" G T=\"x y\"", L"\"C:\\A B\\a.exe\""},
      {L"LAUNCHONEXIT=a.exe T=\"x y\"", L"a.exe"},
      {L"LAUNCHONEXIT=\"C:\\A B\\a.exe /id=1\" B=2", L"\"C:\\A B\\a.exe /id=1\""},
      {L"LAUNCHONEXIT=\"C:\\open end", L"\"C:\\open end"},
      {L"LAUNCHONEXIT=", L""},
  };
  for (const auto& c : launchOnExit) {
    std::wstring value = L"unchanged";
    EXPECT_NE(setup::ExtractLaunchOnExit(c.text, value), setup::kLaunchOnExitNotFound) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
  std::wstring value = L"unchanged";
  EXPECT_EQ(setup::ExtractLaunchOnExit(L"launchonexit=a", value), setup::kLaunchOnExitNotFound);
  EXPECT_EQ(value, L"unchanged");

  EXPECT_EQ(setup::InstallerListTempPath(L"C:\\d\\list.xml"), L"C:\\d\\list__NEW_FILE__.xml");
  EXPECT_EQ(setup::InstallerListTempPath(L"C:\\d\\list.v2.xml"), L"C:\\d\\list.v2__NEW_FILE__.xml");
  // Never the list itself: a failed download must leave it as it was.
  EXPECT_EQ(setup::InstallerListTempPath(L"C:\\d.x\\list"), L"C:\\d.x\\list__NEW_FILE__");
  EXPECT_EQ(setup::InstallerListTempPath(L"list"), L"list__NEW_FILE__");
}

TEST(CommandLine, ReplacingPutsTheWholeNewFileInPlaceOrLeavesTheOldOne) {
  testsupport::ScratchFolder folder;
  std::wstring target = folder.File(L"stub.exe");
  ASSERT_TRUE(testsupport::WriteFileBytes(target, "old stub"));
  // A stale stage of anybody's is replaced, not written through.
  ASSERT_TRUE(testsupport::WriteFileBytes(target + L".new", "stale"));
  EXPECT_TRUE(core::ReplaceWithImage("new stub", target));
  EXPECT_EQ(testsupport::ReadFileBytes(target), "new stub");
  EXPECT_FALSE(testsupport::PathExists(target + L".new"));

  // A target in use that cannot be replaced loses nothing.
  ASSERT_TRUE(testsupport::WriteFileBytes(target, "old stub"));
  {
    utils::FileHandle busy(
        CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(busy.Valid());
    EXPECT_FALSE(core::ReplaceWithImage("new stub", target));
  }
  EXPECT_EQ(testsupport::ReadFileBytes(target), "old stub");
  EXPECT_FALSE(testsupport::PathExists(target + L".new"));
}
