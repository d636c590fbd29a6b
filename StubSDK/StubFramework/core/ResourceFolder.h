#pragma once
// The folder holding the extracted UI package.
#include <string>

#include "core/InstallerLog.h"

namespace stubframework::core {

struct ResourceFolder {
  bool loaded = false;
  std::wstring folder;  // with trailing backslash; empty when no folder was created
  debug::InstallerLog* log = nullptr;
};

// Creates the folder and extracts the embedded package into it.
ResourceFolder* CreateResourceFolder(debug::InstallerLog* log);

// Deletes the folder with its content, then the object.
void DestroyResourceFolder(ResourceFolder* resources);

}  // namespace stubframework::core
