#pragma once
// A block of bytes in C-allocated memory, moved between tasks and their callbacks.
#include <cstddef>
#include <cstdint>

namespace downloader {

class Buffer {
 public:
  Buffer() = default;
  ~Buffer();
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  Buffer(Buffer&& other) noexcept;
  Buffer& operator=(Buffer&& other) noexcept;

  // Frees the old block and allocates n bytes; the contents are not kept. On failure the buffer
  // is empty (data null, size 0) and the answer is false.
  bool SetSize(size_t n);
  // Sets how many bytes of the block are in use, at most Capacity(); the block stays. A reader
  // lends one block for pieces of different lengths this way.
  void SetLength(size_t n);
  size_t Capacity() const { return capacity_; }

  uint8_t* data = nullptr;
  size_t size = 0;

 private:
  void Free();

  size_t capacity_ = 0;
};

}  // namespace downloader
