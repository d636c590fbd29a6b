#pragma once
// The UI package: a ZIP archive appended to the executable after its image (and before a
// signature, when the file is signed), extracted at start-up.
#include <string>

#include "core/InstallerLog.h"

namespace stubframework::core {

// Extracts the package appended to the running executable into folder.
bool LoadEmbeddedPackage(debug::InstallerLog* log, const std::wstring& folder);

// Extracts the package appended to the executable at path into folder.
bool LoadPackageFromFile(debug::InstallerLog* log, const std::wstring& path,
                         const std::wstring& folder);

}  // namespace stubframework::core
