// The launch and reboot methods: the relaunch command after a restart, the keys and command lines
// of the launch-on-exit programs, and the registry views and programs the methods touch. The
// resumed-run and dialog paths run as script scenarios (scripts/launch_*.js).
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/FolderSecurity.h"
#include "core/FrameworkCore.h"
#include "core/UniqueHandle.h"
#include "methods/ExternalMethods.h"
#include "methods/LaunchMethods.h"
#include "support/TestCore.h"
#include "support/TestSupport.h"

using namespace stubframework;

namespace {

const wchar_t kRunOnce[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const wchar_t kTestKey[] = L"Software\\HalvernLaunchTest";
const wchar_t kGuid[] = L"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0";
// The product's launch-on-exit entry.
const std::wstring kRunOnceName = testsupport::kProductCode + L"_" + testsupport::kProductMajorVersion;

bool ReadValue(REGSAM view, const std::wstring& subkey, const std::wstring& name, std::wstring& value) {
  wchar_t buffer[512] = {};
  DWORD size = sizeof(buffer) - sizeof(wchar_t);
  DWORD flags = RRF_RT_REG_SZ | (view == KEY_WOW64_32KEY ? RRF_SUBKEY_WOW6432KEY : RRF_SUBKEY_WOW6464KEY);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, subkey.c_str(), name.c_str(), flags, nullptr, buffer, &size) != ERROR_SUCCESS)
    return false;
  value = buffer;
  return true;
}

bool WriteValue(REGSAM view, const std::wstring& subkey, const std::wstring& name, DWORD type, const void* data,
                DWORD size) {
  utils::RegistryKey key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, key.Out(),
                      nullptr) != ERROR_SUCCESS)
    return false;
  return RegSetValueExW(key.Get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
}

bool WriteText(REGSAM view, const std::wstring& subkey, const std::wstring& name, const std::wstring& text) {
  return WriteValue(view, subkey, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void DeleteValue(REGSAM view, const std::wstring& subkey, const std::wstring& name) {
  utils::RegistryKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_SET_VALUE | view, key.Out()) != ERROR_SUCCESS) return;
  RegDeleteValueW(key.Get(), name.c_str());
}

// A core with its method object, and the HKLM values a test wrote removed.
class LaunchMethodsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY})
      for (const std::wstring& name : {kRunOnceName, std::wstring(L"HalvernLaunchTestOther")})
        DeleteValue(view, kRunOnce, name);
    testsupport::DeleteKeyTree(HKEY_LOCAL_MACHINE, kTestKey);
  }
  bool Logged(const std::string& line) {
    return testsupport::ReadFileBytes(core_.log->FilePath()).find(line + "\r\n") != std::string::npos;
  }
  HRESULT Call(ScriptMethod method, WORD flags, const std::vector<testsupport::ScriptArgument>& arguments,
               VARIANT* result) {
    return test_.Call(method, arguments, flags, result);
  }

  // Outside an apartment, as a thread of a machine without a desktop shell to reach.
  testsupport::TestCore test_{nullptr, testsupport::TestCore::Apartment::kNone};
  core::FrameworkCore& core_ = test_.core;
};

}  // namespace

TEST(RunOnceEntry, NamesTheProductAndQuotesTheStubCopy) {
  EXPECT_EQ(methods::RunOnceValueName(testsupport::kProductCode, testsupport::kProductVersion), kRunOnceName);
  EXPECT_EQ(methods::RunOnceValueName(L"X", L"5"), L"X_5");
  const struct {
    const wchar_t* stubCopy;
    const wchar_t* resume;
    const wchar_t* command;
  } cases[] = {
      {L"C:\\ProgramData\\Velmora\\HLVN\\setup.exe", L"INSTALLING",
       L"\"C:\\ProgramData\\Velmora\\HLVN\\setup.exe\" RESUME=INSTALLING"},
      {L"D:\\All Users\\Velmora\\HLVN\\Halvern Setup (2).exe", L"Installing",
       L"\"D:\\All Users\\Velmora\\HLVN\\Halvern Setup (2).exe\" RESUME=Installing"},
  };
  for (const auto& c : cases) EXPECT_EQ(methods::RunOnceCommand(c.stubCopy, c.resume), c.command) << c.stubCopy;
}

