// The launcher protocol with real processes under Wine: the built stub as launcher, its copy and
// the replacer; for the self-update cycle the script host (the same core with a page script) is
// the launcher and its user-interface copy, which calls selfUpdate. The update stub's signature
// check uses the bootstrapper stand-ins, signed by two publishers of an authority the fixture
// trusts.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <regex>
#include <set>
#include <vector>

#include "core/CommandLine.h"
#include "core/Digest.h"
#include "core/Registry.h"
#include "core/UniqueHandle.h"
#include "core/WorkingFolders.h"
#include "support/PlantedLibraries.h"
#include "support/TestCore.h"
#include "support/TestSupport.h"

using testsupport::RunAndWait;

namespace {

using testsupport::kProductSubkey;

class RelaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kProductSubkey);
    ASSERT_TRUE(stubframework::utils::GetTempSubfolder(testsupport::kLogFolderName, logFolder_));
    stubframework::utils::DeleteFolderTree(logFolder_);
    ASSERT_TRUE(stubframework::utils::GetLongTempPath(temp_));
    launcher_ = scratch_.File(L"Launch Me.exe");
    ASSERT_TRUE(CopyFileW((testsupport::ProgramFolder() + L"HalvernSetup.exe").c_str(), launcher_.c_str(), FALSE));
    for (const std::wstring& entry : testsupport::FolderEntries(temp_, L"*")) before_.insert(entry);
  }
  void TearDown() override { testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kProductSubkey); }

  // The one log copy of the run.
  std::string LogCopy() {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((logFolder_ + L"installer_log_*.txt").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return "(no log)";
    FindClose(find);
    return testsupport::ReadFileBytes(logFolder_ + data.cFileName);
  }

  // The command line the user-interface process logged.
  std::string LoggedCommandLine() {
    std::string log = LogCopy();
    std::smatch line;
    return std::regex_search(log, line, std::regex("DEBUG\\] command line : (.*)\r\n")) ? line[1].str() : "(none)";
  }

  // Copies of the launcher left in working roots of the system's temporary folder, and what the
  // run left in the user's temporary directory besides the scratch folder and the log copies.
  int LeftCopies(const wchar_t* name = L"Launch Me.exe") {
    wchar_t windows[MAX_PATH] = {};
    GetSystemWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring systemTemp = std::wstring(windows) + L"\\Temp\\";
    int count = 0;
    for (const std::wstring& root : testsupport::FolderEntries(systemTemp, L"stub-*"))
      if (testsupport::PathExists(systemTemp + root + L"\\" + name)) ++count;
    return count;
  }
  std::vector<std::wstring> LeftInUserTemp() {
    std::vector<std::wstring> left;
    for (const std::wstring& entry : testsupport::FolderEntries(temp_, L"*"))
      if (entry != testsupport::kLogFolderName && temp_ + entry + L"\\" != scratch_.Path() && before_.count(entry) == 0)
        left.push_back(entry);
    return left;
  }

  testsupport::ScratchFolder scratch_;
  std::wstring logFolder_, temp_, launcher_;
  std::set<std::wstring> before_;
};

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

}  // namespace

TEST_F(RelaunchTest, TheLauncherRunsACopyWithTheRawTailAndItsPathWaitsAndRemovesIt) {
  const std::wstring quoted = L"\"" + launcher_ + L"\"";
  // A program path without blanks, unquoted on the command line.
  const std::wstring plain = scratch_.File(L"Plain.exe");
  ASSERT_EQ(plain.find(L' '), std::wstring::npos);
  ASSERT_TRUE(CopyFileW(launcher_.c_str(), plain.c_str(), FALSE));
  const struct {
    std::wstring program;
    std::wstring commandLine;
    std::string received;  // empty: no relaunch, the command line itself
  } cases[] = {
      {launcher_, quoted + L" /foo bar", " /foo bar run=1 shortcut=" + Narrow(quoted)},
      {plain, plain + L" /foo bar", " /foo bar run=1 shortcut=\"" + Narrow(plain) + "\""},
      {launcher_, quoted + L" /foo shortcut=C:\\x.exe update=0 bar",
       " /foo bar run=1 shortcut=" + Narrow(quoted)},
      {launcher_, L"run=1 /x", " /x run=1 shortcut=" + Narrow(quoted)},
      {launcher_, quoted + L" RUN=1 /x", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.commandLine));
    stubframework::utils::DeleteFolderTree(logFolder_);
    testsupport::ProcessResult result = RunAndWait(c.program, c.commandLine, 60000);
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(LoggedCommandLine(), c.received.empty() ? Narrow(c.commandLine) : c.received);
    // The launcher's copy and every folder of its child lie in one working root, gone at the end.
    std::string log = LogCopy();
    std::smatch root, resources;
    ASSERT_TRUE(std::regex_search(log, root, std::regex(R"(DEBUG\] working root : (.*\\stub-[0-9a-f]{32}\\) \((.*)\)\r\n)")))
        << log;
    EXPECT_EQ(root[2], c.received.empty() ? "made by this process" : "the launcher's");
    ASSERT_TRUE(std::regex_search(log, resources, std::regex(R"(DEBUG\] resourceLocation : (.*)\r\n)"))) << log;
    EXPECT_EQ(resources[1].str().rfind(root[1].str(), 0), 0u) << resources[1];
    EXPECT_FALSE(testsupport::PathExists(testsupport::Wide(root[1])));
    EXPECT_EQ(LeftCopies(), 0);
    EXPECT_EQ(LeftCopies(L"Plain.exe"), 0);
    EXPECT_EQ(LeftInUserTemp(), std::vector<std::wstring>());
  }
}

