#pragma once
// Owned strings of the download engine. They live in C-allocated memory and report a failed
// allocation instead of throwing, so that the engine never throws.
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <utility>

namespace downloader {

template <class Char>
class BasicText {
 public:
  BasicText() = default;
  ~BasicText() { free(data_); }
  BasicText(const BasicText&) = delete;
  BasicText& operator=(const BasicText&) = delete;
  BasicText(BasicText&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), length_(std::exchange(other.length_, 0)) {}
  BasicText& operator=(BasicText&& other) noexcept {
    if (this != &other) {
      free(data_);
      data_ = std::exchange(other.data_, nullptr);
      length_ = std::exchange(other.length_, 0);
    }
    return *this;
  }

  // Copies length characters; false (and empty) when memory runs out.
  bool Assign(const Char* text, size_t length) {
    Char* copy = static_cast<Char*>(malloc((length + 1) * sizeof(Char)));
    if (!copy) {
      Clear();
      return false;
    }
    if (length) memcpy(copy, text, length * sizeof(Char));
    copy[length] = Char();
    free(data_);
    data_ = copy;
    length_ = length;
    return true;
  }
  bool Assign(const Char* text) { return Assign(text, Length(text)); }

  // Takes over a C-allocated block that holds length characters and room for a terminator.
  void Adopt(Char* block, size_t length) {
    free(data_);
    data_ = block;
    length_ = length;
    data_[length] = Char();
  }

  void Clear() {
    free(data_);
    data_ = nullptr;
    length_ = 0;
  }

  const Char* Get() const { return data_ ? data_ : Empty(); }
  size_t Length() const { return length_; }
  bool IsEmpty() const { return length_ == 0; }

 private:
  static size_t Length(const Char* text) {
    size_t length = 0;
    while (text[length]) ++length;
    return length;
  }
  static const Char* Empty() {
    static const Char empty[1] = {};
    return empty;
  }

  Char* data_ = nullptr;
  size_t length_ = 0;
};

using Text = BasicText<char>;
using WideText = BasicText<wchar_t>;

}  // namespace downloader
