// Which folders the elevated stub trusts, and how it makes or takes back the folders it keeps.
// Wine keeps no access lists (it reads back one made from the Unix mode bits: the user and
// Everyone), so the judgement is tested on descriptors of the tests' own, and what is given to a
// folder through the record of what was applied.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <string>

#include "core/FolderSecurity.h"
#include "core/WorkingFolders.h"
#include "support/TestSupport.h"

using namespace stubframework::utils;
using testsupport::PathExists;
using testsupport::ScratchFolder;

namespace {

bool Judged(const wchar_t* text) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, &descriptor, nullptr)) << text;
  bool trusted = IsAdministratorsDescriptor(descriptor);
  LocalFree(descriptor);
  return trusted;
}

}  // namespace

TEST(FolderSecurity, OnlyAdministratorsMayOwnOrWriteATrustedFolder) {
  const std::wstring administrators = FolderSecurityText(FolderAccess::kAdministrators);
  const std::wstring usersRead = FolderSecurityText(FolderAccess::kUsersReadAndExecute);
  const struct {
    std::wstring text;
    bool trusted;
  } cases[] = {
      {L"O:BA" + administrators, true},
      {L"O:SY" + usersRead, true},
      // Entries that only pass to what is created inside, and refusals, grant nothing here.
      {L"O:BAD:P(A;OICIIO;FA;;;CO)(A;;FA;;;BA)(D;;FA;;;WD)(A;;0x1200a9;;;WD)", true},
      // What the common application-data folder gives users: creating files and folders.
      {L"O:SYD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;CI;0x100116;;;BU)", false},
      // What Wine reads back for every folder.
      {L"O:S-1-5-21-0-0-0-1000D:(A;OICI;FA;;;SY)(A;OICI;FA;;;S-1-5-21-0-0-0-1000)(A;OICI;0x1200a9;;;WD)", false},
      {L"O:S-1-5-21-1-2-3-1000" + administrators, false},
      {L"O:BAD:P(A;;FA;;;BA)(A;;FA;;;S-1-5-21-1-2-3-1000)", false},
      {L"O:BAD:P(A;;GW;;;WD)", false},
      {L"O:BAD:P(A;;WD;;;AU)", false},
      {L"O:BAD:P(A;;SD;;;IU)", false},
      {L"O:BA", false},
  };
  for (const auto& c : cases) EXPECT_EQ(Judged(c.text.c_str()), c.trusted) << c.text;
  EXPECT_FALSE(IsAdministratorsDescriptor(nullptr));
}

TEST(FolderSecurity, ANewProtectedFolderIsNeverOneThatExisted) {
  ScratchFolder scratch;
  const std::wstring folder = scratch.File(L"protected");
  ASSERT_TRUE(CreateProtectedFolder(folder, FolderAccess::kUsersReadAndExecute));
  EXPECT_EQ(AppliedFolderSecurity(folder + L"\\"), FolderSecurityText(FolderAccess::kUsersReadAndExecute));
  EXPECT_FALSE(CreateProtectedFolder(folder, FolderAccess::kAdministrators));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(AppliedFolderSecurity(folder), FolderSecurityText(FolderAccess::kUsersReadAndExecute));
}

// A folder the stub keeps across runs may have been made first by a program of the user, with
// files, second names of files elsewhere and links inside: it is taken back before it is used.
TEST(FolderSecurity, AFolderThatIsNotProtectedIsTakenBackAndItsContentTreatedAsAsked) {
  ScratchFolder outside, scratch;
  ASSERT_TRUE(testsupport::WriteFileBytes(outside.File(L"target.txt"), "target"));
  for (FolderReset reset : {FolderReset::kEmpty, FolderReset::kRemoveLinks}) {
    const std::wstring folder = scratch.File(reset == FolderReset::kEmpty ? L"empty\\" : L"links\\");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((folder + L"sub").c_str(), nullptr));
    ASSERT_TRUE(testsupport::WriteFileBytes(folder + L"partial.msi", "partial"));
    ASSERT_TRUE(testsupport::WriteFileBytes(folder + L"sub\\inner.txt", "inner"));
    ASSERT_TRUE(CreateHardLinkW((folder + L"second-name.msi").c_str(), outside.File(L"target.txt").c_str(), nullptr));
    ASSERT_TRUE(testsupport::MakeFolderLink(outside.Path(), folder + L"sub\\link"));

    ASSERT_TRUE(EnsureProtectedFolder(folder, FolderAccess::kAdministrators, reset));
    EXPECT_EQ(AppliedFolderSecurity(folder), FolderSecurityText(FolderAccess::kAdministrators));
    const bool kept = reset == FolderReset::kRemoveLinks;
    EXPECT_EQ(PathExists(folder + L"partial.msi"), kept);
    EXPECT_EQ(PathExists(folder + L"sub\\inner.txt"), kept);
    EXPECT_FALSE(PathExists(folder + L"second-name.msi"));
    EXPECT_EQ(testsupport::ReadFileBytes(outside.File(L"target.txt")), "target");
    testsupport::RemoveFolderLink(folder + L"sub\\link");
  }
}

TEST(FolderSecurity, ALinkOrAFileInAProtectedFolderPlaceIsNeverFollowed) {
  ScratchFolder outside, scratch;
  ASSERT_TRUE(testsupport::WriteFileBytes(outside.File(L"keep.txt"), "keep"));
  const std::wstring link = scratch.File(L"link"), file = scratch.File(L"file"), missing = scratch.File(L"missing");
  ASSERT_TRUE(testsupport::MakeFolderLink(outside.Path(), link));
  ASSERT_TRUE(testsupport::WriteFileBytes(file, "file"));
  // Wine cannot remove a Unix link: the folder is then refused rather than used through it.
  bool linkReplaced = EnsureProtectedFolder(link, FolderAccess::kAdministrators, FolderReset::kEmpty);
  EXPECT_EQ(linkReplaced, !(GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT));
  EXPECT_EQ(testsupport::ReadFileBytes(outside.File(L"keep.txt")), "keep");
  EXPECT_TRUE(AppliedFolderSecurity(outside.Path()).empty());
  for (const std::wstring& path : {file, missing}) {
    EXPECT_TRUE(EnsureProtectedFolder(path, FolderAccess::kUsersReadAndExecute, FolderReset::kEmpty)) << path;
    EXPECT_TRUE(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) << path;
    EXPECT_EQ(AppliedFolderSecurity(path), FolderSecurityText(FolderAccess::kUsersReadAndExecute)) << path;
  }
  testsupport::RemoveFolderLink(link);
}
