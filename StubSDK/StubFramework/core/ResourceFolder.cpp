#include "core/ResourceFolder.h"

#include "core/EmbeddedPackage.h"
#include "core/WorkingFolders.h"

namespace stubframework::core {

ResourceFolder* CreateResourceFolder(debug::InstallerLog* log) {
  ResourceFolder* resources = new ResourceFolder;
  resources->log = log;
  if (!utils::CreateUniqueTempFolder(resources->folder)) {
    resources->folder.clear();
    debug::LogError(log, L"create temporary folder failed!");
    return resources;
  }
  if (LoadEmbeddedPackage(log, resources->folder)) {
    resources->loaded = true;
    debug::LogDebug(log, L"load resource success, temporary folder path : %s",
                    resources->folder.c_str());
  }
  return resources;
}

void DestroyResourceFolder(ResourceFolder* resources) {
  if (!resources) return;
  if (!resources->folder.empty() && !utils::DeleteFolderTree(resources->folder))
    debug::LogError(resources->log, L"Delete Temp folder failed!");
  delete resources;
}

}  // namespace stubframework::core
