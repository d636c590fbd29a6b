#pragma once
// The CRC-32 of a whole file, as getCrc reports it and the download worker checks it.
#include <windows.h>

#include <string>

namespace stubframework::methods {

// The reflected CRC-32 (polynomial 0xEDB88320, the ZIP format's) of the file at path. False when
// the file cannot be opened or read to its end, or is not a regular file (a device name answers
// at once, as a missing file); it is opened without sharing, so this fails while any other handle
// to the file is open.
bool ComputeFileCrc(const std::wstring& path, DWORD& crc);

}  // namespace stubframework::methods
