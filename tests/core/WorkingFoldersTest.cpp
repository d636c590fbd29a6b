#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "core/FolderSecurity.h"
#include "core/PlainPath.h"
#include "core/WorkingFolders.h"
#include "support/TestSupport.h"

using namespace stubframework::utils;
using testsupport::PathExists;
using testsupport::ScratchFolder;

namespace {

// A tree holding a linked folder "nested\link" and a folder "own" of its own, next to a linked folder
// "toplink"; both links lead to a folder outside the tree.
class LinkedFolders : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testsupport::WriteFileBytes(outside_.File(L"keep.txt"), "keep"));
    ASSERT_TRUE(CreateDirectoryW(outside_.File(L"sub").c_str(), nullptr));
    ASSERT_TRUE(testsupport::WriteFileBytes(outside_.File(L"sub\\keep.txt"), "keep"));
    ASSERT_TRUE(CreateDirectoryW(tree_.File(L"nested").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(tree_.File(L"nested\\own").c_str(), nullptr));
    ASSERT_TRUE(testsupport::WriteFileBytes(tree_.File(L"nested\\own\\file.txt"), "own"));
    for (const wchar_t* link : {L"toplink", L"nested\\link"}) {
      links_.push_back(tree_.File(link));
      ASSERT_TRUE(testsupport::MakeFolderLink(outside_.Path(), links_.back()));
    }
  }
  void TearDown() override {
    for (const auto& link : links_) testsupport::RemoveFolderLink(link);
  }
  bool OutsideIsWhole() {
    return testsupport::ReadFileBytes(outside_.File(L"keep.txt")) == "keep" &&
           testsupport::ReadFileBytes(outside_.File(L"sub\\keep.txt")) == "keep";
  }

  ScratchFolder outside_;
  ScratchFolder tree_;
  std::vector<std::wstring> links_;
};

}  // namespace

