#pragma once
// The stub's folders below the common application-data folder, which outlive a run. Any user may
// create folders there, so each one on the way is made, or taken back, with an access list of its
// own before anything is written into it (FolderSecurity.h). Paths end with a backslash.
#include <string>

namespace stubframework::utils {

// "<common application data>\Velmora\": administrators write, users read and run.
bool GetPublisherFolder(std::wstring& path);

// The path GetPublisherFolder makes, without making or checking anything; empty when the common
// application-data folder is unknown.
std::wstring PublisherFolderPath();

// "<publisher folder>\<product id>\", which holds the stub copy the uninstall entry and the
// relaunch after a restart start; its content goes when it is taken back.
bool GetStubCopyFolder(const std::wstring& productId, std::wstring& path);

// Copies the running executable under its own name into GetStubCopyFolder and gives the copy's
// path: what the system starts as administrator later, where users may read and run but not write.
bool PlaceStubCopy(const std::wstring& productId, std::wstring& copy);

// "<publisher folder>\Downloads\<name>\", for administrators only: downloads wait there for their
// install and a later run resumes them. Taken back, it keeps its files but not its links. name is
// one plain folder name.
bool GetDownloadFolder(const std::wstring& name, std::wstring& path);

// True for a folder name the system takes as written: no separator, stream, wildcard or device
// character, not "." or "..", and no trailing dot or blank.
bool IsPlainFolderName(const std::wstring& name);

}  // namespace stubframework::utils
