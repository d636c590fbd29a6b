#include "setup/WorkerSet.h"

#include <algorithm>

#include "core/InstallerLog.h"
#include "core/LockedFile.h"
#include "core/MessagePump.h"
#include "htmlui/HtmlExternal.h"

namespace stubframework::setup {

namespace {

// How often the stop flag is set again while waiting: a download that starts clears it.
constexpr DWORD kStopRepeatMs = 50;

void LogLine(debug::InstallerLog* log, int level, const wchar_t* format, ...) {
  if (!log) return;
  va_list args;
  va_start(args, format);
  log->Write(level, format, args);
  va_end(args);
}

}  // namespace

bool WorkerSet::HoldVerified(const std::wstring& path) {
  HANDLE file = utils::OpenLockedForUse(path);
  if (file == INVALID_HANDLE_VALUE) return false;
  EnterCriticalSection(&lock_);
  HANDLE& slot = held_[path];
  if (slot) CloseHandle(slot);
  slot = file;
  LeaveCriticalSection(&lock_);
  return true;
}

void WorkerSet::ReleaseHold(const std::wstring& path) {
  EnterCriticalSection(&lock_);
  auto found = held_.find(path);
  if (found != held_.end()) {
    CloseHandle(found->second);
    held_.erase(found);
  }
  LeaveCriticalSection(&lock_);
}

WorkerSet::~WorkerSet() {
  for (auto& entry : held_) CloseHandle(entry.second);
  for (HANDLE thread : threads_) CloseHandle(thread);
  DeleteCriticalSection(&lock_);
}

void WorkerSet::PruneEnded() {
  auto ended = std::remove_if(threads_.begin(), threads_.end(), [](HANDLE thread) {
    if (WaitForSingleObject(thread, 0) != WAIT_OBJECT_0) return false;
    CloseHandle(thread);
    return true;
  });
  threads_.erase(ended, threads_.end());
}

bool WorkerSet::Start(LPTHREAD_START_ROUTINE procedure, void* argument) {
  EnterCriticalSection(&lock_);
  HANDLE thread = nullptr;
  if (!closing_) {
    PruneEnded();
    thread = CreateThread(nullptr, 0, procedure, argument, 0, nullptr);
    if (thread) threads_.push_back(thread);
  }
  LeaveCriticalSection(&lock_);
  return thread != nullptr;
}

bool WorkerSet::StopAndJoin(core::HtmlExternal* external, debug::InstallerLog* log, DWORD boundMs) {
  EnterCriticalSection(&lock_);
  closing_ = 1;
  PruneEnded();
  std::vector<HANDLE> running = threads_;
  LeaveCriticalSection(&lock_);

  // After the bound was reached once, later calls only look at what has ended since.
  if (boundReached_) boundMs = 0;
  bool ended = core::PumpMessagesUntil(
      [&] {
        running.erase(std::remove_if(running.begin(), running.end(),
                                     [](HANDLE thread) { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }),
                      running.end());
        if (!running.empty() && external) external->SetStopRequested(true);
        return running.empty();
      },
      boundMs, kStopRepeatMs, running);
  if (ended) return true;
  if (!boundReached_)
    LogLine(log, debug::kLogError, L"End of run: %u worker(s) still running after %lu ms",
            static_cast<unsigned>(running.size()), static_cast<unsigned long>(boundMs));
  boundReached_ = true;
  return false;
}

}  // namespace stubframework::setup
