// The "shortcut=" argument: the stub file the user started, read by getCurrentPath.
#include <gtest/gtest.h>

#include <string>

#include "core/CommandLine.h"

using namespace stubframework;

TEST(ShortcutPath, FirstArgumentThatBeginsWithTheKey) {
  std::wstring path;
  EXPECT_TRUE(core::GetShortcutPath(L"stub.exe run=1 shortcut=\"C:\\My Files\\setup.exe\"", path));
  EXPECT_EQ(path, L"C:\\My Files\\setup.exe");
  EXPECT_TRUE(core::GetShortcutPath(L"stub.exe Shortcut=C:\\a.exe shortcut=C:\\b.exe shortcut=C:\\c.exe", path));
  EXPECT_EQ(path, L"C:\\b.exe") << "case-sensitive, first match";
  EXPECT_TRUE(core::GetShortcutPath(L"shortcut=C:\\zero\\stub.exe run=1", path));
  EXPECT_EQ(path, L"C:\\zero\\stub.exe") << "argument 0 counts";
  path = L"unchanged";
  EXPECT_FALSE(core::GetShortcutPath(L"stub.exe run=1 xshortcut=C:\\a.exe", path));
  EXPECT_EQ(path, L"unchanged");
}
