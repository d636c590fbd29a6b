#include "downloader/Buffer.h"

#include <cstdlib>
#include <utility>

namespace downloader {

Buffer::~Buffer() { Free(); }

Buffer::Buffer(Buffer&& other) noexcept
    : data(std::exchange(other.data, nullptr)),
      size(std::exchange(other.size, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

Buffer& Buffer::operator=(Buffer&& other) noexcept {
  if (this != &other) {
    Free();
    data = std::exchange(other.data, nullptr);
    size = std::exchange(other.size, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

bool Buffer::SetSize(size_t n) {
  Free();
  // An empty buffer needs no block; malloc(0) may answer null, which is no failure here.
  if (n == 0) return true;
  data = static_cast<uint8_t*>(malloc(n));
  if (!data) return false;
  size = n;
  capacity_ = n;
  return true;
}

void Buffer::SetLength(size_t n) { size = n < capacity_ ? n : capacity_; }

void Buffer::Free() {
  free(data);
  data = nullptr;
  size = 0;
  capacity_ = 0;
}

}  // namespace downloader
