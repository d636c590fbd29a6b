#include "setup/WorkerSet.h"

#include <algorithm>
#include <utility>

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
  utils::FileHandle file(utils::OpenLockedForUse(path));
  if (!file.Valid()) return false;
  EnterCriticalSection(&lock_);
  held_[path] = std::move(file);
  LeaveCriticalSection(&lock_);
  return true;
}

void WorkerSet::ReleaseHold(const std::wstring& path) {
  EnterCriticalSection(&lock_);
  held_.erase(path);
  LeaveCriticalSection(&lock_);
}

WorkerSet::~WorkerSet() {
  DeleteCriticalSection(&lock_);
}

void WorkerSet::PruneEnded() {
  auto ended = std::remove_if(threads_.begin(), threads_.end(), [](const utils::KernelHandle& thread) {
    return WaitForSingleObject(thread.Get(), 0) == WAIT_OBJECT_0;
  });
  threads_.erase(ended, threads_.end());
}

bool WorkerSet::Start(LPTHREAD_START_ROUTINE procedure, void* argument) {
  EnterCriticalSection(&lock_);
  bool started = false;
  if (!closing_) {
    PruneEnded();
    utils::KernelHandle thread(CreateThread(nullptr, 0, procedure, argument, 0, nullptr));
    started = thread.Valid();
    if (started) threads_.push_back(std::move(thread));
  }
  LeaveCriticalSection(&lock_);
  return started;
}

bool WorkerSet::StopAndJoin(core::HtmlExternal* external, debug::InstallerLog* log, DWORD boundMs) {
  EnterCriticalSection(&lock_);
  closing_ = 1;
  PruneEnded();
  std::vector<HANDLE> running;
  for (const utils::KernelHandle& thread : threads_) running.push_back(thread.Get());
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
