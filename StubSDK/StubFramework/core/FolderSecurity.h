#pragma once
// Access lists of the folders the elevated stub keeps what it writes, loads and runs in, and the
// test of whether a folder someone else made may be trusted. Anything a program of the user can
// write (its temporary folder, most of the common application-data folder) is not trusted.
#include <windows.h>

#include <string>

namespace stubframework::utils {

enum class FolderAccess {
  kAdministrators,       // SYSTEM and Administrators, full control; nobody else
  kUsersReadAndExecute,  // the same, and Users may read and run what is inside
};

// The protected access list (no inherited entries) a folder of that kind is made or reset with,
// as security descriptor text; entries are inherited by everything created inside.
const wchar_t* FolderSecurityText(FolderAccess access);

// True when the descriptor's owner is SYSTEM or Administrators and no entry that applies to the
// object itself lets anyone else write, delete or change its access; a missing access list (full
// access for everyone) fails.
bool IsAdministratorsDescriptor(PSECURITY_DESCRIPTOR descriptor);

// The same test on a folder as it is on the disk; false for a link or anything unreadable.
bool IsAdministratorsFolder(const std::wstring& folder);

// Opens the folder itself, sharing no deletion so that it cannot be renamed or replaced while the
// handle is open; invalid when it is missing, a file, or a link (junction, symbolic link).
HANDLE OpenPlainFolder(const std::wstring& folder, DWORD access);

// Creates folder, which must not exist yet, with the access list of access, and checks that its
// owner is an administrator or this process's own account. A folder already there is never
// taken over.
bool CreateProtectedFolder(const std::wstring& folder, FolderAccess access);

enum class FolderReset {
  kEmpty,        // nothing found inside a folder that was not protected is kept
  kRemoveLinks,  // plain files and folders are kept; links inside are removed, not followed
};

// An existing plain folder that passes IsAdministratorsFolder is used as it is. Otherwise a link
// in its place is removed, a missing folder is created as CreateProtectedFolder does, and a folder
// owned or writable by others gets administrators as owner and the access list of access, and its
// content is treated as reset says. The parent must be trusted by the caller.
bool EnsureProtectedFolder(const std::wstring& folder, FolderAccess access, FolderReset reset);

// The access list text this process last gave folder (created or reset), or empty: what the
// platform keeps of it may differ (a volume without access lists keeps nothing).
std::wstring AppliedFolderSecurity(const std::wstring& folder);

}  // namespace stubframework::utils
