#pragma once
// What the stub reads of executable files' PE headers: where the certificate table lies. The
// Authenticode signature covers every byte of the file but that table (and two header fields),
// so bytes put into the table after signing leave the signature valid.
#include <windows.h>

#include <cstdint>

namespace stubframework::core {

// The header of each certificate entry: length, revision, type.
constexpr DWORD kCertificateHeaderSize = 8;

struct CertificateTable {
  uint64_t offset = 0;  // a file offset: this directory entry holds no address
  uint32_t size = 0;    // 0 when the image has no table
};

// Reads exactly size bytes at offset of file.
bool ReadFileAt(HANDLE file, uint64_t offset, void* buffer, DWORD size);

// The certificate table of the image read through file, fileSize bytes long, from its optional
// header's data directory (entry 4) in either the 32-bit or the 64-bit layout. True with size 0
// when the directory has no such entry or the entry is empty. False when the file is no PE image
// whose headers fit inside it, or when the entry describes a table that does not fit inside the
// file or is shorter than one certificate header.
bool FindCertificateTable(HANDLE file, uint64_t fileSize, CertificateTable& table);

}  // namespace stubframework::core
