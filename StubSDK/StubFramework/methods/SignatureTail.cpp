#include "methods/SignatureTail.h"

#include <cstring>
#include <vector>

#include "core/PeImage.h"
#include "core/UniqueHandle.h"

namespace stubframework::methods {
namespace {

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
  core::CertificateTable table;
  if (!core::FindCertificateTable(file.Get(), static_cast<uint64_t>(length.QuadPart), table))
    return ERROR_INSTALL_FAILURE;
  if (table.size == 0) return 0;

  BYTE certificate[core::kCertificateHeaderSize];
  if (!core::ReadFileAt(file.Get(), table.offset, certificate, sizeof(certificate))) return ERROR_INSTALL_FAILURE;
  DWORD certificateLength;
  memcpy(&certificateLength, certificate, sizeof(certificateLength));
  if (certificateLength < core::kCertificateHeaderSize || certificateLength > table.size) return ERROR_INSTALL_FAILURE;
  const DWORD extra = table.size - certificateLength;
  if (extra > kMaxSignatureTailBytes) return ERROR_INSTALL_FAILURE;
  if (extra == 0) return 0;

  std::vector<char> bytes(extra + 1, '\0');
  if (!core::ReadFileAt(file.Get(), table.offset + certificateLength, bytes.data(), extra))
    return ERROR_INSTALL_FAILURE;
  text = DecodeUtf8(bytes.data(), strlen(bytes.data()));
  return 0;
}

}  // namespace stubframework::methods