TEST(LaunchOnExitKeys, AcceptOnlyAGuidThatIsAWholeKeyComponent) {
  const std::wstring guid = kGuid;
  const struct {
    std::wstring launchOnExit, guid;
    const wchar_t* parent;  // null: refused
  } cases[] = {
      {L"Vendor\\Apps\\" + guid, guid, L"Software\\Vendor\\Apps"},
      {L"Vendor\\" + guid + L"\\List", guid, L"Software\\Vendor"},
      {guid, guid, L"Software"},
      {L"Vendor\\" + guid + L"\\" + guid, guid, L"Software\\Vendor"},
      {L"Microsoft", L"Microsoft", nullptr},
      {L"Vendor\\Microsoft\\Apps", L"Microsoft", nullptr},
      {L"Vendor\\Apps\\x" + guid, guid, nullptr},
      {L"Vendor\\Apps\\" + guid + L"x", guid, nullptr},
      {L"app.exe--id=" + guid, guid, nullptr},
      {L"Vendor\\Apps", guid, nullptr},
      {L"Vendor\\{" + guid + L"}", L"{" + guid + L"}", nullptr},
      {L"Vendor\\0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1FG", L"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1FG", nullptr},
      {L"Vendor\\0F1E2D3C-4B5A-6978-8796+A5B4C3D2E1F0", L"0F1E2D3C-4B5A-6978-8796+A5B4C3D2E1F0", nullptr},
      {L"", L"", nullptr},
  };
  for (const auto& c : cases) {
    std::wstring appsKey, parentKey;
    EXPECT_EQ(methods::LaunchOnExitKeys(c.launchOnExit, c.guid, appsKey, parentKey), c.parent != nullptr)
        << testing::PrintToString(c.launchOnExit);
    EXPECT_EQ(appsKey, L"Software\\" + c.launchOnExit);
    if (c.parent) {
      EXPECT_EQ(parentKey, c.parent) << testing::PrintToString(c.launchOnExit);
    }
  }
}

TEST(SplitRegApp, PassesEachArgumentAfterABlankWithoutItsQuotes) {
  const struct {
    const wchar_t* commandLine;
    const wchar_t* file;  // null: refused
    const wchar_t* parameters;
  } cases[] = {
      {L"\"C:\\Program Files\\P\\p.exe\" /quiet \"a b\"", L"C:\\Program Files\\P\\p.exe", L" /quiet a b"},
      {L"C:\\P\\p.exe", L"C:\\P\\p.exe", L""},
      {L"p.exe  x\ty", L"p.exe", L" x y"},
      {L"", nullptr, nullptr},
      {L" \t ", nullptr, nullptr},
      {L"\"\" /quiet", nullptr, nullptr},
  };
  for (const auto& c : cases) {
    std::wstring file, parameters;
    ASSERT_EQ(methods::SplitRegApp(c.commandLine, file, parameters), c.file != nullptr) << c.commandLine;
    if (!c.file) continue;
    EXPECT_EQ(file, c.file);
    EXPECT_EQ(parameters, c.parameters);
  }
}

