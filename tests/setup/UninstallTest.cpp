// Uninstall, repair and the package search: the commands built from the page's arguments, real
// Windows Installer runs of a package built by wixl, the product's registered uninstaller (the
// test installer program), the uninstall entry with its stub copy, and searches of folder trees
// made at test time, links included.
#include <gtest/gtest.h>

#include <windows.h>
#include <msi.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "core/FolderSecurity.h"
#include "core/FrameworkCore.h"
#include "core/Registry.h"
#include "core/UniqueHandle.h"
#include "core/WorkingFolders.h"
#include "methods/ExternalMethods.h"
#include "setup/CommandWorker.h"
#include "setup/PackageSearch.h"
#include "setup/UninstallEntry.h"
#include "setup/WorkerSet.h"
#include "setup/Workflow.h"
#include "support/TestCore.h"
#include "support/TestSupport.h"

using namespace stubframework;
using namespace stubframework::setup;
using testsupport::ReadFileBytes;
using testsupport::RecordingCallback;
using testsupport::ScratchFolder;

namespace {

const wchar_t kGoodProduct[] = L"{4D1E6A2B-7C3F-4B8E-9A51-2E6F0C8D3B71}";
// A product nobody installs: only its registered uninstall string exists.
const wchar_t kProbeProduct[] = L"{2C6E8A0B-4D1F-4E3A-9B5C-7D9F1B3E5A86}";
const wchar_t kUninstallSubkey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::wstring Fixture(const std::wstring& name) {
  wchar_t folder[MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableW(L"HALVERN_INSTALL_FIXTURES", folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return L"";
  return std::wstring(folder, length) + name;
}

std::wstring ReadWideFile(const std::wstring& path) {
  std::string bytes = ReadFileBytes(path);
  return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

// What the callback of a worker that ends with result has seen: one call with the result alone.
std::vector<std::vector<int>> OneCall(Config_ErrorHandle result) { return {std::vector<int>{int(result)}}; }

// Wine's msiexec answers 1 to a repair by product code, which it does not implement.
bool UnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

using Arg = testsupport::ScriptArgument;

// A core with what the workers use, and the script methods called on a single-threaded
// apartment that serves the workers' callbacks.
class UninstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Fixture(L"installer.exe").empty()) << "HALVERN_INSTALL_FIXTURES is not set";
  }
  HRESULT Call(ScriptMethod method, std::vector<Arg> args, WORD flags = DISPATCH_METHOD) {
    return worker_.Call(method, args, flags);
  }
  // Calls a worker method and returns every call of its callback once the worker ended.
  std::vector<std::vector<int>> CallAndAwait(ScriptMethod method, std::vector<Arg> args) {
    return worker_.CallAndAwait(method, args);
  }
  std::string LogText() { return worker_.LogText(); }
  static bool Has(const std::string& text, const std::wstring& part) {
    return text.find(std::string(part.begin(), part.end())) != std::string::npos;
  }
  std::wstring LogFolder() {
    std::wstring logs;
    EXPECT_TRUE(utils::GetRunLogFolder(logs));
    return logs;
  }

  testsupport::TestCore worker_;
  core::StubParameters& parameters_ = worker_.parameters;
  core::FrameworkCore& core_ = worker_.core;
  ScratchFolder scratch_;
};

}  // namespace

