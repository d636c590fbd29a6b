#pragma once
// The SHA-1 digest of one block of bytes. Every digest of the engine is computed here, so the
// choice of the platform's hashing service sits in one place.
#include <cstddef>
#include <cstdint>

namespace downloader {

// False when the platform's hashing service fails.
bool ComputeSha1(const uint8_t* data, size_t size, uint8_t (&digest)[20]);

}  // namespace downloader