TEST_F(RelaunchTest, ALocalRedirectionBesideTheStubEndsItWithOneAtOnce) {
  for (bool folder : {false, true}) {
    std::wstring local = launcher_ + L".local";
    ASSERT_TRUE(folder ? CreateDirectoryW(local.c_str(), nullptr) != FALSE : testsupport::WriteFileBytes(local, ""));
    for (const wchar_t* arguments : {L"", L" run=1"}) {
      testsupport::ProcessResult result = RunAndWait(launcher_, L"\"" + launcher_ + L"\"" + arguments, 60000);
      ASSERT_TRUE(result.finished);
      EXPECT_EQ(result.exitCode, 1u) << folder;
    }
    folder ? RemoveDirectoryW(local.c_str()) : DeleteFileW(local.c_str());
  }
  EXPECT_EQ(LeftCopies(), 0);
  EXPECT_FALSE(testsupport::PathExists(logFolder_));
}

TEST_F(RelaunchTest, SystemLibrariesPlantedBesideTheStubNeverRun) {
  // Two of them run under Wine whatever the stub does, loaded by Wine's own libraries: its user32
  // and setupapi import version.dll, and its winhttp delay-loads crypt32 from the program's folder
  // first, past the stub's SetDefaultDllDirectories. The probe of core_tests, which calls each
  // library before anything else can load it, covers those two.
  std::vector<std::wstring> names;
  for (const auto& library : testsupport::kPlantedLibraries)
    if (std::wstring(library.name) != L"version" && std::wstring(library.name) != L"crypt32")
      names.push_back(library.name);
  ASSERT_TRUE(testsupport::PlantLibraries(scratch_.Path(), names));
  testsupport::DllOverrides overrides(L"Launch Me.exe", names, L"native,builtin");
  for (const wchar_t* arguments : {L"", L" run=1"}) {
    testsupport::ProcessResult result = RunAndWait(launcher_, L"\"" + launcher_ + L"\"" + arguments, 60000);
    ASSERT_TRUE(result.finished);
    // 71 to 77: a planted library ran (PlantedLibraries.h).
    EXPECT_EQ(result.exitCode, 0u) << Narrow(arguments);
  }
  EXPECT_EQ(LeftCopies(), 0);
}

TEST_F(RelaunchTest, ASelfUpdateCyclePutsTheNewStubAtTheLaunchLocation) {
  const char* serversFile = getenv("HALVERN_TEST_SERVERS");
  ASSERT_TRUE(serversFile && *serversFile) << "the download_servers fixture sets HALVERN_TEST_SERVERS";
  std::string servers = testsupport::ReadFileBytes(L"Z:" + std::regex_replace(
      std::wstring(serversFile, serversFile + strlen(serversFile)), std::wregex(L"/"), L"\\"));
  std::smatch port, docroot;
  ASSERT_TRUE(std::regex_search(servers, port, std::regex("nginx_port=(\\d+)")));
  ASSERT_TRUE(std::regex_search(servers, docroot, std::regex("docroot=([^\r\n]+)")));
  std::wstring www = L"Z:" + std::regex_replace(std::wstring(docroot[1].first, docroot[1].second), std::wregex(L"/"),
                                                L"\\") + L"\\relaunch\\";
  CreateDirectoryW(www.c_str(), nullptr);

  // The newer stub: the built one signed by the pinned publisher, published with its ".meta",
  // under the running program's own name, so it arrives as script_host_update.exe.
  std::wstring fixtures = testsupport::EnvironmentFolder(L"HALVERN_METHOD_FIXTURES");
  ASSERT_FALSE(fixtures.empty()) << "the method_fixtures fixture sets HALVERN_METHOD_FIXTURES";
  std::string newer = testsupport::ReadFileBytes(fixtures + L"stub-pinned.exe");
  ASSERT_FALSE(newer.empty());
  std::string meta(8, '\0');
  uint64_t length = newer.size();
  memcpy(&meta[0], &length, 8);
  for (size_t at = 0; at < newer.size(); at += 1 << 20) {
    uint8_t digest[20];
    ASSERT_TRUE(stubframework::utils::ComputeDigest(stubframework::utils::DigestKind::Sha1,
                                                    reinterpret_cast<const uint8_t*>(newer.data()) + at,
                                                    std::min<size_t>(1 << 20, newer.size() - at), digest));
    meta.append(reinterpret_cast<char*>(digest), 20);
  }
  ASSERT_TRUE(testsupport::WriteFileBytes(www + L"script_host.exe", newer));
  ASSERT_TRUE(testsupport::WriteFileBytes(www + L"script_host.exe.meta", meta));

  std::wstring launcher = scratch_.File(L"script_host.exe");
  std::string original = testsupport::ReadFileBytes(testsupport::ProgramFolder() + L"script_host.exe");
  ASSERT_TRUE(testsupport::WriteFileBytes(launcher, original));
  std::wstring script = scratch_.File(L"cycle.js");
  std::string url = "http://127.0.0.1:" + port[1].str() + "/relaunch/script_host.exe";
  ASSERT_TRUE(testsupport::WriteFileBytes(script,
      "window.external.selfUpdate('" + url + "', function (result) {\n"
      "  if (result !== 10) host.exit(result === 0 && window.external.isSkipSelfUpdate() === false ? 0 : 1);\n"
      "});\n"));

  testsupport::ProcessResult result = RunAndWait(launcher, L"\"" + launcher + L"\" \"" + script + L"\"", 120000);
  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0u);
  // The replacer waits for the launcher to end, then puts itself in place.
  for (int waited = 0; testsupport::ReadFileBytes(launcher) != newer && waited < 60000; waited += 100) Sleep(100);
  EXPECT_TRUE(testsupport::ReadFileBytes(launcher) == newer);
  EXPECT_FALSE(testsupport::PathExists(launcher + L".new"));
  std::wstring value;
  EXPECT_FALSE(testsupport::ReadStringValue(HKEY_CURRENT_USER, kProductSubkey, L"update_stub_name", value)) << value;
  EXPECT_FALSE(testsupport::ReadStringValue(HKEY_CURRENT_USER, kProductSubkey, L"selfupdate_code", value)) << value;
}

