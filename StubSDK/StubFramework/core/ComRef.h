#pragma once
// Owner of one reference on a COM object (or an object of the download engine, which counts
// references the same way), released when the owner goes out of scope.
#include <utility>

namespace stubframework::utils {

template <class T>
class ComRef {
 public:
  ComRef() = default;
  // Takes over the reference the caller holds.
  explicit ComRef(T* adopted) : pointer_(adopted) {}
  ~ComRef() { Reset(); }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ComRef(ComRef&& other) noexcept : pointer_(other.Detach()) {}
  ComRef& operator=(ComRef&& other) noexcept {
    Reset(other.Detach());
    return *this;
  }

  // Adds a reference of its own to a pointer the caller keeps.
  static ComRef Share(T* pointer) {
    if (pointer) pointer->AddRef();
    return ComRef(pointer);
  }

  T* Get() const { return pointer_; }
  T* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }
  // For QueryInterface, CoCreateInstance and the getters that hand out a reference.
  T** Out() {
    Reset();
    return &pointer_;
  }
  void** OutVoid() { return reinterpret_cast<void**>(Out()); }
  void Reset(T* adopted = nullptr) {
    T* old = std::exchange(pointer_, adopted);
    if (old) old->Release();
  }
  // Gives the reference up to the caller, who releases it.
  T* Detach() { return std::exchange(pointer_, nullptr); }

 private:
  T* pointer_ = nullptr;
};

}  // namespace stubframework::utils
