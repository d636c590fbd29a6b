#include "downloader/BoundedWait.h"

#include <algorithm>
#include <memory>

#include "core/UniqueHandle.h"

namespace downloader {
namespace {

bool IsStopped(const StopSignal& stopped) { return stopped && stopped(); }

// Waits for handle (none: only time passes) until it is signalled (kDone), stopped turns true
// (kStopped) or boundMs have passed (kIdle).
WaitEnd WaitUnlessStopped(HANDLE handle, DWORD boundMs, const StopSignal& stopped) {
  ULONGLONG deadline = GetTickCount64() + boundMs;
  for (;;) {
    if (IsStopped(stopped)) return WaitEnd::kStopped;
    ULONGLONG now = GetTickCount64();
    if (now >= deadline) return WaitEnd::kIdle;
    DWORD slice = static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, kStopPollMs));
    if (!handle) Sleep(slice);
    else if (WaitForSingleObject(handle, slice) == WAIT_OBJECT_0) return WaitEnd::kDone;
  }
}

DWORD WINAPI RunWork(void* argument) {
  std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(argument));
  (*work)();
  return 0;
}

}  // namespace

WaitEnd GiveUpReason(const ActivityClock& activity, const WaitLimits& limits) {
  if (IsStopped(limits.stopped)) return WaitEnd::kStopped;
  return activity.IdleMs() >= limits.idleMs ? WaitEnd::kIdle : WaitEnd::kDone;
}

WaitEnd WaitForTask(HANDLE done, ITask* task, const ActivityClock& activity, const WaitLimits& limits) {
  while (WaitForSingleObject(done, kStopPollMs) != WAIT_OBJECT_0) {
    WaitEnd reason = GiveUpReason(activity, limits);
    if (reason == WaitEnd::kDone) continue;
    task->Cancel();
    WaitForSingleObject(done, INFINITE);
    return reason;
  }
  return WaitEnd::kDone;
}

bool SleepUnlessStopped(DWORD ms, const StopSignal& stopped) {
  return WaitUnlessStopped(nullptr, ms, stopped) == WaitEnd::kStopped;
}

bool RunBounded(std::function<void()> work, DWORD boundMs, const StopSignal& stopped) {
  auto* job = new std::function<void()>(std::move(work));
  stubframework::utils::KernelHandle thread(CreateThread(nullptr, 0, RunWork, job, 0, nullptr));
  if (!thread.Valid()) {
    delete job;
    return false;
  }
  return WaitUnlessStopped(thread.Get(), boundMs, stopped) == WaitEnd::kDone;
}

}  // namespace downloader
