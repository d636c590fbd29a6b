#include "core/Digest.h"

#include <windows.h>
#include <bcrypt.h>

namespace stubframework::utils {

namespace {

const wchar_t* AlgorithmName(DigestKind kind) {
  switch (kind) {
    case DigestKind::Sha1: return BCRYPT_SHA1_ALGORITHM;
    case DigestKind::Sha256: return BCRYPT_SHA256_ALGORITHM;
    default: return BCRYPT_MD5_ALGORITHM;
  }
}

BCRYPT_ALG_HANDLE OpenAlgorithm(DigestKind kind) {
  BCRYPT_ALG_HANDLE handle = nullptr;
  if (BCryptOpenAlgorithmProvider(&handle, AlgorithmName(kind), nullptr, 0) < 0) return nullptr;
  return handle;
}

// One algorithm handle per kind for the process: opening the provider is the costly part, and a
// handle may create hash objects on several threads at once. They are never closed; the process
// ends them.
BCRYPT_ALG_HANDLE Algorithm(DigestKind kind) {
  static BCRYPT_ALG_HANDLE sha1 = OpenAlgorithm(DigestKind::Sha1);
  static BCRYPT_ALG_HANDLE sha256 = OpenAlgorithm(DigestKind::Sha256);
  static BCRYPT_ALG_HANDLE md5 = OpenAlgorithm(DigestKind::Md5);
  switch (kind) {
    case DigestKind::Sha1: return sha1;
    case DigestKind::Sha256: return sha256;
    default: return md5;
  }
}

}  // namespace

size_t DigestSize(DigestKind kind) {
  switch (kind) {
    case DigestKind::Sha1: return 20;
    case DigestKind::Sha256: return 32;
    default: return 16;
  }
}

bool ComputeDigest(DigestKind kind, const uint8_t* data, size_t size, uint8_t* digest) {
  BCRYPT_ALG_HANDLE algorithm = Algorithm(kind);
  if (!algorithm) return false;
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) < 0) return false;
  bool ok = true;
  // BCryptHashData takes a 32-bit count.
  for (size_t done = 0; ok && done < size;) {
    ULONG piece = static_cast<ULONG>(size - done > 0x40000000 ? 0x40000000 : size - done);
    ok = BCryptHashData(hash, const_cast<PUCHAR>(data + done), piece, 0) >= 0;
    done += piece;
  }
  ok = ok && BCryptFinishHash(hash, digest, static_cast<ULONG>(DigestSize(kind)), 0) >= 0;
  BCryptDestroyHash(hash);
  return ok;
}

std::wstring DigestHex(DigestKind kind, const uint8_t* data, size_t size, bool upperCase) {
  uint8_t digest[32];
  if (!ComputeDigest(kind, data, size, digest)) return std::wstring();
  const wchar_t* digits = upperCase ? L"0123456789ABCDEF" : L"0123456789abcdef";
  std::wstring text;
  for (size_t i = 0; i < DigestSize(kind); ++i) {
    text += digits[digest[i] >> 4];
    text += digits[digest[i] & 15];
  }
  return text;
}

}  // namespace stubframework::utils
