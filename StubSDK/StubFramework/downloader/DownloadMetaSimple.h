#pragma once
// The ".meta" file published next to a verified download: the file's length as a signed 64-bit
// little-endian number, then the SHA-1 digest of every 1 MiB block in block order.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace downloader {

constexpr int64_t kBlockSize = 1048576;

struct DownloadMeta {
  int64_t length = 0;
  std::vector<std::array<uint8_t, 20>> digests;
};

// The number of 1 MiB blocks of a file of that length (the last one may be shorter).
constexpr int64_t BlockCount(int64_t length) { return length / kBlockSize + (length % kBlockSize != 0); }

// True when the bytes are a valid ".meta" file; meta then holds its length and digests. A negative
// length is refused: the field counts bytes.
bool CreateDownloadMetaSimple(const uint8_t* bytes, size_t size, DownloadMeta& meta);

}  // namespace downloader
