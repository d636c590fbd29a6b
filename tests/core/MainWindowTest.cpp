// Placement rule, resizing, the message loop without an HTML engine, and the end-of-run work.
#include <gtest/gtest.h>

#include <climits>

#include "core/FrameworkCore.h"
#include "core/MainWindow.h"
#include "core/Registry.h"
#include "core/WorkingFolders.h"
#include "htmlui/HtmlExternal.h"
#include "support/TestCore.h"
#include "support/TestSupport.h"

using namespace stubframework::core;

namespace {

WindowMetrics Screen(int dpi, RECT work) {
  WindowMetrics metrics;
  metrics.dpi = dpi;
  metrics.style = WS_POPUP | WS_VISIBLE;
  metrics.exStyle = WS_EX_APPWINDOW;
  metrics.workArea = work;
  metrics.reference = work;
  return metrics;
}

}  // namespace

TEST(PlaceWindow, ScalesByTheDpiAndCentresOnTheReference) {
  RECT rect = PlaceWindow(Screen(144, {0, 0, 1920, 1040}), 600, 400);
  EXPECT_EQ(rect.right - rect.left, 900);
  EXPECT_EQ(rect.bottom - rect.top, 600);
  EXPECT_EQ(rect.left, (1920 - 900) / 2);
  EXPECT_EQ(rect.top, (1040 - 600) / 2);

  rect = PlaceWindow(Screen(96, {0, 0, 1280, 1024}), 400, 200);
  EXPECT_EQ(rect.left, 440);
  EXPECT_EQ(rect.top, 412);
  EXPECT_EQ(rect.right, 840);

  // A second monitor left of the primary one, and a window owned by another one.
  WindowMetrics owned = Screen(96, {-1920, 0, 0, 1080});
  owned.reference = {-1000, 100, -600, 300};
  rect = PlaceWindow(owned, 200, 100);
  EXPECT_EQ(rect.left, -900);
  EXPECT_EQ(rect.top, 150);
}

// The page may ask for any int: the size is scaled without overflow and kept between nothing and
// the whole work area, which the window then fills from its left and top edges.
TEST(PlaceWindow, SizesBeyondTheWorkAreaOrBelowZeroAreClampedToIt) {
  struct Case {
    int dpi, width, height;
    RECT expected;
  } cases[] = {
      {96, 2000, 1500, {100, 50, 900, 650}},
      {96, INT_MAX, INT_MAX, {100, 50, 900, 650}},
      {144, INT_MAX, 100, {100, 275, 900, 425}},
      {288, 1000000000, 10, {100, 335, 900, 365}},  // 3e9 device pixels wide
      {96, -100, -5, {500, 350, 500, 350}},
      {144, INT_MIN, INT_MIN, {500, 350, 500, 350}},
      {96, 300, INT_MIN, {350, 350, 650, 350}},
  };
  for (const Case& c : cases) {
    RECT rect = PlaceWindow(Screen(c.dpi, {100, 50, 900, 650}), c.width, c.height);
    EXPECT_EQ(rect.left, c.expected.left) << c.dpi << " " << c.width << " x " << c.height;
    EXPECT_EQ(rect.top, c.expected.top) << c.dpi << " " << c.width << " x " << c.height;
    EXPECT_EQ(rect.right, c.expected.right) << c.dpi << " " << c.width << " x " << c.height;
    EXPECT_EQ(rect.bottom, c.expected.bottom) << c.dpi << " " << c.width << " x " << c.height;
  }
  // A border the window style adds stays within the work area too.
  WindowMetrics framed = Screen(96, {100, 50, 900, 650});
  framed.style = WS_OVERLAPPEDWINDOW;
  RECT rect = PlaceWindow(framed, INT_MAX, INT_MAX);
  EXPECT_EQ(rect.left, 100);
  EXPECT_EQ(rect.right, 900);
  EXPECT_EQ(rect.bottom, 650);
}

class WindowedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::DeleteKeyTree(HKEY_CURRENT_USER, testsupport::kProductSubkey);
    core_ = CreateFrameworkCore();
    ASSERT_NE(core_, nullptr);
  }
  void TearDown() override {
    ReleaseFrameworkCore(core_);
    testsupport::DeleteKeyTree(HKEY_CURRENT_USER, testsupport::kProductSubkey);
  }
  FrameworkCore* core_ = nullptr;
};

// A borderless pop-up like the main window, without a document.
HWND CreatePopup() {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"ResizeTestWindow";
  RegisterClassW(&windowClass);
  return CreateWindowExW(WS_EX_APPWINDOW, L"ResizeTestWindow", L"", WS_POPUP | WS_VISIBLE, 0, 0, 0, 0, nullptr,
                         nullptr, windowClass.hInstance, nullptr);
}

TEST(ComputeWindowRect, HugeAndNegativeSizesGiveARectangleInsideTheWorkArea) {
  HWND window = CreatePopup();
  ASSERT_NE(window, nullptr);
  RECT work = MeasureWindow(window).workArea;
  ASSERT_GT(work.right - work.left, 0);
  struct Case {
    int width, height;
    bool fills;
  } cases[] = {{INT_MAX, INT_MAX, true}, {INT_MAX / 2, INT_MAX / 3, true}, {-1, -1, false}, {INT_MIN, INT_MIN, false}};
  for (const Case& c : cases) {
    RECT rect = ComputeWindowRect(window, c.width, c.height);
    LONG w = rect.right - rect.left, h = rect.bottom - rect.top;
    EXPECT_EQ(w, c.fills ? work.right - work.left : 0) << c.width << " x " << c.height;
    EXPECT_EQ(h, c.fills ? work.bottom - work.top : 0) << c.width << " x " << c.height;
    EXPECT_GE(rect.left, work.left) << c.width;
    EXPECT_GE(rect.top, work.top) << c.width;
    EXPECT_LE(rect.right, work.right) << c.width;
    EXPECT_LE(rect.bottom, work.bottom) << c.width;
  }
  DestroyWindow(window);
}

