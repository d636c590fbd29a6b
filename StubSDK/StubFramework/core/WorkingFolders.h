#pragma once
// Folders under the user's temporary directory. Every folder path produced here ends with a
// backslash.
#include <windows.h>

#include <string>

namespace stubframework::utils {

// A fresh folder named after the tick count (lower-case hex) under the temporary directory.
bool CreateUniqueTempFolder(std::wstring& path);

// The numbering loop behind CreateUniqueTempFolder: the first free "<base><n in hex>\" from
// firstNumber on. base ends with a backslash. Safe against concurrent callers: a name another
// caller created first is skipped.
bool CreateUniqueFolderIn(const std::wstring& base, DWORD firstNumber, std::wstring& path);

// The named folder directly under the temporary directory, created if missing; false when a link
// or a file is in its place.
bool GetTempSubfolder(const std::wstring& name, std::wstring& path);

// Deletes the folder with everything in it; true when the folder itself was removed. Linked
// folders (junctions, symbolic links), the path itself or inside, are unlinked, never followed.
bool DeleteFolderTree(const std::wstring& path);

// The long form of the temporary directory with a trailing backslash; false when it is unusable.
bool GetLongTempPath(std::wstring& path);

}  // namespace stubframework::utils

namespace stubframework::utils {

// True when path names a folder strictly below the temporary directory (after resolving "." and
// ".." elements) that is reached through no linked folder; the temporary directory itself,
// anything outside it and anything through a link are refused.
bool IsBelowTempFolder(const std::wstring& path);

// True when an element of path after its first baseLength characters (the part below a folder
// the caller trusts) is a linked folder: junction, symbolic link or any other reparse point.
bool HasLinkBelow(const std::wstring& path, size_t baseLength);

}  // namespace stubframework::utils
