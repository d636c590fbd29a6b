// The numbers the page script and the workflow share are the same on both sides: every code of
// the native enumerations appears under its name in the pages' definitions, and nothing else.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <string>

#include "setup/Workflow.h"
#include "support/TestSupport.h"

using namespace stubframework::setup;

namespace {

// The "Name: number" pairs of the page script's object literal "var object = { ... };".
std::map<std::string, int> PageDefinitions(const std::string& script, const std::string& object) {
  std::map<std::string, int> pairs;
  std::smatch block;
  if (!std::regex_search(script, block, std::regex("var " + object + " = \\{([^}]*)\\};"))) return pairs;
  std::string body = block[1];
  std::regex pair("([A-Za-z][A-Za-z0-9]*): (\\d+)");
  for (std::sregex_iterator it(body.begin(), body.end(), pair), end; it != end; ++it)
    pairs[(*it)[1]] = std::stoi((*it)[2]);
  return pairs;
}

TEST(Workflow, PageAndStubShareEveryResultCodeTypeFlagAndResumeMode) {
  std::string script = testsupport::ReadFileBytes(testsupport::SourceFolder() + L"ui-package\\js\\workflow.js");
  ASSERT_FALSE(script.empty());
  const std::map<std::string, int> codes = {
      {"NoError", int(Config_ErrorHandle::NoError)},           {"UnknowError", int(Config_ErrorHandle::UnknowError)},
      {"FileNotExist", int(Config_ErrorHandle::FileNotExist)}, {"DiskFull", int(Config_ErrorHandle::DiskFull)},
      {"Failure", int(Config_ErrorHandle::Failure)},           {"Abort", int(Config_ErrorHandle::Abort)},
      {"Md5Error", int(Config_ErrorHandle::Md5Error)},         {"VolumeReadOnly", int(Config_ErrorHandle::VolumeReadOnly)},
      {"NoNetwork", int(Config_ErrorHandle::NoNetwork)},       {"Cancelled", int(Config_ErrorHandle::Cancelled)},
      {"Running", int(Config_ErrorHandle::Running)},           {"Reboot", int(Config_ErrorHandle::Reboot)},
      {"HaveInstalled", int(Config_ErrorHandle::HaveInstalled)},
      {"OtherInstalling", int(Config_ErrorHandle::OtherInstalling)},
  };
  const std::map<std::string, int> types = {{"Inherit", Inherit},       {"X86", X86},     {"X64", X64},
                                            {"Selectable", Selectable}, {"MustSelect", MustSelect},
                                            {"Patch", Patch},           {"Prerequiste", Prerequiste}};
  const std::map<std::string, int> modes = {{"NONE", int(Config_ResumeMode::NONE)},
                                            {"DOWNLOADING", int(Config_ResumeMode::DOWNLOADING)},
                                            {"INSTALLING", int(Config_ResumeMode::INSTALLING)}};
  EXPECT_EQ(PageDefinitions(script, "Config_ErrorHandle"), codes);
  EXPECT_EQ(PageDefinitions(script, "ComponentType"), types);
  EXPECT_EQ(PageDefinitions(script, "Config_ResumeMode"), modes);
}

}  // namespace
