#pragma once
// The search of a folder tree for an installation package, run on a worker thread for the page,
// and its cancellation.
#include <windows.h>

#include <atomic>
#include <string>

namespace stubframework::setup {

// What the search method hands its worker.
struct SearchRequest {
  std::wstring directory;
  std::wstring relativePath;
};

// True while searches may go on; set when a search starts, cleared by cancelVerifyThread. One
// flag for the process: a cancel stops every running search at its next entry.
extern std::atomic<bool> keepSearching;

// When the file path full ends with relativePath as whole path elements (a leading separator of
// relativePath is ignored): found = the folder under which relativePath lies, with its trailing
// separator.
bool PackageFolder(const std::wstring& full, const std::wstring& relativePath, std::wstring& found);

// Depth-first search of directory, in the order the file system lists its entries, for a file
// named like the last element of relativePath that lies at relativePath below some folder; found
// is that folder (PackageFolder). Linked folders are never entered: a link may lead back up the
// tree or anywhere else. False when nothing was found or keepSearching was cleared.
bool FindPackage(const std::wstring& directory, const std::wstring& relativePath, std::wstring& found);

}  // namespace stubframework::setup
