#pragma once
// Adding one file to a ZIP archive in place.
#include <windows.h>

#include <cstdint>
#include <string>

namespace stubframework::zip {

// Adds an entry named name, UTF-8 (flagged as such when it is not ASCII), deflated at level 9 or
// stored when that is no smaller, to the archive at path. A missing archive is created; an existing one keeps its entries and their order and
// gets the new entry last, also when one of that name is already there. The name must not be
// empty, start with "/" or contain "\" or ":". On failure a created file is deleted and an
// existing archive is restored as it was.
bool AddEntryToArchive(const std::wstring& path, const std::string& name, const void* data,
                       uint32_t size);

// Adds the file at sourcePath under its own file name, in UTF-8 as extraction reads it, to the
// archive at zipPath. A name that is no text (a lone surrogate) is refused.
bool AddFileToZip(const std::wstring& zipPath, const std::wstring& sourcePath);

}  // namespace stubframework::zip