// Only a new stub that the pinned publisher signed, unchanged, with its package in its signed
// bytes, runs in place of the stub: not one of another publisher the prefix trusts, not an
// unsigned one (the launch file a user's program replaced with one, say).
TEST(UpdateStubTest, RunsOnlyWhenThePinnedPublisherSignedItWithItsPackage) {
  std::wstring folder = testsupport::EnvironmentFolder(L"HALVERN_METHOD_FIXTURES");
  ASSERT_FALSE(folder.empty()) << "the method_fixtures fixture sets HALVERN_METHOD_FIXTURES";
  auto program = [&](const wchar_t* kind) { return folder + L"bootstrapper-" + kind + L"-64.exe"; };
  auto stub = [&](const wchar_t* kind) { return folder + L"stub-" + kind + L".exe"; };
  const struct {
    std::wstring candidate;
    bool allowed;
    const wchar_t* why;
  } cases[] = {
      {stub(L"pinned"), true, L"signed by the pinned publisher"},
      // Its own package lies before the certificate table, where its start looks for it.
      {stub(L"pinned-planted"), true, L"signed by the pinned publisher"},
      {program(L"pinned"), false, L"its UI package lies outside its signed bytes"},
      {program(L"pinned-planted"), false, L"its UI package lies outside its signed bytes"},
      {stub(L"pinned-changed"), false, L"not intact and trusted"},
      {stub(L"signed"), false, L"which is not pinned"},
      {stub(L"other"), false, L"which is not pinned"},
      {stub(L"selfsigned"), false, L"which is not pinned"},
      {testsupport::ProgramFolder() + L"HalvernSetup.exe", false, L"not intact and trusted"},
      {stub(L"missing"), false, L"cannot be opened"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.candidate));
    stubframework::utils::FileHandle held;
    std::wstring why;
    EXPECT_EQ(stubframework::core::MayRunUpdateStub(c.candidate, held.Out(), why), c.allowed);
    EXPECT_NE(why.find(c.why), std::wstring::npos) << Narrow(why);
    if (!testsupport::PathExists(c.candidate)) {
      EXPECT_FALSE(held.Valid());
      continue;
    }
    ASSERT_TRUE(held.Valid());
    // The checked file stays what it was until the handle is closed.
    stubframework::utils::FileHandle writer(CreateFileW(c.candidate.c_str(), GENERIC_WRITE,
                                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                                        nullptr));
    EXPECT_FALSE(writer.Valid());
  }
}

// Replace mode copies the stub over the file shortcut= names: anybody may start the stub with
// those arguments, but only the launcher of this run's own update holds the token.
TEST_F(RelaunchTest, AReplaceStartByAnyoneElseLeavesTheNamedFileAlone) {
  const std::wstring victim = scratch_.File(L"victim.exe");
  ASSERT_TRUE(testsupport::WriteFileBytes(victim, "the user's program"));
  for (const wchar_t* token : {L"", L" replaceToken=0123456789abcdef0123456789abcdef"}) {
    testsupport::ProcessResult result = RunAndWait(
        launcher_, L"\"" + launcher_ + L"\" run=1 newVersionExitCode=7 parentProcessID=4 shortcut=\"" + victim + L"\"" +
                       token, 60000);
    ASSERT_TRUE(result.finished);
    EXPECT_NE(result.exitCode, 7u) << Narrow(token);
    EXPECT_EQ(testsupport::ReadFileBytes(victim), "the user's program") << Narrow(token);
  }
}
