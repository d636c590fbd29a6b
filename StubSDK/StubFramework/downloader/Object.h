#pragma once
// The reference-counted object model of the download engine: every engine object derives from
// IObject and is created as a details::Object<T>.
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <utility>

namespace downloader {

struct IObject {
  virtual void AddRef() = 0;
  virtual void Release() = 0;

 protected:
  ~IObject() = default;
};

struct ILogger : IObject {
  // where names the reporting operation ("HttpTask::Start"); format is a wide printf format.
  virtual void Log(const wchar_t* where, const wchar_t* format, ...) = 0;
};

namespace details {

// The number of engine objects alive in the process. Tests compare it before and after a task's
// life to show that every reference taken was given back.
inline std::atomic<long> liveObjects{0};

inline long LiveObjectCount() { return liveObjects.load(); }

// The concrete form of an engine object: T plus a count guarded by a critical section. The count
// starts at 1; the object destroys itself and frees its C-allocated memory when it reaches 0.
template <class T>
class Object final : public T {
 public:
  template <class... Args>
  static Object* Create(Args&&... args) {
    void* memory = malloc(sizeof(Object));
    if (!memory) return nullptr;
    return new (memory) Object(std::forward<Args>(args)...);
  }

  void AddRef() override {
    EnterCriticalSection(&lock_);
    ++referenceCount_;
    LeaveCriticalSection(&lock_);
  }

  void Release() override {
    EnterCriticalSection(&lock_);
    long before = referenceCount_--;
    LeaveCriticalSection(&lock_);
    if (before == 1) {
      this->~Object();
      free(this);
    }
  }

 private:
  template <class... Args>
  explicit Object(Args&&... args) : T(std::forward<Args>(args)...) {
    InitializeCriticalSection(&lock_);
    ++liveObjects;
  }
  ~Object() {
    DeleteCriticalSection(&lock_);
    --liveObjects;
  }

  CRITICAL_SECTION lock_;
  long referenceCount_ = 1;
};

}  // namespace details
}  // namespace downloader