TEST(UninstallSteps, CodesLogNamesCommandsAndPackageFoldersComeFromTheirInputs) {
  const std::wstring guid = L"4D1E6A2B-7C3F-4B8E-9A51-2E6F0C8D3B71";
  const struct {
    std::wstring code;
    const wchar_t* normalised;  // null: refused
  } codes[] = {
      {guid, kGoodProduct},
      {L"{" + guid + L"}", kGoodProduct},
      {L"{4d1e6a2b-7c3f-4b8e-9a51-2e6f0c8d3b71}", L"{4d1e6a2b-7c3f-4b8e-9a51-2e6f0c8d3b71}"},
      {L"HLVN", nullptr},
      {L"", nullptr},
      {L"{" + guid, nullptr},
      {guid + L"}", nullptr},
      {L"4D1E6A2B-7C3F-4B8E-9A51-2E6F0C8D3B7G", nullptr},
      {L"4D1E6A2B7C3F-4B8E-9A51-2E6F0C8D3B71-", nullptr},
      {guid + L" /qn REMOVE=ALL", nullptr},
      {L"..\\..\\Run", nullptr},
  };
  for (const auto& c : codes) {
    std::wstring normalised = L"unchanged";
    EXPECT_EQ(NormaliseProductCode(c.code, normalised), c.normalised != nullptr) << c.code;
    EXPECT_EQ(normalised, c.normalised ? c.normalised : L"unchanged") << c.code;
  }

  const std::vector<std::pair<std::wstring, std::wstring>> names = {
      {L"Halvern 2", L"Halvern 2"},   {L"..\\..\\Windows\\x", L"Windowsx"}, {L"a/../b", L"ab"},
      {L"C:evil", L"Cevil"},          {L"x\" /i \"y", L"x i y"},           {L"....", L""},
      {L"v1.2", L"v1.2"},             {L".\\.", L""},                    {L"a\tb*?<>|", L"ab"},
  };
  for (const auto& c : names) EXPECT_EQ(CleanLogName(c.first), c.second) << c.first;

  const std::wstring log = L"C:\\T\\HLVN_log\\remove_a_20240102030405.log";
  const std::wstring switches = L"/qn /norestart /l*v \"" + log + L"\"";
  const std::wstring msiexec = L"msiexec.exe /uninstall " + std::wstring(kGoodProduct) + L" " + switches;
  const struct {
    const wchar_t* registered;
    bool force;
    const wchar_t* application;
    std::wstring commandLine;
  } removes[] = {
      {L"", false, L"C:\\Sys\\msiexec.exe", msiexec},
      {L"\"C:\\P\\uninst.exe\" /S ", false, L"", L"\"C:\\P\\uninst.exe\" /S " + switches},
      {L"\"C:\\P\\uninst.exe\" /S ", true, L"C:\\Sys\\msiexec.exe", msiexec},
      {L"MsiExec.exe /X{4D1E6A2B-7C3F-4B8E-9A51-2E6F0C8D3B71}", false, L"C:\\Sys\\msiexec.exe", msiexec},
      {L"msiexec.exe /X{x}", false, L"", L"msiexec.exe /X{x}" + switches},
  };
  for (const auto& c : removes) {
    Command command = RemoveCommand(L"C:\\Sys", c.registered, c.force, kGoodProduct, log);
    EXPECT_EQ(command.application, c.application) << c.registered << " force " << c.force;
    EXPECT_EQ(command.commandLine, c.commandLine) << c.registered << " force " << c.force;
  }
  Command repair = MsiexecCommand(L"C:\\Sys", L"/f", kGoodProduct, log);
  EXPECT_EQ(repair.application, L"C:\\Sys\\msiexec.exe");
  EXPECT_EQ(repair.commandLine, L"msiexec.exe /f " + std::wstring(kGoodProduct) + L" " + switches);
  EXPECT_EQ(StubCommand(L"C:\\Program Data\\s.exe", L"/modify"), L"\"C:\\Program Data\\s.exe\" /modify ");

  const struct {
    const wchar_t* full;
    const wchar_t* relative;
    const wchar_t* found;  // null: no match
  } folders[] = {
      {L"C:\\t\\a\\b\\pkg\\setup.msi", L"pkg\\setup.msi", L"C:\\t\\a\\b\\"},
      {L"C:\\t\\a\\b\\pkg\\setup.msi", L"\\pkg\\setup.msi", L"C:\\t\\a\\b\\"},
      {L"C:\\t\\a\\setup.msi", L"setup.msi", L"C:\\t\\a\\"},
      {L"C:\\t\\apkg\\setup.msi", L"pkg\\setup.msi", nullptr},
      {L"C:\\t\\Pkg\\setup.msi", L"pkg\\setup.msi", nullptr},
      {L"C:\\pkg\\setup.msi\\b\\setup.msi", L"pkg\\setup.msi", nullptr},
      {L"setup.msi", L"setup.msi", nullptr},
      {L"C:\\t\\setup.msi", L"", nullptr},
  };
  for (const auto& c : folders) {
    std::wstring found = L"unchanged";
    EXPECT_EQ(PackageFolder(c.full, c.relative, found), c.found != nullptr) << c.full << " " << c.relative;
    EXPECT_EQ(found, c.found ? c.found : L"unchanged") << c.full << " " << c.relative;
  }
}

