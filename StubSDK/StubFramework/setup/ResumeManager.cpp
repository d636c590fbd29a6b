#include "setup/ResumeManager.h"

#include "core/Registry.h"
#include "core/StubParameters.h"

namespace stubframework::setup {

ResumeManager::ResumeManager(bool load, core::StubParameters* parameters)
    : keyPath(utils::ProductRegistryKey(parameters->ProductId(), utils::MajorVersion(parameters->ProductVersion())) +
              L"\\ResumeManager") {
  if (!load) {
    utils::DeleteRegistryKey(keyPath, false);
    return;
  }
  if (!utils::ReadRegistryValue(keyPath, L"folder", folder) || !utils::ReadRegistryValue(keyPath, L"guid", guid))
    return;
  utils::ReadRegistryValue(keyPath, L"launchOnExit", launchOnExit);
  std::wstring tempFolder;
  while (utils::ReadRegistryValue(keyPath, L"tempfolder" + std::to_wstring(tempFolders.size()), tempFolder))
    tempFolders.push_back(tempFolder);
  loaded = true;
}

bool ResumeManager::WriteGuid(const std::wstring& value) {
  guid = value;
  return utils::WriteRegistryString(keyPath, L"guid", value, false);
}

bool ResumeManager::WriteLaunchOnExit(const std::wstring& value) {
  launchOnExit = value;
  return utils::WriteRegistryString(keyPath, L"launchOnExit", value, false);
}

}  // namespace stubframework::setup
