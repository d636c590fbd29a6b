#include "downloader/Sha1.h"

#include "core/Digest.h"

namespace downloader {

// CNG rather than a CryptoAPI context per block: the digests are the same, and under Wine
// CryptoAPI hashes at about a third of CNG's speed, which would bound every verification pass.
bool ComputeSha1(const uint8_t* data, size_t size, uint8_t (&digest)[20]) {
  return stubframework::utils::ComputeDigest(stubframework::utils::DigestKind::Sha1, data, size, digest);
}

}  // namespace downloader