// A real uninstall and repair through msiexec.exe of the system folder, with a planted
// msiexec.exe in the current folder that must not run (it would answer 0 for anything).
TEST_F(UninstallTest, RemoveAndRepairRunWindowsInstallerWithAVerboseLogForTheErrorReport) {
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  if (MsiQueryProductStateW(kGoodProduct) != INSTALLSTATE_DEFAULT) {
    ASSERT_EQ(MsiInstallProductW(Fixture(L"install-good.msi").c_str(), L""), 0u);
  }
  wchar_t previous[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(CopyFileW(Fixture(L"installer.exe").c_str(), scratch_.File(L"msiexec.exe").c_str(), FALSE));
  ASSERT_TRUE(SetCurrentDirectoryW(scratch_.Path().c_str()));
  const std::wstring unknown = L"{0B2D4F6A-8C1E-4A3C-9E5B-7A9C1E3B5D97}";
  const struct {
    ScriptMethod method;
    std::vector<Arg> args;
    std::wstring command;  // the logged command up to the log file's name
    Config_ErrorHandle result;
    INSTALLSTATE state;
    bool logged;  // msiexec wrote its log (it does not for a product it does not know)
  } cases[] = {
      {&ExternalMethods::RepairProgram, {L"good"}, L"msiexec.exe /f " + std::wstring(kGoodProduct) + L" /qn /norestart /l*v \"" +
                                                      LogFolder() + L"repair_good_",
       UnderWine() ? Config_ErrorHandle::UnknowError : Config_ErrorHandle::NoError, INSTALLSTATE_DEFAULT, !UnderWine()},
      {&ExternalMethods::RemoveProgram, {L"..\\..\\go\"od", false},
       L"msiexec.exe /uninstall " + std::wstring(kGoodProduct) + L" /qn /norestart /l*v \"" + LogFolder() + L"remove_good_",
       Config_ErrorHandle::NoError, INSTALLSTATE_UNKNOWN, true},
      // An unknown product: msiexec answers 1605, the planted program would answer 0.
      {&ExternalMethods::RemoveProgram, {L"x", true},
       L"msiexec.exe /uninstall " + unknown + L" /qn /norestart /l*v \"" + LogFolder() + L"remove_x_",
       Config_ErrorHandle::UnknowError, INSTALLSTATE_UNKNOWN, false},
  };
  for (const auto& c : cases) {
    core_.analytics->ClearAttachments();
    std::vector<Arg> args = c.args;
    std::wstring code = c.command.find(unknown) != std::wstring::npos ? unknown : kGoodProduct;
    args.push_back(code.substr(1, 36));  // the page may leave the braces out
    std::vector<std::vector<int>> calls = CallAndAwait(c.method, args);
    ASSERT_EQ(calls.size(), 1u) << c.command;
    EXPECT_EQ(calls[0], std::vector<int>{int(c.result)}) << c.command;
    EXPECT_EQ(MsiQueryProductStateW(kGoodProduct), c.state) << c.command;
    EXPECT_TRUE(Has(LogText(), L"Uninstall " + c.command)) << c.command;
    EXPECT_TRUE(Has(LogText(), L", error handler " + std::to_wstring(int(c.result)) + L"\r\n")) << c.command;
    EXPECT_EQ(core_.external->GetInstallCurrent(), 150);
    const std::vector<std::wstring>& attached = core_.analytics->Attachments();
    ASSERT_EQ(attached.size(), 1u) << c.command;
    EXPECT_EQ(attached[0].rfind(LogFolder(), 0), 0u) << attached[0];
    EXPECT_TRUE(Has(LogText(), attached[0].substr(LogFolder().size()) + L"\", return ")) << attached[0];
    EXPECT_EQ(ReadFileBytes(attached[0]).size() > 0, c.logged) << attached[0];
  }
  SetCurrentDirectoryW(previous);
}

TEST_F(UninstallTest, RemoveTakesTheRegisteredUninstallerUnlessForcedOrWindowsInstallers) {
  const std::wstring out = scratch_.File(L"args.txt");
  const std::wstring probe = L"\"" + Fixture(L"installer.exe") + L"\" exit=1602 out=" + out + L" ";
  const std::wstring key = std::wstring(kUninstallSubkey) + kProbeProduct;
  const struct {
    const wchar_t* name;
    std::wstring registered;
    bool force;
    std::wstring code;
    bool probeRuns;
    Config_ErrorHandle result;
  } cases[] = {
      {L"probe", probe, false, kProbeProduct, true, Config_ErrorHandle::Cancelled},
      {L"forced", probe, true, kProbeProduct, false, Config_ErrorHandle::UnknowError},
      {L"msi", L"MsiExec.exe /X" + std::wstring(kProbeProduct) + L" out=" + out, false, kProbeProduct, false,
       Config_ErrorHandle::UnknowError},
      // No GUID: nothing runs, one final call.
      {L"bad", probe, false, L"x\" /i \"C:\\evil.msi", false, Config_ErrorHandle::Failure},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(utils::WriteRegistryString(L"HKEY_LOCAL_MACHINE\\" + key, L"UninstallString", c.registered, true));
    DeleteFileW(out.c_str());
    std::string before = LogText();
    std::vector<std::vector<int>> calls = CallAndAwait(&ExternalMethods::RemoveProgram, {c.name, c.force, c.code});
    EXPECT_EQ(calls, OneCall(c.result)) << c.name;
    std::string log = LogText().substr(before.size());
    std::wstring line = ReadWideFile(out);
    EXPECT_EQ(testsupport::PathExists(out), c.probeRuns) << c.name;
    if (c.probeRuns) {
      EXPECT_EQ(line.rfind(probe + L"/qn /norestart /l*v \"" + LogFolder() + L"remove_probe_", 0), 0u) << line;
      EXPECT_TRUE(Has(log, L"EMRemoveProgram  uninstallstring : " + probe + L"\r\n")) << c.name;
    }
    EXPECT_EQ(Has(log, L"Uninstall msiexec.exe /uninstall " + std::wstring(kProbeProduct)),
              !c.probeRuns && c.result != Config_ErrorHandle::Failure)
        << c.name;
    if (c.result == Config_ErrorHandle::Failure) {
      EXPECT_FALSE(Has(log, L"Uninstall ")) << c.name;
    }
  }
  testsupport::DeleteKeyTree(HKEY_LOCAL_MACHINE, key);
}

TEST_F(UninstallTest, UninstallEntryQuotesTheStubCopyInTheChosenViewAndRefusesALinkedFolder) {
  wchar_t common[MAX_PATH] = {};
  ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common)));
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::wstring selfName = std::wstring(self).substr(std::wstring(self).rfind(L'\\') + 1);
  const std::wstring copy = std::wstring(common) + L"\\Velmora\\" + testsupport::kProductCode + L"\\" + selfName;
  const std::wstring key = std::wstring(kUninstallSubkey) + kProbeProduct;
  for (bool view64 : {true, false}) {
    testsupport::DeleteKeyTree(HKEY_LOCAL_MACHINE, key);
    DeleteFileW(copy.c_str());
    // What a user wrote beside the copy while the folder let users write (as it does here, where
    // Wine keeps no access lists) goes when the folder is taken back.
    const std::wstring folder = copy.substr(0, copy.rfind(L'\\') + 1);
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    ASSERT_TRUE(testsupport::WriteFileBytes(folder + L"version.dll", "planted"));
    ASSERT_EQ(Call(&ExternalMethods::SetUninstallRegistryFromStub, {std::wstring(kProbeProduct).substr(1, 36), view64}),
              S_OK);
    EXPECT_EQ(ReadFileBytes(copy), ReadFileBytes(self)) << "the stub copy";
    EXPECT_FALSE(testsupport::PathExists(folder + L"version.dll"));
    EXPECT_EQ(utils::AppliedFolderSecurity(folder), utils::FolderSecurityText(utils::FolderAccess::kUsersReadAndExecute));
    const struct {
      const wchar_t* name;
      DWORD type;
      std::wstring data;
    } values[] = {
        {L"UninstallString", REG_EXPAND_SZ, L"\"" + copy + L"\" /uninstall "},
        {L"ModifyPath", REG_EXPAND_SZ, L"\"" + copy + L"\" /modify "},
        {L"WindowsInstaller", REG_DWORD, std::wstring(2, L'\0')},
        {L"DisplayIcon", REG_SZ, copy},
    };
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
      utils::RegistryKey opened;
      bool chosen = (view == KEY_WOW64_64KEY) == view64;
      ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | view, opened.Out()) == ERROR_SUCCESS, chosen)
          << "view64 " << view64;
      if (!opened.Valid()) continue;
      for (const auto& v : values) {
        wchar_t data[MAX_PATH + 20] = {};
        DWORD type = 0, size = sizeof(data);
        ASSERT_EQ(RegQueryValueExW(opened.Get(), v.name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size), ERROR_SUCCESS)
            << v.name;
        EXPECT_EQ(type, v.type) << v.name;
        size_t chars = type == REG_DWORD ? size / sizeof(wchar_t) : size / sizeof(wchar_t) - 1;
        EXPECT_EQ(std::wstring(data, chars), v.data) << v.name;
      }
    }
  }
  testsupport::DeleteKeyTree(HKEY_LOCAL_MACHINE, key);

  // Any user may create folders below the common application-data folder: a linked one is not
  // followed, so nothing lands where it points.
  const std::wstring link = std::wstring(common) + L"\\Velmora\\HLVN-linked";
  ASSERT_TRUE(testsupport::MakeFolderLink(scratch_.Path(), link));
  parameters_.productId = L"HLVN-linked";
  EXPECT_EQ(Call(&ExternalMethods::SetUninstallRegistryFromStub, {kProbeProduct, true}), S_OK);
  EXPECT_FALSE(testsupport::PathExists(scratch_.File(selfName)));
  utils::RegistryKey opened;
  EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, opened.Out()), ERROR_SUCCESS);
  EXPECT_TRUE(testsupport::RemoveFolderLink(link));
  EXPECT_EQ(Call(&ExternalMethods::SetUninstallRegistryFromStub, {kProbeProduct}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(&ExternalMethods::SetUninstallRegistryFromStub, {kProbeProduct, L"true"}), DISP_E_TYPEMISMATCH);
}

