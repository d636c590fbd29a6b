#pragma once
// Files whose content the script methods and the workers read: regular files on a volume only.
// A device opens like a file, but a read from a serial port or the console can wait for ever,
// and the page must get its answer at once.
#include <windows.h>

#include <string>

namespace stubframework::methods {

// Whether path names a device rather than a file: a path in the device namespace (\\.\..., or
// \\?\... other than \\?\X:\... and \\?\UNC\...), or a last component that is a reserved device
// name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$, CONOUT$), also followed by blanks, an
// extension or a colon, in any folder.
bool IsDeviceName(const std::wstring& path);

// CreateFileW(path, access, share, OPEN_EXISTING) when path names a regular file; otherwise
// INVALID_HANDLE_VALUE, as for a missing file. Device names are refused before anything is
// opened; whatever else opens but is not a disk file (a pipe) is closed again.
HANDLE OpenRegularFile(const std::wstring& path, DWORD access, DWORD share);

// Whether path is a regular file that can be opened for reading beside other readers and writers,
// for readers that open it themselves.
bool IsRegularFile(const std::wstring& path);

}  // namespace stubframework::methods
