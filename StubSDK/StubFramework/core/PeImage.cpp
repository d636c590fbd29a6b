#include "core/PeImage.h"

#include <cstring>

namespace stubframework::core {
namespace {

constexpr WORD kDosSignature = 0x5A4D;      // "MZ"
constexpr DWORD kPeSignature = 0x00004550;  // "PE\0\0"
constexpr WORD kOptionalHeader32 = 0x10B;
constexpr WORD kOptionalHeader64 = 0x20B;
constexpr DWORD kFileHeaderSize = 20;
constexpr DWORD kCertificateDirectory = 4;

bool Fits(uint64_t offset, uint64_t size, uint64_t fileSize) {
  return offset <= fileSize && size <= fileSize - offset;
}

DWORD Dword(const BYTE* bytes) {
  DWORD value;
  memcpy(&value, bytes, sizeof(value));
  return value;
}

WORD Word(const BYTE* bytes) {
  WORD value;
  memcpy(&value, bytes, sizeof(value));
  return value;
}

}  // namespace

bool ReadFileAt(HANDLE file, uint64_t offset, void* buffer, DWORD size) {
  OVERLAPPED overlapped = {};
  overlapped.Offset = static_cast<DWORD>(offset);
  overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD read = 0;
  return ReadFile(file, buffer, size, &read, &overlapped) && read == size;
}

bool FindCertificateTable(HANDLE file, uint64_t fileSize, CertificateTable& table) {
  table = CertificateTable();
  BYTE dos[64];
  if (!Fits(0, sizeof(dos), fileSize) || !ReadFileAt(file, 0, dos, sizeof(dos)) || Word(dos) != kDosSignature)
    return false;

  // PE signature, file header, then the optional header up to the end of the certificate
  // directory entry in either layout.
  const uint64_t peOffset = Dword(dos + 0x3C);
  BYTE headers[4 + kFileHeaderSize + 112 + 8 * (kCertificateDirectory + 1)];
  if (!Fits(peOffset, sizeof(headers), fileSize) || !ReadFileAt(file, peOffset, headers, sizeof(headers)) ||
      Dword(headers) != kPeSignature)
    return false;
  const BYTE* optional = headers + 4 + kFileHeaderSize;
  // The data directory follows the fixed fields, which are longer in 64-bit images.
  DWORD directoriesAt;
  WORD magic = Word(optional);
  if (magic == kOptionalHeader32)
    directoriesAt = 96;
  else if (magic == kOptionalHeader64)
    directoriesAt = 112;
  else
    return false;
  if (Dword(optional + directoriesAt - 4) <= kCertificateDirectory) return true;  // no such entry
  const BYTE* entry = optional + directoriesAt + 8 * kCertificateDirectory;
  const uint64_t offset = Dword(entry);
  const DWORD size = Dword(entry + 4);
  if (offset == 0 || size == 0) return true;
  if (!Fits(offset, size, fileSize) || size < kCertificateHeaderSize) return false;
  table.offset = offset;
  table.size = size;
  return true;
}

}  // namespace stubframework::core
