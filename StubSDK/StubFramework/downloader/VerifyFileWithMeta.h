#pragma once
// Checks, blocking, that a local file is exactly the file a ".meta" URL describes: same length,
// same number of blocks, every block's digest equal. A metadata URL that cannot be reached (or
// answers neither 200 nor a redirect) counts as a match; one that answers but cannot be read or
// parsed does not. The caller waits: the probe and the metadata's transfer are each given
// downloader::kProbeDeadlineMs, and a probe without an answer by then counts as unreachable.
#include <string>

namespace stubframework::utils {

bool VerifyFileWithMeta(const std::wstring& path, const std::wstring& metaUrl);

}  // namespace stubframework::utils