TEST_F(WindowedTest, ResizeWindowAppliesSizeChangesOnly) {
  HWND window = CreatePopup();
  ASSERT_NE(window, nullptr);
  core_->external->SetWindow(window);

  EnsureDefaultSize(core_->external);
  RECT expected = ComputeWindowRect(window, 400, 200);
  RECT actual;
  GetWindowRect(window, &actual);
  EXPECT_EQ(actual.left, expected.left);
  EXPECT_EQ(actual.right - actual.left, expected.right - expected.left);

  ResizeWindow(core_->external, 600, 400);
  GetWindowRect(window, &actual);
  RECT placed = actual;
  // Moved elsewhere, then asked for the same size: nothing moves.
  SetWindowPos(window, nullptr, 5, 7, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ResizeWindow(core_->external, 600, 400);
  GetWindowRect(window, &actual);
  EXPECT_EQ(actual.left, 5);
  EXPECT_EQ(actual.top, 7);
  EXPECT_EQ(actual.right - actual.left, placed.right - placed.left);
  // A sized window is left alone by the default.
  EnsureDefaultSize(core_->external);
  GetWindowRect(window, &actual);
  EXPECT_EQ(actual.left, 5);

  core_->external->SetWindow(nullptr);
  DestroyWindow(window);
}

TEST_F(WindowedTest, WithoutAnHtmlEngineTheLoopEndsAtOnceAndLeavesNoWindow) {
  std::wstring folder;
  ASSERT_TRUE(stubframework::utils::CreateUniqueTempFolder(folder));
  ASSERT_TRUE(testsupport::WriteFileBytes(folder + L"Load.html", "<html></html>"));
  CoInitialize(nullptr);
  RunMessageLoop(folder, core_->external);
  CoUninitialize();
  EXPECT_EQ(core_->external->Window(), nullptr);
  EXPECT_EQ(FindWindowW(L"HTMLUI", nullptr), nullptr);
  EXPECT_FALSE(RequestClose(nullptr));
  stubframework::utils::DeleteFolderTree(folder);
}

TEST_F(WindowedTest, EndOfRunSettlesTheStatusCopiesTheLogAndRemovesExtractionFolders) {
  std::wstring inside, outside, logCopy;
  ASSERT_TRUE(stubframework::utils::CreateUniqueTempFolder(inside));
  ASSERT_TRUE(testsupport::WriteFileBytes(inside + L"setup.exe", "MZ"));
  // A folder outside the temporary directory is never deleted, whatever the property says.
  outside = L"C:\\HalvernOutside\\";
  ASSERT_TRUE(CreateDirectoryW(outside.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  core_->external->SetProperty(L"C:\\a.zip__ZIP_Unzip_Folder__", inside);
  core_->external->SetProperty(L"C:\\b.zip__ZIP_Unzip_Folder__", outside);
  // Nor is the folder behind a link made in the temporary directory, nor one named by a path
  // that climbs out of another.
  testsupport::ScratchFolder linkTarget, linkHome, climbedTo;
  for (const auto* folder : {&linkTarget, &climbedTo})
    ASSERT_TRUE(testsupport::WriteFileBytes(folder->File(L"keep.txt"), "keep"));
  const std::wstring link = linkHome.File(L"link");
  ASSERT_TRUE(testsupport::MakeFolderLink(linkTarget.Path(), link));
  core_->external->SetProperty(L"C:\\c.zip__ZIP_Unzip_Folder__", link + L"\\");
  std::wstring temp;
  ASSERT_TRUE(stubframework::utils::GetLongTempPath(temp));
  core_->external->SetProperty(L"C:\\d.zip__ZIP_Unzip_Folder__", inside + L"..\\" + climbedTo.Path().substr(temp.size()));
  core_->external->SetProperty(L"uninstallOption", L"Remove");
  ASSERT_TRUE(stubframework::utils::GetTempSubfolder(testsupport::kLogFolderName, logCopy));
  stubframework::utils::DeleteFolderTree(logCopy);

  // No UI package in a test program: the run ends in ERROR (2), a remove run: 92.
  RunUserInterface(core_, core_->external);
  EXPECT_EQ(core_->parameters->status, 92);
  std::wstring stored;
  ASSERT_TRUE(stubframework::utils::ReadRegistryValue(core_->parameters->registryKey, L"status", stored));
  EXPECT_EQ(stored, L"92");
  EXPECT_FALSE(testsupport::PathExists(inside));
  EXPECT_TRUE(testsupport::PathExists(outside));
  RemoveDirectoryW(outside.c_str());
  for (const auto* folder : {&linkTarget, &climbedTo})
    EXPECT_EQ(testsupport::ReadFileBytes(folder->File(L"keep.txt")), "keep") << folder->Path();
  EXPECT_TRUE(testsupport::RemoveFolderLink(link));

  std::wstring name = core_->log->FilePath().substr(core_->log->Folder().size());
  std::string copy = testsupport::ReadFileBytes(logCopy + name);
  EXPECT_NE(copy.find("Property uninstallOption: Remove"), std::string::npos);
  ASSERT_EQ(core_->analytics->Attachments().size(), 1u);
  EXPECT_EQ(core_->analytics->Attachments()[0], core_->log->FilePath());
  // The log was closed before the error report.
  std::string before = testsupport::ReadFileBytes(core_->log->FilePath());
  FrameworkLogDebug(core_, L"after the end");
  EXPECT_EQ(testsupport::ReadFileBytes(core_->log->FilePath()), before);
}
