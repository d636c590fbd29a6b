#pragma once
// Every worker thread of the run (downloads, installs, ...) is started through the core's
// WorkerSet, so that the end of the run can stop and join them before it destroys what they use:
// the stub parameters, the external object, the method object and the log.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "core/UniqueHandle.h"

namespace stubframework::core {
class HtmlExternal;
}
namespace stubframework::debug {
class InstallerLog;
}

namespace stubframework::setup {

// How long the end of the run waits for workers: an install cannot be interrupted safely, so it
// is given the time an installer may take.
constexpr DWORD kWorkerJoinBoundMs = 10 * 60 * 1000;

class WorkerSet {
 public:
  WorkerSet() { InitializeCriticalSection(&lock_); }
  ~WorkerSet();
  WorkerSet(const WorkerSet&) = delete;
  WorkerSet& operator=(const WorkerSet&) = delete;

  // Runs procedure(argument) on a new thread. False once the set is closing or when the thread
  // cannot be created; the caller then still owns argument.
  bool Start(LPTHREAD_START_ROUTINE procedure, void* argument);

  // True once the end of the run began: a worker then makes no final callback (the page it
  // would reach is going away).
  bool Closing() const { return closing_ != 0; }

  // UI thread, at the end of the run: refuses new workers, keeps the external object's
  // stopRequested set (downloads end with Abort; installs run to their end) and waits up to
  // boundMs for every worker, pumping messages meanwhile so that the callbacks they are making
  // into this thread complete. True when all of them ended; when the bound is reached it logs
  // how many still run and returns false, and the caller must not free what they use. Running
  // it again waits only for what is left.
  bool StopAndJoin(core::HtmlExternal* external, debug::InstallerLog* log, DWORD boundMs);

  // A downloaded file that passed its checks stays locked (core/LockedFile.h) from then until an
  // install takes it over, a new download of the same path begins, or the run ends. False when it
  // cannot be held.
  bool HoldVerified(const std::wstring& path);
  void ReleaseHold(const std::wstring& path);

 private:
  // Closes the handles of workers that have ended. Called with lock_ held.
  void PruneEnded();

  CRITICAL_SECTION lock_;
  std::vector<utils::KernelHandle> threads_;
  std::map<std::wstring, utils::FileHandle> held_;
  volatile LONG closing_ = 0;
  bool boundReached_ = false;
};

}  // namespace stubframework::setup
