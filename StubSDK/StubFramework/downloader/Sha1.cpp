#include "downloader/Sha1.h"

#include <windows.h>
#include <bcrypt.h>

namespace downloader {

namespace {

// One algorithm handle for the process: opening the provider is the costly part, and a handle
// may create hash objects on several threads at once. It is never closed; the process ends it.
BCRYPT_ALG_HANDLE Sha1Algorithm() {
  static BCRYPT_ALG_HANDLE algorithm = [] {
    BCRYPT_ALG_HANDLE handle = nullptr;
    if (BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA1_ALGORITHM, nullptr, 0) < 0) return BCRYPT_ALG_HANDLE();
    return handle;
  }();
  return algorithm;
}

}  // namespace

// CNG rather than a CryptoAPI context per block: the digests are the same, and under Wine
// CryptoAPI hashes at about a third of CNG's speed, which would bound every verification pass.
bool ComputeSha1(const uint8_t* data, size_t size, uint8_t (&digest)[20]) {
  BCRYPT_ALG_HANDLE algorithm = Sha1Algorithm();
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
  ok = ok && BCryptFinishHash(hash, digest, sizeof(digest), 0) >= 0;
  BCryptDestroyHash(hash);
  return ok;
}

}  // namespace downloader
