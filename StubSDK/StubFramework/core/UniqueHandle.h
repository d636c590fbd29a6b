#pragma once
// Owners of the handles a function opens: kernel objects, files, file searches, registry keys and
// synchronous WinINet handles. Each closes its handle when it goes out of scope, so every return path does.
#include <windows.h>

namespace stubframework::utils {

template <class Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;

  UniqueHandle() : handle_(Traits::Empty()) {}
  explicit UniqueHandle(Type handle) : handle_(handle) {}
  ~UniqueHandle() { Close(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    Reset(other.Release());
    return *this;
  }

  bool Valid() const { return handle_ != Traits::Empty(); }
  Type Get() const { return handle_; }
  // For a function that opens the handle through an out parameter.
  Type* Out() {
    Close();
    return &handle_;
  }
  void Reset(Type handle) {
    if (Valid()) Traits::Close(handle_);
    handle_ = handle;
  }
  void Close() { Reset(Traits::Empty()); }
  // Gives the handle up to the caller, who closes it.
  Type Release() {
    Type handle = handle_;
    handle_ = Traits::Empty();
    return handle;
  }

 private:
  Type handle_;
};

// CreateFileW and the functions that answer INVALID_HANDLE_VALUE on failure.
struct FileHandleTraits {
  using Type = HANDLE;
  static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE handle) { CloseHandle(handle); }
};

// Events, threads, processes, mutexes, tokens: the functions that answer null on failure.
struct KernelHandleTraits {
  using Type = HANDLE;
  static HANDLE Empty() { return nullptr; }
  static void Close(HANDLE handle) { CloseHandle(handle); }
};

// FindFirstFileW's search handles.
struct FindHandleTraits {
  using Type = HANDLE;
  static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE handle) { FindClose(handle); }
};

struct RegistryKeyTraits {
  using Type = HKEY;
  static HKEY Empty() { return nullptr; }
  static void Close(HKEY key) { RegCloseKey(key); }
};

// Handles of a synchronous WinINet session (HINTERNET); wininet.h stays out of this header.
struct InternetHandleTraits {
  using Type = void*;
  static void* Empty() { return nullptr; }
  static void Close(void* handle);
};

using FileHandle = UniqueHandle<FileHandleTraits>;
using KernelHandle = UniqueHandle<KernelHandleTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;
using RegistryKey = UniqueHandle<RegistryKeyTraits>;
using InternetHandle = UniqueHandle<InternetHandleTraits>;

}  // namespace stubframework::utils
