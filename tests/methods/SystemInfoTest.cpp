#include <gtest/gtest.h>

#include "methods/SystemInfo.h"

using namespace stubframework;

TEST(OsAtLeast, MinimumOsTable) {
  OsVersion seven{6, 1, 7601}, eight1{6, 3, 9600}, ten{10, 0, 19045}, vista{6, 0, 6002};
  EXPECT_TRUE(OsAtLeast(L"Windows 10", ten));
  EXPECT_FALSE(OsAtLeast(L"Windows 10", eight1));
  EXPECT_TRUE(OsAtLeast(L"Windows 8.1", eight1));
  EXPECT_FALSE(OsAtLeast(L"Windows 8.1", seven));
  EXPECT_TRUE(OsAtLeast(L"Windows 7 SP1", seven));
  EXPECT_TRUE(OsAtLeast(L"Windows XP", vista));
  EXPECT_TRUE(OsAtLeast(L"Windows Vista", vista));
  // Unknown or differently written names require 6.1.
  EXPECT_FALSE(OsAtLeast(L"Windows 11", vista));
  EXPECT_TRUE(OsAtLeast(L"windows 10", seven));
  EXPECT_FALSE(OsAtLeast(L"Windows 7", OsVersion{}));
}

TEST(OsAtLeast, ReadsTheVersionOfTheRunningSystem) {
  OsVersion running = ReadOsVersionFromProcess();
  EXPECT_EQ(running.major, 10u);
  EXPECT_EQ(running.minor, 0u);
  EXPECT_GT(running.build, 0u);
}

TEST(UninstallMode, FirstMatchingArgumentIgnoringCase) {
  EXPECT_EQ(UninstallModeFromCommandLine(L"setup.exe /UNINSTALL"), L"uninstall");
  EXPECT_EQ(UninstallModeFromCommandLine(L"setup.exe /Modify"), L"modify");
  EXPECT_EQ(UninstallModeFromCommandLine(L"setup.exe x/uninstallx"), L"uninstall");
  EXPECT_EQ(UninstallModeFromCommandLine(L"setup.exe /modify /uninstall"), L"modify");
  EXPECT_EQ(UninstallModeFromCommandLine(L"\"C:\\a\\/modify\\setup.exe\""), L"modify");
  EXPECT_EQ(UninstallModeFromCommandLine(L"setup.exe uninstall"), L"");
}
