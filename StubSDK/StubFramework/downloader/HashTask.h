#pragma once
// Computes the SHA-1 digest of each 1 MiB block of a local file, from the file's current
// position to its end, on a thread-pool thread. OnHash comes once per block in order, then
// OnComplete once; Cancel takes effect before the next read.
#include <windows.h>

#include "core/ComRef.h"
#include "downloader/Task.h"

namespace downloader {

class HashTask : public ITask {
 public:
  void Start() override;
  void Cancel() override;

 protected:
  HashTask(HANDLE file, IHashCallback* callback);
  virtual ~HashTask();

 private:
  friend class details::Object<HashTask>;

  enum State { kIdle = 0, kRunning = 1, kCancelRequested = 2 };

  static DWORD WINAPI Work(void* context);
  HashResult HashBlocks();
  bool CancelRequested();

  HANDLE file_;  // not owned
  stubframework::utils::ComRef<IHashCallback> callback_;
  int hashState_ = kIdle;
  CRITICAL_SECTION lock_;
};

// The task references the callback; null when an argument is null or memory runs out.
ITask* CreateHashTask(HANDLE file, IHashCallback* callback);

}  // namespace downloader
