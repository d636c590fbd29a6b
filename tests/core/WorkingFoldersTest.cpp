#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "core/WorkingFolders.h"
#include "support/TestSupport.h"

using namespace stubframework::utils;
using testsupport::PathExists;
using testsupport::ScratchFolder;

TEST(CreateUniqueTempFolder, CreatesAFreshFolderUnderTheTemporaryDirectory) {
  std::wstring temp, first, second;
  ASSERT_TRUE(GetLongTempPath(temp));
  ASSERT_TRUE(CreateUniqueTempFolder(first));
  ASSERT_TRUE(CreateUniqueTempFolder(second));
  EXPECT_NE(first, second);
  EXPECT_EQ(first.compare(0, temp.size(), temp), 0);
  EXPECT_EQ(first.back(), L'\\');
  EXPECT_TRUE(PathExists(first));
  EXPECT_TRUE(DeleteFolderTree(first));
  EXPECT_TRUE(DeleteFolderTree(second));
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

TEST(IsBelowTempFolder, AcceptsOnlyFoldersStrictlyInsideTheTemporaryDirectory) {
  std::wstring temp;
  ASSERT_TRUE(GetLongTempPath(temp));
  EXPECT_TRUE(IsBelowTempFolder(temp + L"abc\\"));
  EXPECT_TRUE(IsBelowTempFolder(temp + L"abc"));
  EXPECT_FALSE(IsBelowTempFolder(temp));
  EXPECT_FALSE(IsBelowTempFolder(temp + L"abc\\..\\..\\"));
  EXPECT_FALSE(IsBelowTempFolder(temp + L".."));
  EXPECT_FALSE(IsBelowTempFolder(L"C:\\"));
  EXPECT_FALSE(IsBelowTempFolder(L"C:\\windows"));
  EXPECT_FALSE(IsBelowTempFolder(L""));
}
