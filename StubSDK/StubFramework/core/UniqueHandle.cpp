#include "core/UniqueHandle.h"

#include <wininet.h>

namespace stubframework::utils {

void InternetHandleTraits::Close(void* handle) {
  InternetCloseHandle(handle);
}

}  // namespace stubframework::utils
