// The system libraries that are no known DLLs, which Windows would look for first in the folder
// of the program (a downloads folder, say): the stub loads each when it first calls it, from the
// system folder only, and ends at once when it cannot have one from there. system_library_probe,
// linked as the stub is, calls each of them with its stand-ins planted beside it.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "support/PlantedLibraries.h"
#include "support/TestSupport.h"

TEST(SystemLibrariesTest, ComeFromTheSystemFolderOrEndTheRun) {
  std::vector<std::wstring> names;
  for (const auto& library : testsupport::kPlantedLibraries) names.push_back(library.name);
  const struct {
    const char* what;
    bool planted;
    const wchar_t* mode;
    DWORD exitCode;
  } cases[] = {
      // Each stand-in beside the probe, where Wine looks first: none runs (71 to 77 if one did).
      {"planted", true, L"native,builtin", 0},
      // None to be had: the first call ends the process, instead of an exception that a caller
      // could swallow.
      {"unloadable", false, L"", ERROR_MOD_NOT_FOUND},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::ScratchFolder folder;
    std::wstring probe = folder.File(L"system_library_probe.exe");
    ASSERT_TRUE(CopyFileW((testsupport::ProgramFolder() + L"system_library_probe.exe").c_str(), probe.c_str(), FALSE));
    ASSERT_TRUE(!c.planted || testsupport::PlantLibraries(folder.Path(), names));
    testsupport::DllOverrides overrides(L"system_library_probe.exe", names, c.mode);
    testsupport::ProcessResult result = testsupport::RunAndWait(probe, L"\"" + probe + L"\"", 60000);
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, c.exitCode);
  }
}
