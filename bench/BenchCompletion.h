#pragma once
// The final result of one engine task, waited for by a benchmark program. Interface is the
// task's callback interface (ITaskCallback<long> or one derived from it); Derived supplies what
// else that interface asks for.
#include <windows.h>

#include "downloader/Task.h"

template <class Interface>
class BenchCompletion : public Interface {
 public:
  void OnComplete(long result) override {
    result_ = result;
    SetEvent(done_);
  }
  void Wait() const { WaitForSingleObject(done_, INFINITE); }
  long Result() const { return result_; }

 protected:
  BenchCompletion() : done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  virtual ~BenchCompletion() { CloseHandle(done_); }

 private:
  HANDLE done_;
  long result_ = 0;
};