TEST_F(UninstallTest, PackageSearchFindsThePackageNeverEntersLinksAndEndsWhenCancelled) {
  ScratchFolder outside;
  const std::wstring root = scratch_.Path();
  for (const std::wstring folder : {L"a", L"a\\b", L"a\\b\\pkg", L"a\\other", L"c"})
    ASSERT_TRUE(CreateDirectoryW((root + folder).c_str(), nullptr)) << folder;
  ASSERT_TRUE(CreateDirectoryW(outside.File(L"pkg").c_str(), nullptr));
  for (const std::wstring& file : {root + L"a\\b\\pkg\\setup.msi", root + L"a\\other\\setup.msi",
                                  outside.File(L"pkg\\linked.msi")})
    ASSERT_TRUE(testsupport::WriteFileBytes(file, "package")) << file;
  // A loop back to the top of the tree, and a link to a package found nowhere else.
  ASSERT_TRUE(testsupport::MakeFolderLink(root, root + L"c\\loop"));
  ASSERT_TRUE(testsupport::MakeFolderLink(outside.Path(), root + L"c\\out"));
  const struct {
    std::wstring directory, relative;
    Config_ErrorHandle result;
    std::wstring found;
  } cases[] = {
      {root, L"pkg\\setup.msi", Config_ErrorHandle::NoError, root + L"a\\b\\"},
      {root.substr(0, root.size() - 1), L"b\\pkg\\setup.msi", Config_ErrorHandle::NoError, root + L"a\\"},
      {root, L"pkg\\linked.msi", Config_ErrorHandle::Failure, L""},
      {root, L"pkg\\missing.msi", Config_ErrorHandle::Failure, L""},
      {L"", L"pkg\\setup.msi", Config_ErrorHandle::Failure, L""},
  };
  for (const auto& c : cases) {
    core_.external->SetProperty(L"PackagePath", L"stale");
    EXPECT_EQ(CallAndAwait(&ExternalMethods::VerifyFileInSpecialDirectory, {c.directory, c.relative}),
              OneCall(c.result))
        << c.directory << " " << c.relative;
    EXPECT_EQ(core_.external->GetProperty(L"PackagePath"), c.found) << c.directory << " " << c.relative;
  }
  EXPECT_TRUE(testsupport::RemoveFolderLink(root + L"c\\loop"));
  EXPECT_TRUE(testsupport::RemoveFolderLink(root + L"c\\out"));

  // 600 folders of which none holds the package; the cancel follows the start at once.
  for (int i = 0; i < 24; ++i) {
    std::wstring folder = root + L"wide" + std::to_wstring(i);
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    for (int j = 0; j < 24; ++j) CreateDirectoryW((folder + L"\\" + std::to_wstring(j)).c_str(), nullptr);
  }
  RecordingCallback callback;
  ASSERT_EQ(Call(&ExternalMethods::VerifyFileInSpecialDirectory, {root, L"pkg\\missing.msi", &callback}), S_OK);
  ASSERT_EQ(Call(&ExternalMethods::CancelVerifyThread, {}), S_OK);
  callback.AwaitFinal(60000);
  EXPECT_EQ(callback.calls, OneCall(Config_ErrorHandle::Cancelled));
  EXPECT_TRUE(Has(LogText(), L"EMCancelVerifyThread Finish\r\n"));
  EXPECT_TRUE(Has(LogText(), L"VerifyThreadFunc 0 - 0 ; common directory: \r\n"));
  EXPECT_EQ(Call(&ExternalMethods::CancelVerifyThread, {}, DISPATCH_METHOD | DISPATCH_PROPERTYGET),
            DISP_E_MEMBERNOTFOUND);
}
