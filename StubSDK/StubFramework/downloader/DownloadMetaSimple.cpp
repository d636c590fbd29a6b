#include "downloader/DownloadMetaSimple.h"

#include <cstring>
#include <new>

namespace downloader {

bool CreateDownloadMetaSimple(const uint8_t* bytes, size_t size, DownloadMeta& meta) {
  if (!bytes || size < 8) return false;
  int64_t length;
  memcpy(&length, bytes, sizeof(length));
  if (length < 0) return false;
  int64_t count = BlockCount(length);
  if (count >= 0x4000000) return false;
  if (static_cast<uint64_t>(size) != 8 + 20 * static_cast<uint64_t>(count)) return false;
  // The engine reports failures instead of throwing: a list too large for memory is a refusal.
  try {
    meta.digests.resize(static_cast<size_t>(count));
  } catch (const std::bad_alloc&) {
    return false;
  }
  meta.length = length;
  for (size_t i = 0; i < meta.digests.size(); ++i) memcpy(meta.digests[i].data(), bytes + 8 + 20 * i, 20);
  return true;
}

}  // namespace downloader
