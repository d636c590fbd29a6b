#pragma once
// Message digests through the platform's hashing service (CNG): the engine's SHA-1 block digests,
// the SHA-256 of the machine identifier and the MD5 of the hardware description.
#include <cstddef>
#include <cstdint>
#include <string>

namespace stubframework::utils {

enum class DigestKind { Sha1, Sha256, Md5 };

// Size in bytes of a digest of the kind: 20, 32 or 16.
size_t DigestSize(DigestKind kind);

// Writes DigestSize(kind) bytes to digest; false when the hashing service fails.
bool ComputeDigest(DigestKind kind, const uint8_t* data, size_t size, uint8_t* digest);

// The digest as hexadecimal text, two digits per byte (lower case unless upperCase); empty when
// the hashing service fails.
std::wstring DigestHex(DigestKind kind, const uint8_t* data, size_t size, bool upperCase);

}  // namespace stubframework::utils
