// The installers the install worker runs: Windows Installer packages built by wixl and installed
// for real into the test prefix, the test installer program, and ZIP packages holding it as
// setup.exe; the parameter cleaning and the progress handler on message sequences of their own.
#include <gtest/gtest.h>

#include <windows.h>
#include <msi.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "core/FrameworkCore.h"
#include "methods/ExternalMethods.h"
#include "core/WorkingFolders.h"
#include "core/ZipExtraction.h"
#include "setup/InstallExe.h"
#include "setup/InstallMsi.h"
#include "setup/InstallWorker.h"
#include "setup/WorkerSet.h"
#include "support/TestCore.h"
#include "support/TestSupport.h"

using namespace stubframework;
using namespace stubframework::setup;
using testsupport::ReadFileBytes;
using testsupport::RecordingCallback;
using testsupport::ScratchFolder;

namespace {

std::wstring Fixture(const std::wstring& name) {
  wchar_t folder[MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableW(L"HALVERN_INSTALL_FIXTURES", folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return L"";
  return std::wstring(folder, length) + name;
}

bool IsBelowWorkingRoot(const std::wstring& path) {
  std::wstring root;
  return utils::GetWorkingRoot(root) && path.size() > root.size() && _wcsnicmp(path.c_str(), root.c_str(), root.size()) == 0;
}

std::wstring ReadWideFile(const std::wstring& path) {
  std::string bytes = ReadFileBytes(path);
  return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Fixture(L"installer.exe").empty()) << "HALVERN_INSTALL_FIXTURES is not set";
  }
  bool Logged(const std::wstring& line) {
    std::string log = ReadFileBytes(core_.log->FilePath());
    return log.find(std::string(line.begin(), line.end()) + "\r\n") != std::string::npos;
  }
  int Current() { return core_.external->GetInstallCurrent(); }
  int Total() { return core_.external->GetInstallTotal(); }

  testsupport::TestCore test_;
  core::FrameworkCore& core_ = test_.core;
  ScratchFolder scratch_;
};

}  // namespace

TEST(TransferInstallError, MapsInstallerExitCodesToResults) {
  const std::vector<std::pair<DWORD, Config_ErrorHandle>> cases = {
      {0, Config_ErrorHandle::NoError},          {1602, Config_ErrorHandle::Cancelled},
      {1603, Config_ErrorHandle::Failure},       {1618, Config_ErrorHandle::OtherInstalling},
      {1641, Config_ErrorHandle::Reboot},        {3010, Config_ErrorHandle::Reboot},
      {1, Config_ErrorHandle::UnknowError},      {0xC0000005, Config_ErrorHandle::UnknowError}};
  core::FrameworkCore core;
  for (const auto& c : cases) EXPECT_EQ(TransferInstallError(&core, c.first), c.second) << c.first;
}

