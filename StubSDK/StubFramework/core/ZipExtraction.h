#pragma once
// Extracting ZIP archives into folders: the UI package at start-up and downloaded packages
// before their setup program runs.
#include <windows.h>

#include <string>

#include "core/ZipReader.h"
#include "core/ZipReporter.h"

namespace stubframework::core {
struct FrameworkCore;
}

namespace stubframework::zip {

// Extracts every entry of the archive that reader has opened into destination, in
// central-directory order, stopping at the first entry that fails (the file it was writing is
// deleted; earlier ones stay). Entry names are read in UTF-8 where the entry's flag says so
// (invalid UTF-8 fails the extraction), in the ANSI code page otherwise. A name that is rooted,
// names a drive, a stream or a device, contains a ".." element or otherwise leads outside
// destination fails the extraction: nothing is ever written outside destination. When the
// entries' declared sizes add up to more than the destination volume has free, nothing is
// written and the failure is reported as ERROR_DISK_FULL. With a reporter, OnProgress comes
// before each entry and once at the end, and write errors go to OnError (read errors go to the
// reader's source).
bool ExtractZip(const ZipReader& reader, const std::wstring& destination, ZipReporter* reporter);

// Opens the archive at the end of the file read through file and extracts it as ExtractZip does;
// read errors go to the reporter as well.
bool ExtractZipFromHandle(HANDLE file, const std::wstring& destination, ZipReporter* reporter);

// Result codes of UnzipPackage, numbered as the script's error codes.
constexpr int kUnzipNoError = 0;
constexpr int kUnzipFileNotExist = 2;
constexpr int kUnzipDiskFull = 3;
constexpr int kUnzipFailure = 4;

// Extracts a downloaded ".zip" package into a fresh temporary folder and finds the folder of
// its "setup.exe". Progress goes to the core's external object. Returns kUnzipFailure for
// another extension or a failed extraction, kUnzipDiskFull when this extraction ran out of disk
// space or would have, kUnzipFileNotExist when the package holds no setup.exe.
// extractionFolder is set once the folder exists, so that the caller can delete it whatever the
// result.
int UnzipPackage(core::FrameworkCore* core, const std::wstring& packagePath,
                 std::wstring& extractionFolder, std::wstring& setupFolder);

// UnzipPackage into a given empty folder (with trailing backslash), which the caller made.
int UnzipPackageInto(core::FrameworkCore* core, const std::wstring& packagePath, const std::wstring& extractionFolder,
                     std::wstring& setupFolder);

// The first folder, depth first from folder, that holds an item called name (compared by name
// only, as the file system compares).
bool FindFileInTree(const std::wstring& folder, const std::wstring& name, std::wstring& found);

}  // namespace stubframework::zip
