#pragma once
// The folders of a run. The stub runs elevated, so everything it writes, loads and runs lives in
// its working root: a folder with a random name in the system's temporary folder that only SYSTEM
// and Administrators may write. The user's temporary directory, which any program of the user can
// write and the user's environment can point anywhere, only receives copies of the logs. Every
// folder path produced here ends with a backslash.
#include <windows.h>

#include <string>

namespace stubframework::utils {

// The run's working root, made on first use: a fresh folder "<system temporary folder>\stub-<32
// random hex digits>\" with the access list of FolderAccess::kAdministrators. The user-interface
// process started by the stub's own launcher, which is elevated and placed it in such a folder,
// shares the launcher's root instead.
bool GetWorkingRoot(std::wstring& root);

// True when the root is the launcher's rather than one this process made.
bool WorkingRootIsShared();

// The end of what this process made: the whole root when the process created it; otherwise each
// folder it created below its launcher's root, which the launcher removes. A later call of
// GetWorkingRoot starts a new root.
void ReleaseWorkingRoot();

// A fresh folder below the working root, named after the tick count (lower-case hex).
bool CreateUniqueTempFolder(std::wstring& path);

// The numbering loop behind CreateUniqueTempFolder: the first free "<base><n in hex>\" from
// firstNumber on. base ends with a backslash. Safe against concurrent callers: a name another
// caller created first is skipped, never reused.
bool CreateUniqueFolderIn(const std::wstring& base, DWORD firstNumber, std::wstring& path);

// True when path is, in the same spelling, a folder CreateUniqueTempFolder gave this process and
// that is still there: the only folders a run extracts into, runs from or deletes by name.
bool IsRunFolder(const std::wstring& path);

// "<root>logs\": the logs of Windows Installer, of removals and of the product analytics, copied
// for the user with the installer log at the end of the run.
bool GetRunLogFolder(std::wstring& path);

// The named folder directly under the user's temporary directory, created if missing; false when
// a link or a file is in its place. Only log copies are written there.
bool GetTempSubfolder(const std::wstring& name, std::wstring& path);

// Writes a copy of the file source into folder under the same name, as a new file: an existing
// file, a link in the file's or the folder's place, or a folder replaced meanwhile fails it.
bool CopyAsNewFile(const std::wstring& source, const std::wstring& folder);

// Deletes the folder with everything in it; true when the folder itself was removed. Linked
// folders (junctions, symbolic links), the path itself or inside, are unlinked, never followed.
bool DeleteFolderTree(const std::wstring& path);

// Deletes everything inside folder (which ends with a backslash) as DeleteFolderTree does, and
// keeps the folder.
void EmptyFolder(const std::wstring& folder);

// The long form of the user's temporary directory with a trailing backslash; false when it is
// unusable.
bool GetLongTempPath(std::wstring& path);

}  // namespace stubframework::utils
