#pragma once
// Whether a fixed-name folder in the user's temporary directory, where the log copies go, is a
// plain folder: any program of the same user can put a link or a file there first.
#include <string>

namespace stubframework::utils {

// True when folder is an existing folder strictly below the temporary directory, written in its
// one canonical form (full path with long names, no "." or ".." elements, no slashes, streams or
// trailing dots), with no link (junction, symbolic link, any reparse point) on any element below
// the temporary directory. The trailing backslash is optional.
bool IsTrustedTempFolder(const std::wstring& folder);

}  // namespace stubframework::utils
