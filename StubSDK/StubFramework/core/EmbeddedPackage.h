#pragma once
// The UI package: a ZIP archive appended to the executable after its image (and before its
// certificate table, when the file is signed), extracted at start-up.
#include <string>

#include "core/InstallerLog.h"
#include "core/ZipReader.h"

namespace stubframework::core {

// Opens in reader the package of the executable that source reads. Only the bytes before the
// certificate table are searched, those the signature covers, so that nothing put into the table
// after signing can stand in for the package; the search for the end record covers the last
// 64 KiB of them as for any archive. False when no archive ends there, and when the file has no
// PE headers or its certificate directory entry describes no table inside the file: then where
// the signed bytes end cannot be told.
bool OpenPackage(zip::FileSource& source, zip::ZipReader& reader);

// Extracts the package appended to the running executable into folder.
bool LoadEmbeddedPackage(debug::InstallerLog* log, const std::wstring& folder);

// Extracts the package appended to the executable at path into folder.
bool LoadPackageFromFile(debug::InstallerLog* log, const std::wstring& path,
                         const std::wstring& folder);

}  // namespace stubframework::core
