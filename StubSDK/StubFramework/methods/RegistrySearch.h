#pragma once
// The recursive key search behind searchRegKey.
#include <windows.h>

#include <string>
#include <vector>

namespace stubframework::methods {

// The items of a ";"-separated list, empty items dropped.
std::vector<std::wstring> SplitSearchSuffixes(const std::wstring& suffixes);

// Depth-first search of the keys below parent\subkey for one that has a value named valueName and
// whose path relative to the search's top ends in one of the suffixes (whole key names or their
// ends, compared without regard to case). relative is the path of parent\subkey below the top,
// each name followed by a backslash; the top itself (empty relative path) never matches. Keys
// below a key that has the value are not searched. Does nothing once found is true.
void SearchRegistryKeys(bool view64, HKEY parent, const std::wstring& subkey, const std::wstring& relative,
                        const std::vector<std::wstring>& suffixes, const std::wstring& valueName,
                        std::wstring& foundPath, bool& found);

}  // namespace stubframework::methods
