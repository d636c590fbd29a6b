// The rule for folders named by the user's registry or the page: only existing folders below the
// temporary directory, in their canonical form, reached through no link.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "core/TrustedFolder.h"
#include "core/WorkingFolders.h"
#include "support/TestSupport.h"

using stubframework::utils::IsTrustedTempFolder;
using testsupport::ScratchFolder;

namespace {

// A tree with folders of its own and two links to a folder outside it: "link" at its top and
// "inner\link" further down.
class TrustedFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateDirectoryW(outside_.File(L"sub").c_str(), nullptr));
    for (const wchar_t* name : {L"inner", L"inner\\deeper", L"a long folder name"})
      ASSERT_TRUE(CreateDirectoryW(tree_.File(name).c_str(), nullptr)) << name;
    ASSERT_TRUE(testsupport::WriteFileBytes(tree_.File(L"inner\\file.txt"), "file"));
    for (const wchar_t* link : {L"link", L"inner\\link"}) {
      links_.push_back(tree_.File(link));
      ASSERT_TRUE(testsupport::MakeFolderLink(outside_.Path(), links_.back())) << links_.back();
      ASSERT_TRUE(GetFileAttributesW(links_.back().c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
    }
  }
  void TearDown() override {
    for (const auto& link : links_) EXPECT_TRUE(testsupport::RemoveFolderLink(link)) << link;
  }

  ScratchFolder outside_;
  ScratchFolder tree_;
  std::vector<std::wstring> links_;
};

}  // namespace

TEST_F(TrustedFolderTest, AcceptsOnlyCanonicalExistingUnlinkedFoldersBelowTheTemporaryDirectory) {
  std::wstring temp;
  ASSERT_TRUE(stubframework::utils::GetLongTempPath(temp));
  wchar_t shortForm[MAX_PATH] = {};
  DWORD length = GetShortPathNameW(tree_.File(L"a long folder name").c_str(), shortForm, MAX_PATH);
  ASSERT_TRUE(length > 0 && length < MAX_PATH);
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  std::wstring drive = temp.substr(0, 3);
  const std::vector<std::pair<std::wstring, bool>> cases = {
      {tree_.Path(), true},
      {tree_.File(L"inner"), true},
      {tree_.File(L"inner\\deeper\\"), true},
      {tree_.File(L"a long folder name\\"), true},
      {tree_.File(L"missing\\"), false},
      {tree_.File(L"inner\\file.txt"), false},
      {temp, false},
      {L"", false},
      {drive, false},
      {L"\\", false},
      {std::wstring(system) + L"\\", false},
      {L"\\\\server\\share\\", false},
      {L"\\\\?\\" + tree_.File(L"inner\\"), false},
      // Other spellings of a folder that is trusted in its own.
      {tree_.File(L"inner\\..\\inner\\"), false},
      {tree_.File(L"missing\\..\\inner\\"), false},
      {tree_.File(L"missing/../inner\\"), false},
      {tree_.File(L".\\inner\\"), false},
      {tree_.File(L"inner\\\\deeper\\"), false},
      {tree_.File(L"inner/deeper\\"), false},
      {tree_.File(L"inner.\\"), false},
      {tree_.File(L"inner \\"), false},
      {tree_.File(L"inner::$INDEX_ALLOCATION\\"), false},
      {std::wstring(shortForm) + L"\\", false},
      {temp + L"..\\" + temp.substr(3), false},
      // Links, as the folder itself and on the way to it.
      {tree_.File(L"link"), false},
      {tree_.File(L"link\\sub\\"), false},
      {tree_.File(L"inner\\link\\"), false},
      {tree_.File(L"inner\\link\\sub"), false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsTrustedTempFolder(c.first), c.second) << c.first;
}