TEST_F(LaunchMethodsTest, CollectRegAppsReadsTheRegAppStringsOfThe32BitView) {
  const std::wstring apps = std::wstring(kTestKey) + L"\\Apps";
  const DWORD number = 1;
  ASSERT_TRUE(WriteText(KEY_WOW64_32KEY, apps, L"regApp1", L"\"C:\\P\\one.exe\" /quiet"));
  ASSERT_TRUE(WriteText(KEY_WOW64_32KEY, apps, L"RegApp3", L"capital.exe"));
  ASSERT_TRUE(WriteText(KEY_WOW64_32KEY, apps, L"other", L"other.exe"));
  ASSERT_TRUE(WriteValue(KEY_WOW64_32KEY, apps, L"regAppNumber", REG_DWORD, &number, sizeof(number)));
  ASSERT_TRUE(WriteText(KEY_WOW64_32KEY, apps, L"regApp2", L"two.exe"));
  ASSERT_TRUE(WriteText(KEY_WOW64_64KEY, apps, L"regApp64", L"sixty-four.exe"));
  // The registry ignores the case of value names; the "regApp" prefix does not.
  std::vector<std::wstring> collected = methods::CollectRegApps(apps);
  std::sort(collected.begin(), collected.end());
  EXPECT_EQ(collected, (std::vector<std::wstring>{L"\"C:\\P\\one.exe\" /quiet", L"two.exe"}));
  EXPECT_TRUE(methods::CollectRegApps(std::wstring(kTestKey) + L"\\Missing").empty());
}

// The relaunch belongs to the machine's own start list; another program's entry there is not ours.
// It starts the stub copy in the product's protected folder, the uninstall entry's copy, never a
// file the user's programs could replace.
TEST_F(LaunchMethodsTest, RunOnceValueNamesTheProtectedStubCopyAndIsWrittenAndRemovedInThe64BitViewAlone) {
  wchar_t common[MAX_PATH] = {}, self[MAX_PATH] = {};
  ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common)));
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::wstring folder = std::wstring(common) + L"\\Velmora\\" + testsupport::kProductCode + L"\\";
  const std::wstring copy = folder + std::wstring(self).substr(std::wstring(self).rfind(L'\\') + 1);
  DeleteFileW(copy.c_str());
  ASSERT_EQ(Call(&ExternalMethods::RunAfterReboot, DISPATCH_METHOD, {L"DOWNLOADING"}, nullptr), S_OK);
  std::wstring value;
  ASSERT_TRUE(ReadValue(KEY_WOW64_64KEY, kRunOnce, kRunOnceName, value));
  EXPECT_EQ(value, L"\"" + copy + L"\" RESUME=DOWNLOADING");
  EXPECT_TRUE(testsupport::ReadFileBytes(copy) == testsupport::ReadFileBytes(self)) << "the stub copy";
  EXPECT_EQ(utils::AppliedFolderSecurity(folder), utils::FolderSecurityText(utils::FolderAccess::kUsersReadAndExecute));
  EXPECT_FALSE(ReadValue(KEY_WOW64_32KEY, kRunOnce, kRunOnceName, value));
  EXPECT_TRUE(Logged("EMRunAfterReboot") && Logged("EMRunAfterReboot DOWNLOADING"));

  ASSERT_TRUE(WriteText(KEY_WOW64_64KEY, kRunOnce, L"HalvernLaunchTestOther", L"other.exe"));
  ASSERT_TRUE(WriteText(KEY_WOW64_32KEY, kRunOnce, kRunOnceName, L"thirty-two.exe"));
  ASSERT_EQ(Call(&ExternalMethods::UndoRunAfterReboot, DISPATCH_METHOD, {}, nullptr), S_OK);
  EXPECT_FALSE(ReadValue(KEY_WOW64_64KEY, kRunOnce, kRunOnceName, value));
  EXPECT_TRUE(ReadValue(KEY_WOW64_64KEY, kRunOnce, L"HalvernLaunchTestOther", value));
  EXPECT_TRUE(ReadValue(KEY_WOW64_32KEY, kRunOnce, kRunOnceName, value));
  EXPECT_EQ(Call(&ExternalMethods::UndoRunAfterReboot, DISPATCH_METHOD, {}, nullptr), S_OK) << "nothing to remove";
  EXPECT_TRUE(Logged("EMUndoRunAfterReboot"));
  DeleteFileW(copy.c_str());
}

