#pragma once
// Checks that a path the elevated stub is about to use is what it looks like: a folder or a file
// of its own, not a link that anyone of the user could have put there to lead it elsewhere.
#include <windows.h>

#include <string>

namespace stubframework::utils {

// Whether path is a folder and not a link to one, checked on the disk as it is now. Trailing
// backslashes are dropped first: with them the system answers for the link's target.
bool IsPlainFolder(std::wstring path);

// Whether path is a link (any reparse point) now.
bool IsLink(const std::wstring& path);

// Whether a file opened with FILE_FLAG_OPEN_REPARSE_POINT is a plain file: no link, no folder,
// and one name only, so that no second name can change what is read or run through this one.
bool IsPlainFile(HANDLE file);

}  // namespace stubframework::utils
