#pragma once
// A file the elevated stub is about to run or install stays as it was checked: held open for
// reading, sharing reading only, no other process may write, delete or rename it until the hold
// ends. Sharing is enforced between processes, so the installer or the child process itself,
// which only read the file, still open it.
#include <string>

#include "core/UniqueHandle.h"

namespace stubframework::utils {

// Opens the file itself (never what a link in its place points to) and holds it; an invalid handle
// when it is missing, a link, a folder, or already open for writing elsewhere.
HANDLE OpenLockedForUse(const std::wstring& path);

}  // namespace stubframework::utils
