#pragma once
// The self-update and installer-list workers and the size probe of the page's download list.
// Both workers download through DownloadFile with a progress reporter and make one final
// callback. The self-update hands over to the launcher (exit code 197800, the new stub named in
// the launcher's working root) only after a download that ended with NoError; the list replaces
// its file only then.
#include <string>

namespace stubframework::setup {

// Where the list's update is downloaded before it replaces the list: path with "__NEW_FILE__"
// before the last "." of its file name, or after the name when it has no ".".
std::wstring InstallerListTempPath(const std::wstring& path);

}  // namespace stubframework::setup