// Every folder of a run lies in one root that only administrators may write, in the system's
// temporary folder under a name nobody can guess; the user's temporary directory holds none.
TEST(WorkingRoot, IsAFreshAdministratorsOnlyFolderInTheSystemTemporaryFolderHoldingTheRunsFolders) {
  wchar_t windows[MAX_PATH] = {};
  ASSERT_GT(GetSystemWindowsDirectoryW(windows, MAX_PATH), 0u);
  const std::wstring systemTemp = std::wstring(windows) + L"\\Temp\\";
  std::wstring root, first, second, logs, again;
  ASSERT_TRUE(GetWorkingRoot(root));
  ASSERT_EQ(root.size(), systemTemp.size() + 5 + 32 + 1) << root;
  EXPECT_EQ(_wcsnicmp(root.c_str(), systemTemp.c_str(), systemTemp.size()), 0) << root;
  EXPECT_EQ(root.substr(systemTemp.size(), 5), L"stub-");
  EXPECT_EQ(root.find_first_not_of(L"0123456789abcdef", systemTemp.size() + 5), root.size() - 1) << root;
  EXPECT_EQ(AppliedFolderSecurity(root), L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");

  ASSERT_TRUE(CreateUniqueTempFolder(first));
  ASSERT_TRUE(CreateUniqueTempFolder(second));
  ASSERT_TRUE(GetRunLogFolder(logs));
  EXPECT_NE(first, second);
  for (const std::wstring& folder : {first, second}) {
    EXPECT_EQ(folder.compare(0, root.size(), root), 0) << folder;
    EXPECT_EQ(folder.back(), L'\\');
    EXPECT_TRUE(IsRunFolder(folder)) << folder;
    EXPECT_TRUE(IsRunFolder(folder.substr(0, folder.size() - 1))) << folder;
  }
  EXPECT_EQ(logs, root + L"logs\\");
  // Only the folders this run made, in their own spelling, count as the run's.
  ScratchFolder elsewhere;
  for (const std::wstring& other : {root, elsewhere.Path(), first + L"..\\" + second.substr(root.size()),
                                    first + L"sub\\", std::wstring()})
    EXPECT_FALSE(IsRunFolder(other)) << other;

  // The end of the run takes the root with it; the next run draws another name.
  ReleaseWorkingRoot();
  EXPECT_FALSE(PathExists(root));
  EXPECT_FALSE(IsRunFolder(first));
  ASSERT_TRUE(GetWorkingRoot(again));
  EXPECT_NE(again, root);
}

TEST(CreateUniqueTempFolder, SkipsNamesThatAlreadyExist) {
  ScratchFolder base;
  for (const wchar_t* name : {L"1000", L"1001", L"1002"})
    ASSERT_TRUE(CreateDirectoryW(base.File(name).c_str(), nullptr));
  std::wstring path;
  ASSERT_TRUE(CreateUniqueFolderIn(base.Path(), 0x1000, path));
  EXPECT_EQ(path, base.File(L"1003\\"));
  EXPECT_TRUE(PathExists(path));
}

TEST(CreateUniqueTempFolder, NamesAreLowerCaseHexWithoutLeadingZeros) {
  ScratchFolder base;
  std::wstring path;
  ASSERT_TRUE(CreateUniqueFolderIn(base.Path(), 0xABCDEF, path));
  EXPECT_EQ(path, base.File(L"abcdef\\"));
}

TEST(CreateUniqueTempFolder, ThreadsStartingAtTheSameNumberNeverShareAFolder) {
  ScratchFolder base;
  constexpr int kThreads = 8;
  constexpr int kPerThread = 25;
  std::vector<std::vector<std::wstring>> results(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        std::wstring path;
        if (CreateUniqueFolderIn(base.Path(), 0x5000, path)) results[t].push_back(path);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<std::wstring> all;
  size_t count = 0;
  for (const auto& list : results) {
    count += list.size();
    all.insert(list.begin(), list.end());
  }
  EXPECT_EQ(count, static_cast<size_t>(kThreads * kPerThread));
  EXPECT_EQ(all.size(), count);
}

TEST(GetTempSubfolder, CreatesOrReturnsTheNamedFolder) {
  std::wstring temp, path, again;
  ASSERT_TRUE(GetLongTempPath(temp));
  ASSERT_TRUE(GetTempSubfolder(L"HalvernSubfolderTest", path));
  EXPECT_EQ(path, temp + L"HalvernSubfolderTest\\");
  EXPECT_TRUE(PathExists(path));
  ASSERT_TRUE(GetTempSubfolder(L"HalvernSubfolderTest", again));
  EXPECT_EQ(again, path);
  EXPECT_TRUE(DeleteFolderTree(path));
}

// The logs' folder is a fixed name in the temporary directory, which any program of the user can
// take first: a link there would lead the elevated stub's logs anywhere.
TEST_F(LinkedFolders, GetTempSubfolderRefusesALinkOrAFileInTheFoldersPlace) {
  std::wstring temp;
  ASSERT_TRUE(GetLongTempPath(temp));
  ASSERT_TRUE(testsupport::WriteFileBytes(tree_.File(L"file"), "file"));
  const std::wstring below = tree_.Path().substr(temp.size());
  const struct {
    std::wstring name;
    bool folder;
  } cases[] = {{below + L"nested\\own", true}, {below + L"toplink", false},
               {below + L"nested\\link", false}, {below + L"file", false}};
  for (const auto& c : cases) {
    std::wstring path = L"unchanged";
    EXPECT_EQ(GetTempSubfolder(c.name, path), c.folder) << c.name;
    EXPECT_EQ(path, c.folder ? temp + c.name + L"\\" : L"unchanged") << c.name;
  }
  EXPECT_TRUE(OutsideIsWhole());
}

// A trailing backslash makes the system answer for a link's target: the checks answer for the name.
TEST_F(LinkedFolders, PlainFolderAndLinkChecksAnswerForTheNameWithOrWithoutTrailingBackslash) {
  ASSERT_TRUE(testsupport::WriteFileBytes(tree_.File(L"file"), "file"));
  const struct {
    std::wstring path;
    bool plainFolder;
    bool link;
  } cases[] = {{tree_.File(L"nested\\own"), true, false},   {tree_.File(L"nested\\own\\"), true, false},
               {tree_.File(L"toplink"), false, true},        {tree_.File(L"toplink\\"), false, true},
               {tree_.File(L"nested\\link\\\\"), false, true}, {tree_.File(L"file"), false, false},
               {tree_.File(L"missing"), false, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(IsPlainFolder(c.path), c.plainFolder) << c.path;
    std::wstring name = c.path;
    while (name.back() == L'\\') name.pop_back();
    EXPECT_EQ(IsLink(name), c.link) << c.path;
  }
}

TEST(DeleteFolderTree, RemovesNestedFoldersAndFiles) {
  std::wstring root;
  ASSERT_TRUE(CreateUniqueTempFolder(root));
  ASSERT_TRUE(CreateDirectoryW((root + L"a").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((root + L"a\\b").c_str(), nullptr));
  ASSERT_TRUE(testsupport::WriteFileBytes(root + L"a\\b\\file.txt", "x"));
  ASSERT_TRUE(testsupport::WriteFileBytes(root + L"top.txt", "y"));
  EXPECT_TRUE(DeleteFolderTree(root));
  EXPECT_FALSE(PathExists(root));
}

TEST(DeleteFolderTree, AReadOnlyFileStaysWithItsFoldersAndEverythingElseGoes) {
  std::wstring root;
  ASSERT_TRUE(CreateUniqueTempFolder(root));
  ASSERT_TRUE(CreateDirectoryW((root + L"keep").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((root + L"gone").c_str(), nullptr));
  std::wstring locked = root + L"keep\\readonly.txt";
  ASSERT_TRUE(testsupport::WriteFileBytes(locked, "r"));
  ASSERT_TRUE(testsupport::WriteFileBytes(root + L"gone\\plain.txt", "p"));
  ASSERT_TRUE(testsupport::WriteFileBytes(root + L"plain.txt", "p"));
  ASSERT_TRUE(SetFileAttributesW(locked.c_str(), FILE_ATTRIBUTE_READONLY));

  EXPECT_FALSE(DeleteFolderTree(root));
  EXPECT_TRUE(PathExists(locked));
  EXPECT_FALSE(PathExists(root + L"gone"));
  EXPECT_FALSE(PathExists(root + L"plain.txt"));

  SetFileAttributesW(locked.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_TRUE(DeleteFolderTree(root));
}

TEST(DeleteFolderTree, AcceptsAPathWithoutTrailingBackslashAndFailsOnAMissingFolder) {
  std::wstring root;
  ASSERT_TRUE(CreateUniqueTempFolder(root));
  EXPECT_TRUE(DeleteFolderTree(root.substr(0, root.size() - 1)));
  EXPECT_FALSE(DeleteFolderTree(root));
  EXPECT_FALSE(DeleteFolderTree(L""));
}

TEST(GetTempSubfolder, FailsWhenTheLongFormOfTheTemporaryDirectoryIsTooLong) {
  ScratchFolder base;
  std::wstring longForm = base.Path();
  while (longForm.size() < 300) {
    longForm += L"a folder name long enough to need a short form\\";
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + longForm).c_str(), nullptr));
  }
  wchar_t shortForm[MAX_PATH] = {};
  DWORD length = GetShortPathNameW(longForm.c_str(), shortForm, MAX_PATH);
  ASSERT_TRUE(length > 0 && length < MAX_PATH - 1);
  wchar_t oldTmp[MAX_PATH] = {}, oldTemp[MAX_PATH] = {};
  GetEnvironmentVariableW(L"TMP", oldTmp, MAX_PATH);
  GetEnvironmentVariableW(L"TEMP", oldTemp, MAX_PATH);
  SetEnvironmentVariableW(L"TMP", shortForm);
  SetEnvironmentVariableW(L"TEMP", shortForm);
  std::wstring temp;
  bool longTemp = GetLongTempPath(temp);
  // An empty name (the temporary directory itself) still fits behind a path that was cut short.
  std::vector<std::wstring> paths;
  std::vector<bool> made;
  for (const wchar_t* name : {L"HLVN_log", L""}) {
    paths.push_back(L"unchanged");
    made.push_back(GetTempSubfolder(name, paths.back()));
  }
  SetEnvironmentVariableW(L"TMP", oldTmp);
  SetEnvironmentVariableW(L"TEMP", oldTemp);
  ASSERT_TRUE(longTemp);
  ASSERT_EQ(temp, longForm);
  for (size_t i = 0; i < paths.size(); ++i) {
    EXPECT_FALSE(made[i]) << paths[i];
    EXPECT_EQ(paths[i], L"unchanged");
  }
}

TEST_F(LinkedFolders, DeleteFolderTreeUnlinksALinkedFolderAndNeverEntersIt) {
  // The link as the path itself, with and without a trailing backslash, and inside a tree.
  for (const std::wstring& path : {tree_.File(L"toplink"), tree_.File(L"toplink\\"), tree_.File(L"nested")}) {
    bool removed = DeleteFolderTree(path);
    // Windows removes a junction as a link; a Unix link cannot be removed from Wine and stays.
    EXPECT_EQ(removed, !PathExists(path));
    EXPECT_TRUE(OutsideIsWhole()) << testsupport::ReadFileBytes(outside_.File(L"keep.txt"));
  }
  EXPECT_FALSE(PathExists(tree_.File(L"nested\\own")));
}

// The log copies go where the user's programs write: only as new files, never over a file or
// through a link that is already there.
TEST_F(LinkedFolders, CopyAsNewFileWritesOnlyNewFilesInPlainFolders) {
  ASSERT_TRUE(testsupport::WriteFileBytes(tree_.File(L"installer_log.txt"), "log"));
  ASSERT_TRUE(testsupport::WriteFileBytes(tree_.File(L"nested\\own\\installer_log.txt"), "older"));
  const std::wstring source = tree_.File(L"installer_log.txt");
  EXPECT_FALSE(CopyAsNewFile(source, tree_.File(L"nested\\own\\")));
  EXPECT_EQ(testsupport::ReadFileBytes(tree_.File(L"nested\\own\\installer_log.txt")), "older");
  EXPECT_FALSE(CopyAsNewFile(source, tree_.File(L"toplink\\")));
  EXPECT_FALSE(PathExists(outside_.File(L"installer_log.txt")));
  EXPECT_TRUE(CopyAsNewFile(source, tree_.File(L"nested\\")));
  EXPECT_EQ(testsupport::ReadFileBytes(tree_.File(L"nested\\installer_log.txt")), "log");
  EXPECT_TRUE(OutsideIsWhole());
}