// A bare "cmd.exe" would be looked for in the current folder before the system folder.
TEST_F(LaunchMethodsTest, ExecuteCommandStartsTheSystemShellNotOneInTheWorkingFolder) {
  testsupport::ScratchFolder folder;
  ASSERT_TRUE(CopyFileW((testsupport::ProgramFolder() + L"install_probe.exe").c_str(), folder.File(L"cmd.exe").c_str(),
                        FALSE));
  wchar_t previous[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(folder.Path().c_str()));
  const std::wstring planted = folder.File(L"planted.txt"), real = folder.File(L"real.txt");
  // The planted program records its command line to out=; the system shell runs the echo.
  VARIANT result = {};
  HRESULT hr = Call(&ExternalMethods::ExecuteCommand, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                    {L"out=" + planted + L" & echo done> " + real}, &result);
  SetCurrentDirectoryW(previous);
  ASSERT_EQ(hr, S_OK);
  EXPECT_EQ(result.vt, VT_BOOL);
  EXPECT_EQ(result.boolVal, VARIANT_TRUE);
  for (int i = 0; i < 300 && !testsupport::PathExists(real) && !testsupport::PathExists(planted); ++i) Sleep(100);
  EXPECT_TRUE(testsupport::PathExists(real));
  EXPECT_FALSE(testsupport::PathExists(planted));

  // Only the start of the shell is reported, not what the command did.
  result = {};
  ASSERT_EQ(Call(&ExternalMethods::ExecuteCommand, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {L"exit 1"}, &result), S_OK);
  EXPECT_EQ(result.boolVal, VARIANT_TRUE);
  EXPECT_TRUE(Logged("EMExecuteCommand: exit 1, result: success"));
  // The shell may still hold the file it wrote while the scratch folder goes.
  for (int i = 0; i < 50 && !DeleteFileW(real.c_str()); ++i) Sleep(100);
}

// The handler of an address is whatever the user's own classes name: with no desktop shell to ask,
// openPage and startProgram open nothing rather than run that handler as administrator.
TEST_F(LaunchMethodsTest, WithoutTheDesktopShellNothingIsOpenedByTheUsersHandler) {
  testsupport::ScratchFolder folder;
  const std::wstring marker = folder.File(L"handler-ran.txt");
  const std::wstring scheme = L"Software\\Classes\\halvern-planted";
  const std::wstring handler = testsupport::ProgramFolder() + L"install_probe.exe out=" + marker;
  // The user's own classes are where a program of the user plants it; Wine's shell reads only the
  // machine's, so the test registers it there as well.
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    utils::RegistryKey key;
    ASSERT_EQ(RegCreateKeyExW(root, (scheme + L"\\shell\\open\\command").c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              key.Out(), nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(handler.c_str()),
                   static_cast<DWORD>((handler.size() + 1) * sizeof(wchar_t)));
    ASSERT_EQ(RegSetKeyValueW(root, scheme.c_str(), L"URL Protocol", REG_SZ, L"", sizeof(wchar_t)), ERROR_SUCCESS);
  }

  VARIANT result = {};
  ASSERT_EQ(Call(&ExternalMethods::OpenPage, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {L"halvern-planted:page"}, &result),
            S_OK);
  EXPECT_EQ(result.boolVal, VARIANT_FALSE);
  EXPECT_TRUE(Logged("ZSOpenPage: halvern-planted:page, result: fail"));
  ASSERT_EQ(Call(&ExternalMethods::StartProgram, DISPATCH_METHOD, {L"halvern-planted:program", L""}, nullptr), S_OK);
  EXPECT_NE(testsupport::ReadFileBytes(core_.log->FilePath()).find("EMStartProgram halvern-planted:program: the desktop"),
            std::string::npos);
  Sleep(3000);  // a handler started by the system would have written its marker by now
  EXPECT_FALSE(testsupport::PathExists(marker));
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) testsupport::DeleteKeyTree(root, scheme.c_str());
}
