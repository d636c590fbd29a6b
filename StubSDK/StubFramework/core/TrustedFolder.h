#pragma once
// Whether a folder named by someone else may be used by the elevated stub: folders restored from
// the user's registry or set by the page are run from and deleted, and any program of the same
// user can write those names and the temporary directory.
#include <string>

namespace stubframework::utils {

// True when folder is an existing folder strictly below the temporary directory, written in its
// one canonical form (full path with long names, no "." or ".." elements, no slashes, streams or
// trailing dots), with no link (junction, symbolic link, any reparse point) on any element below
// the temporary directory. The trailing backslash is optional.
bool IsTrustedTempFolder(const std::wstring& folder);

}  // namespace stubframework::utils
