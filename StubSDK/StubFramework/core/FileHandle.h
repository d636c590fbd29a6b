#pragma once
// Owner of a file handle from CreateFileW, closed when the owner goes out of scope.
#include <windows.h>

namespace stubframework::utils {

class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() { Close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return handle_; }
  void Reset(HANDLE handle) {
    if (Valid()) CloseHandle(handle_);
    handle_ = handle;
  }
  void Close() { Reset(INVALID_HANDLE_VALUE); }
  // Gives the handle up to the caller, who closes it.
  HANDLE Release() {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }

 private:
  HANDLE handle_;
};

}  // namespace stubframework::utils