TEST(MsiParameters, StripsSwitchesOnlyWhereTheyBeginAnArgumentOutsideQuotes) {
  const std::vector<std::pair<std::wstring, std::wstring>> cases = {
      {L" A=1 /qn", L"A=1"},
      {L"/l*v x.log", L"x.log"},
      {L"/QN A=1 /Qb! B=2", L"A=1 B=2"},
      {L"URL=https://h/landing /qf", L"URL=https://h/landing"},
      {L"A=/lib/qn", L"A=/lib/qn"},
      {L"$logfile$ B=2", L"B=2"},
      {L"NOTE=\"say /qn and /l\" /qn", L"NOTE=\"say /qn and /l\""},
      {L"DIR=\"C:\\Program Files\\H\" /L*V \"C:\\my log.txt\"", L"DIR=\"C:\\Program Files\\H\" \"C:\\my log.txt\""},
      {L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(StripMsiSwitches(c.first), c.second) << c.first;
}

TEST(MsiParameters, ChooseTheUiLevelAndFilterFromWholeArguments) {
  const INSTALLUILEVEL basicNoCancel = static_cast<INSTALLUILEVEL>(INSTALLUILEVEL_BASIC | INSTALLUILEVEL_HIDECANCEL);
  const struct {
    const wchar_t* parameters;
    INSTALLUILEVEL level;
    DWORD filter;
  } cases[] = {
      {L"A=1 /qn", INSTALLUILEVEL_NONE, 0x400},      {L"/QF A=1", INSTALLUILEVEL_FULL, 0x2000},
      {L"/qb! /qf", INSTALLUILEVEL_FULL, 0x2000},    {L"/Qb!", basicNoCancel, 0x400},
      {L"/qf /qn", INSTALLUILEVEL_NONE, 0x400},      {L"A=/qn", INSTALLUILEVEL_DEFAULT, 0},
      {L"\"/qn x\"", INSTALLUILEVEL_DEFAULT, 0},     {L"", INSTALLUILEVEL_DEFAULT, 0},
  };
  for (const auto& c : cases) {
    MsiUiChoice choice = ChooseMsiUi(c.parameters);
    EXPECT_EQ(choice.level, c.level) << c.parameters;
    EXPECT_EQ(choice.filter, c.filter) << c.parameters;
  }
}

// Windows sends a reset for script generation and one for execution; Wine only the first.
TEST_F(InstallTest, ProgressHandlerCountsFromTheSecondResetOn) {
  const UINT progress = INSTALLMESSAGE_PROGRESS;
  const struct {
    const char* name;
    std::vector<std::pair<UINT, const wchar_t*>> messages;
    int total, current;
  } sequences[] = {
      {"windows",
       {{progress, L"1: 0 2: 50 3: 0 4: 0 "},  // script generation
        {progress, L"1: 2 2: 10 3: 0 "},
        {progress, L"1: 0 2: 1000 3: 0 4: 1 "},  // execution
        {progress, L"1: 1 2: 5 3: 1 "},
        {progress, L"1: 1 2: 7 3: 0 "},
        {progress, L"1: 2 2: 300 "},
        {progress, L"1: 0 2: 9 3: 0 "},  // later resets change nothing
        {progress, L"1: 2 2: 20 5: 99"},
        {INSTALLMESSAGE_INFO, L"1: 2 2: 500 "},
        {progress, nullptr},
        {progress, L"garbage"},
        {progress, L"1: 2 2: x"}},
       1005, 320},
      {"wine", {{progress, L"1: 0 2: 1000 3: 0 4: 0 "}, {progress, L"1: 2 2: 300 "}}, 1, 0},
      {"huge",
       {{progress, L"1: 0 2: 1 "}, {progress, L"1: 0 2: 99999999999999999999 "}, {progress, L"1: 2 2: 4294967295"}},
       -1 /* saturated */, -1},
  };
  for (const auto& sequence : sequences) {
    core_.external->InitProgressValues();
    ResetMsiProgressCounter();
    for (const auto& message : sequence.messages)
      EXPECT_EQ(MsiProgressHandler(core_.external, message.first, message.second), 0);
    if (sequence.total >= 0) {
      EXPECT_EQ(Total(), sequence.total) << sequence.name;
      EXPECT_EQ(Current(), sequence.current) << sequence.name;
    } else {
      EXPECT_EQ(core_.external->GetProperty(L"installTotal"), L"4294967295") << sequence.name;
      EXPECT_EQ(core_.external->GetProperty(L"installCurrent"), L"4294967295") << sequence.name;
    }
  }
}

TEST_F(InstallTest, InstallMsiInstallsPackagesAndMapsTheirAnswers) {
  const struct {
    const wchar_t* package;
    const wchar_t* productCode;
    Config_ErrorHandle result;
    LONG code;
    INSTALLSTATE state;
  } cases[] = {
      {L"install-good.msi", L"{4D1E6A2B-7C3F-4B8E-9A51-2E6F0C8D3B71}", Config_ErrorHandle::NoError, 0,
       INSTALLSTATE_DEFAULT},
      {L"install-fail.msi", L"{7B2C4E6A-8D0F-4A1C-9E3B-5D7F9A1C3E52}", Config_ErrorHandle::Failure, 1603,
       INSTALLSTATE_UNKNOWN},
      {L"install-reboot.msi", L"{9D4E6A8C-0F2B-4C3E-8A5D-7F9B1D3E5A74}", Config_ErrorHandle::Reboot, 3010,
       INSTALLSTATE_DEFAULT},
  };
  for (const auto& c : cases) {
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    if (MsiQueryProductStateW(c.productCode) == INSTALLSTATE_DEFAULT)
      MsiConfigureProductW(c.productCode, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
    // The caller's level comes back afterwards.
    MsiSetInternalUI(INSTALLUILEVEL_BASIC, nullptr);
    std::wstring file = Fixture(c.package);
    // The log goes exactly where the worker says, the name it hands to the error report.
    std::wstring log = scratch_.File(std::wstring(c.package) + L".log");
    EXPECT_EQ(InstallMsi(&core_, file, L"A=1 /qn $LOGFILE$", log), c.result) << c.package;
    EXPECT_NE(ReadFileBytes(log).size(), 0u) << c.package;
    EXPECT_EQ(core_.external->lastInstallError, c.code) << c.package;
    EXPECT_EQ(MsiQueryProductStateW(c.productCode), c.state) << c.package;
    EXPECT_TRUE(Logged(L"InstallMsi " + file + L", parameter: A=1")) << c.package;
    EXPECT_TRUE(Logged(L"InstallMsi " + file + L", return " + std::to_wstring(c.code))) << c.package;
    EXPECT_EQ(MsiSetInternalUI(INSTALLUILEVEL_NOCHANGE, nullptr), INSTALLUILEVEL_BASIC) << c.package;
    EXPECT_EQ(Current(), Total()) << c.package;
  }
}

TEST_F(InstallTest, InstallExePassesParametersAndMapsTheExitCode) {
  const std::wstring out = scratch_.File(L"args.txt");
  const struct {
    const wchar_t* exit;
    Config_ErrorHandle result;
  } cases[] = {{L"0", Config_ErrorHandle::NoError}, {L"3010", Config_ErrorHandle::Reboot},
               {L"1602", Config_ErrorHandle::Cancelled}, {L"7", Config_ErrorHandle::UnknowError}};
  const std::wstring file = Fixture(L"installer.exe");
  for (const auto& c : cases) {
    std::wstring parameters = L"A=\"x y\" exit=" + std::wstring(c.exit) + L" out=" + out;
    EXPECT_EQ(InstallExe(&core_, file, parameters, 0), c.result) << c.exit;
    EXPECT_EQ(core_.external->lastInstallError, std::stol(c.exit));
    EXPECT_EQ(ReadWideFile(out), L"\"" + file + L"\" " + parameters);
    EXPECT_TRUE(Logged(L"Install \"" + file + L"\" " + parameters + L", return " + c.exit));
  }
  EXPECT_EQ(InstallExe(&core_, scratch_.File(L"missing.exe"), L"A=1", 0), Config_ErrorHandle::Failure);
  EXPECT_TRUE(Logged(L"Install " + scratch_.File(L"missing.exe") + L", the program cannot be locked: 2"));
}

TEST_F(InstallTest, InstallExeProgressStopsOneShortOfTheEstimateUntilTheProgramEnds) {
  Config_ErrorHandle result = Config_ErrorHandle::Running;
  std::thread install([&] { result = InstallExe(&core_, Fixture(L"installer.exe"), L"sleep=5000", 1); });
  // Three seconds of a program that runs five: the estimate of one second is long over.
  int highest = -1;
  for (int i = 0; i < 300; ++i, Sleep(10)) highest = std::max(highest, Current());
  EXPECT_EQ(Total(), 10);
  install.join();
  EXPECT_EQ(highest, 9);
  EXPECT_EQ(result, Config_ErrorHandle::NoError);
  EXPECT_EQ(Current(), 10);

  // An estimate whose total passes 2^31 still ends with current at the total, which is what ends
  // the progress reporter.
  EXPECT_EQ(InstallExe(&core_, Fixture(L"installer.exe"), L"", 214748365), Config_ErrorHandle::NoError);
  EXPECT_EQ(core_.external->GetProperty(L"installTotal"), L"2147483650");
  EXPECT_EQ(core_.external->GetProperty(L"installCurrent"), L"2147483650");
}

TEST_F(InstallTest, InstallZipRunsSetupFromAFreshExtractionAndDeletesIt) {
  const std::wstring out = scratch_.File(L"args.txt");
  // The extraction counts one unit per entry, the estimate ten per second.
  for (const auto& [package, total] : {std::pair{L"setup-top.zip", 22}, std::pair{L"setup-nested.zip", 23}}) {
    core_.external->InitProgressValues();
    DeleteFileW(out.c_str());
    EXPECT_EQ(InstallZip(&core_, Fixture(package), L"exit=3010 out=" + out, 2), Config_ErrorHandle::Reboot);
    std::wstring line = ReadWideFile(out);
    ASSERT_GT(line.size(), 1u) << package;
    std::wstring setup = line.substr(1, line.find(L'"', 1) - 1);
    EXPECT_EQ(setup.substr(setup.size() - 10), L"\\setup.exe");
    EXPECT_TRUE(IsBelowWorkingRoot(setup)) << setup;
    EXPECT_FALSE(testsupport::PathExists(setup)) << "the extraction is deleted afterwards";
    EXPECT_EQ(Total(), total) << package;
    EXPECT_EQ(Current(), total) << package;
  }
  EXPECT_EQ(InstallZip(&core_, Fixture(L"no-setup.zip"), L"", 0), Config_ErrorHandle::FileNotExist);
  EXPECT_EQ(InstallZip(&core_, Fixture(L"notes.txt"), L"", 0), Config_ErrorHandle::Failure);
}

// The folders of an extraction during the download come from properties, which the page can set:
// only an extraction this run made is used, never another folder in the user's temporary tree.
TEST_F(InstallTest, InstallZipUsesOnlyTrustedRestoredFolders) {
  const std::wstring package = Fixture(L"setup-top.zip");
  const std::wstring out = scratch_.File(L"args.txt");
  std::wstring extraction, setup;
  ASSERT_EQ(zip::UnzipPackage(&core_, package, extraction, setup), zip::kUnzipNoError);
  // Someone else's folder, outside the temporary tree, with a setup.exe of its own.
  const std::wstring foreign = L"C:\\halvern-foreign\\";
  CreateDirectoryW(foreign.c_str(), nullptr);
  ASSERT_TRUE(CopyFileW(Fixture(L"installer.exe").c_str(), (foreign + L"setup.exe").c_str(), FALSE));
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  // A plain folder in the user's temporary directory, as an earlier run or another program left it.
  ASSERT_TRUE(CopyFileW(Fixture(L"installer.exe").c_str(), scratch_.File(L"setup.exe").c_str(), FALSE));
  const struct {
    std::wstring extraction, setup;
    bool used;
  } cases[] = {
      {foreign, foreign, false},
      {extraction + L"..\\..\\", setup, false},
      {extraction, foreign, false},
      {scratch_.Path(), scratch_.Path(), false},
      {extraction, extraction + L"..\\..\\", false},
      {L"", L"", false},
      {std::wstring(system) + L"\\", std::wstring(system) + L"\\", false},
      {extraction, setup, true},
  };
  core_.external->SetProperty(L"__Extract_In_Download__", L"true");
  for (const auto& c : cases) {
    core_.external->SetProperty(package + L"__ZIP_Unzip_Folder__", c.extraction);
    core_.external->SetProperty(package + L"__ZIP_EXE_Path__", c.setup);
    DeleteFileW(out.c_str());
    EXPECT_EQ(InstallZip(&core_, package, L"out=" + out, 0), Config_ErrorHandle::NoError) << c.extraction;
    std::wstring line = ReadWideFile(out);
    std::wstring ran = line.substr(1, line.find(L'"', 1) - 1);
    EXPECT_EQ(ran == setup + L"setup.exe", c.used) << c.extraction << " ran " << ran;
    EXPECT_TRUE(IsBelowWorkingRoot(ran)) << ran;
  }
  EXPECT_TRUE(testsupport::PathExists(foreign + L"setup.exe")) << "a foreign folder is never deleted";
  EXPECT_FALSE(testsupport::PathExists(extraction)) << "the trusted extraction is deleted after its setup ran";
  DeleteFileW((foreign + L"setup.exe").c_str());
  RemoveDirectoryW(foreign.c_str());
}

TEST(InstallParameters, AssemblyAddsPassThroughArgumentsAndTheStubsSilentSwitch) {
  EXPECT_EQ(AssembleInstallParameters(L"passthrough=\"P=1\"", L"A=1", L"stub.exe run=1"), L"passthrough=\"P=1\" A=1");
  EXPECT_EQ(AssembleInstallParameters(L"", L"A=1", L"stub.exe run=1 /qN"), L" A=1 /qn");
  EXPECT_EQ(AssembleInstallParameters(L"", L"A=1", L"stub.exe /QNX"), L" A=1");
  const std::vector<std::pair<std::wstring, bool>> silent = {
      {L"A=1 /qn", true},         {L"/V/QN A=1", true}, {L"/qn2", false},
      {L"\"/qn x\"", false}, {L"A=/qn", false},    {L"", false}};
  for (const auto& c : silent) EXPECT_EQ(IsSilentInstall(c.first), c.second) << c.first;
}

TEST(InstallParameters, PlaceholdersAndTheLaunchOnExitGuidAreFilledIn) {
  const struct {
    const wchar_t* parameters;
    bool takesLogFile;
    const wchar_t* text;
    const wchar_t* launchOnExit;
  } cases[] = {
      {L"/log $LOGFILE$ $LOGFILE$ S=$STUBPATH$", true, L"/log \"C:\\l.txt\" $LOGFILE$ S=\"C:\\s.exe\"", L""},
      {L"/log $LOGFILE$", false, L"/log $LOGFILE$", L""},
      {L"A=1 LAUNCHONEXIT=app.exe--g=$GUID$ B=2", false, L"A=1 LAUNCHONEXIT=app.exe--g=G-1 B=2", L"app.exe--g=G-1"},
      {L"LAUNCHONEXIT=\"C:\\My App\\a.exe\" $GUID$ B=2", false,
       L"LAUNCHONEXIT=\"C:\\My App\\a.exe\" $GUID$ B=2", L"\"C:\\My App\\a.exe\""},
      {L"LAUNCHONEXIT=\"C:\\My App\\a.exe /id=$GUID$\" B=2", false,
       L"LAUNCHONEXIT=\"C:\\My App\\a.exe /id=G-1\" B=2", L"\"C:\\My App\\a.exe /id=G-1\""},
      {L"launchonexit=x$GUID$", false, L"launchonexit=x$GUID$", L""},
  };
  for (const auto& c : cases) {
    InstallParameters result =
        SubstituteInstallPlaceholders(c.parameters, c.takesLogFile, L"C:\\l.txt", L"C:\\s.exe", L"G-1");
    EXPECT_EQ(result.text, c.text) << c.parameters;
    EXPECT_EQ(result.launchOnExit, c.launchOnExit) << c.parameters;
  }
  std::wstring guid = NewInstallGuid();
  EXPECT_EQ(guid.size(), 36u);
  EXPECT_NE(guid, NewInstallGuid());
  EXPECT_EQ(guid.find_first_of(L"{}"), std::wstring::npos);
}

// The install method as the page calls it, on a single-threaded apartment that pumps messages
// while the worker calls back, with a main window to hide.
TEST_F(InstallTest, InstallMethodHidesTheWindowUnlessSilentAndCallsBackOnceAtTheEnd) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  HWND window = CreateWindowW(L"STATIC", L"main", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100, 100, nullptr, nullptr,
                              nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  test_.methods->SetWindow(window);
  const struct {
    const wchar_t* file;
    const wchar_t* parameters;
    bool hidden;
    Config_ErrorHandle result;
  } cases[] = {
      {L"installer.exe", L"exit=0", true, Config_ErrorHandle::NoError},
      {L"installer.exe", L"/V/QN exit=1603", false, Config_ErrorHandle::Failure},
      {L"install-good.msi", L"/qn", false, Config_ErrorHandle::NoError},
      {L"notes.txt", L"/qn", false, Config_ErrorHandle::FileNotExist},
  };
  for (const auto& c : cases) {
    ShowWindow(window, SW_SHOW);
    core_.analytics->ClearAttachments();
    RecordingCallback callback;
    ASSERT_EQ(test_.Call(&ExternalMethods::Install, {Fixture(c.file), c.parameters, 0, &callback}), S_OK) << c.file;
    EXPECT_EQ(IsWindowVisible(window) == FALSE, c.hidden) << c.parameters;
    callback.AwaitFinal(30000);
    ASSERT_TRUE(test_.RenewWorkers());
    EXPECT_EQ(callback.Finals(), 1) << c.file;
    EXPECT_EQ(callback.calls.back(), callback.Final()) << "no progress report after the final one";
    EXPECT_EQ(callback.Final().at(0), int(c.result)) << c.file;
    EXPECT_EQ(Total(), 1);
    EXPECT_EQ(Current(), 0);
    // The installer's own log goes with an error report.
    if (c.file == std::wstring(L"install-good.msi")) {
      EXPECT_EQ(core_.analytics->Attachments().size(), 1u);
    }
  }
  DestroyWindow(window);
  CoUninitialize();
}
