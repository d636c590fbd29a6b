#pragma once
// The per-task lock and completion protocol of the tasks that run on WinINet's threads.
//
// state is 0xFFFFFFFF while the task was never started. Afterwards bit 31 is the finishing flag and
// the low 31 bits count the calls currently running inside the task (its entries). The first
// Finish records the result; the close action (T::Close) runs once, when the task is finishing
// and no entry runs any more. The close action is what eventually produces the final completion,
// so it never runs while a callback still works inside the task.
//
// The lock is held only while state and result change, never while another object is called.
#include <windows.h>

namespace downloader {

template <class T, class Result>
class TaskLock {
 protected:
  TaskLock() { InitializeCriticalSection(&lock_); }
  ~TaskLock() { DeleteCriticalSection(&lock_); }
  TaskLock(const TaskLock&) = delete;
  TaskLock& operator=(const TaskLock&) = delete;

  // The start prologue: the running Start becomes the first entry. False when the task was
  // started before; a second Start does nothing.
  bool BeginStart() {
    Guard guard(*this);
    if (state_ != kCreated) return false;
    state_ = 1;
    return true;
  }

  // False when the task is finishing (or was never started); then nothing changed.
  bool TryEnter() {
    Guard guard(*this);
    if (state_ & kFinishing) return false;
    ++state_;
    return true;
  }

  void Leave() {
    unsigned long before;
    {
      Guard guard(*this);
      before = state_--;
    }
    if (before == (kFinishing | 1)) static_cast<T*>(this)->Close();
  }

  // The first call wins; a task that was never started ignores it, because its state already
  // carries the finishing flag.
  void Finish(Result result) {
    bool close;
    {
      Guard guard(*this);
      if (state_ & kFinishing) return;
      state_ |= kFinishing;
      result_ = result;
      close = state_ == kFinishing;
    }
    if (close) static_cast<T*>(this)->Close();
  }

  bool IsFinishing() {
    Guard guard(*this);
    return (state_ & kFinishing) != 0;
  }

  Result FinalResult() {
    Guard guard(*this);
    return result_;
  }

 private:
  class Guard {
   public:
    explicit Guard(TaskLock& owner) : owner_(owner) { EnterCriticalSection(&owner_.lock_); }
    ~Guard() { LeaveCriticalSection(&owner_.lock_); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

   private:
    TaskLock& owner_;
  };

  static constexpr unsigned long kCreated = 0xFFFFFFFFul;
  static constexpr unsigned long kFinishing = 0x80000000ul;

  CRITICAL_SECTION lock_;
  unsigned long state_ = kCreated;
  Result result_{};
};

}  // namespace downloader
