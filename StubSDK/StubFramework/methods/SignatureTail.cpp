#include "methods/SignatureTail.h"

#include <cstring>
#include <vector>

#include "core/FileHandle.h"

namespace stubframework::methods {
namespace {

constexpr WORD kDosSignature = 0x5A4D;      // "MZ"
constexpr DWORD kPeSignature = 0x00004550;  // "PE\0\0"
constexpr WORD kOptionalHeader32 = 0x10B;
constexpr WORD kOptionalHeader64 = 0x20B;
constexpr DWORD kFileHeaderSize = 20;
constexpr DWORD kCertificateDirectory = 4;
constexpr DWORD kCertificateHeaderSize = 8;  // length, revision, type

// Reads exactly size bytes at offset, which the caller has checked against the file's length.
bool ReadAt(HANDLE file, ULONGLONG offset, void* buffer, DWORD size) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) return false;
  DWORD read = 0;
  return ReadFile(file, buffer, size, &read, nullptr) && read == size;
}

bool Fits(ULONGLONG offset, ULONGLONG size, ULONGLONG fileSize) {
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

// Strict UTF-8: a byte sequence that is not valid gives the empty text.
std::wstring DecodeUtf8(const char* bytes, size_t size) {
  if (size == 0) return std::wstring();
  int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(size), nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring text(static_cast<size_t>(length), L'\0');
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(size), &text[0], length) !=
      length)
    return std::wstring();
  return text;
}

}  // namespace

DWORD ReadSignatureTailText(const std::wstring& path, std::wstring& text) {
  text.clear();
  utils::FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER length;
  if (!file.Valid() || !GetFileSizeEx(file.Get(), &length)) return ERROR_INSTALL_FAILURE;
  const ULONGLONG fileSize = static_cast<ULONGLONG>(length.QuadPart);

  BYTE dos[64];
  if (!Fits(0, sizeof(dos), fileSize) || !ReadAt(file.Get(), 0, dos, sizeof(dos)) || Word(dos) != kDosSignature)
    return ERROR_INSTALL_FAILURE;

  // PE signature, file header, then the optional header up to the end of the certificate
  // directory entry in either layout.
  const ULONGLONG peOffset = Dword(dos + 0x3C);
  BYTE headers[4 + kFileHeaderSize + 112 + 8 * (kCertificateDirectory + 1)];
  if (!Fits(peOffset, sizeof(headers), fileSize) || !ReadAt(file.Get(), peOffset, headers, sizeof(headers)) ||
      Dword(headers) != kPeSignature)
    return ERROR_INSTALL_FAILURE;
  const BYTE* optional = headers + 4 + kFileHeaderSize;
  // The data directory follows the fixed fields, which are longer in 64-bit images.
  DWORD directoriesAt;
  WORD magic = Word(optional);
  if (magic == kOptionalHeader32)
    directoriesAt = 96;
  else if (magic == kOptionalHeader64)
    directoriesAt = 112;
  else
    return ERROR_INSTALL_FAILURE;
  if (Dword(optional + directoriesAt - 4) <= kCertificateDirectory) return 0;  // no such directory entry
  const BYTE* entry = optional + directoriesAt + 8 * kCertificateDirectory;
  // The certificate directory holds a file offset, not an address.
  const ULONGLONG tableOffset = Dword(entry);
  const DWORD tableSize = Dword(entry + 4);
  if (tableOffset == 0 || tableSize == 0) return 0;
  if (!Fits(tableOffset, tableSize, fileSize) || tableSize < kCertificateHeaderSize) return ERROR_INSTALL_FAILURE;

  BYTE certificate[kCertificateHeaderSize];
  if (!ReadAt(file.Get(), tableOffset, certificate, sizeof(certificate))) return ERROR_INSTALL_FAILURE;
  const DWORD certificateLength = Dword(certificate);
  if (certificateLength < kCertificateHeaderSize || certificateLength > tableSize) return ERROR_INSTALL_FAILURE;
  const DWORD extra = tableSize - certificateLength;
  if (extra > kMaxSignatureTailBytes) return ERROR_INSTALL_FAILURE;
  if (extra == 0) return 0;

  std::vector<char> bytes(extra + 1, '\0');
  if (!ReadAt(file.Get(), tableOffset + certificateLength, bytes.data(), extra)) return ERROR_INSTALL_FAILURE;
  text = DecodeUtf8(bytes.data(), strlen(bytes.data()));
  return 0;
}

}  // namespace stubframework::methods
