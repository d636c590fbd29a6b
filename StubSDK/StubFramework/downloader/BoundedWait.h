#pragma once
// The deadlines of the stub's own for everything that waits on a server. WinINet's time-outs
// cannot be relied on for them: Wine's WinINet applies none to a TLS handshake, and closing a
// request whose answer has not come does not end it there. So a waiting caller gives up by
// itself: it cancels a task, whose completion then comes at once, or it leaves a blocking call
// to finish alone on a thread of its own.
#include <windows.h>

#include <functional>

#include "downloader/Task.h"

namespace downloader {

// A worker's transfer that brings nothing for this long is given up, as WinINet's receive
// time-out gives up a request on Windows; the worker then tries again.
constexpr DWORD kTransferIdleMs = 30000;
// A call that the page's script waits for (the self-update check, the size probe) gives the
// server this long.
constexpr DWORD kProbeDeadlineMs = 10000;
// How often a wait looks at its stop signal: a stop ends a wait within about this long.
constexpr DWORD kStopPollMs = 20;

// True when the caller no longer wants the result (the user stopped the download); empty: never.
using StopSignal = std::function<bool()>;

// When a blocking wait gives up before its transfer ends by itself.
struct WaitLimits {
  DWORD idleMs = kTransferIdleMs;  // this long without any sign of progress
  StopSignal stopped;
};

enum class WaitEnd { kDone, kStopped, kIdle };

// The moment of a transfer's last sign of progress; touched from any thread.
class ActivityClock {
 public:
  ActivityClock() { Touch(); }
  void Touch() { InterlockedExchange64(&last_, static_cast<LONG64>(GetTickCount64())); }
  ULONGLONG IdleMs() const { return GetTickCount64() - static_cast<ULONGLONG>(InterlockedCompareExchange64(&last_, 0, 0)); }

 private:
  mutable volatile LONG64 last_ = 0;
};

// kStopped or kIdle when limits say to give up now, else kDone.
WaitEnd GiveUpReason(const ActivityClock& activity, const WaitLimits& limits);

// Waits for done, which task's callback signals at its completion. When limits say to give up,
// cancels task once and waits for its completion, which a cancelled task makes at once; the
// result tells why the wait ended.
WaitEnd WaitForTask(HANDLE done, ITask* task, const ActivityClock& activity, const WaitLimits& limits);

// Sleeps for ms, or less when stopped turns true meanwhile; true when stopped.
bool SleepUnlessStopped(DWORD ms, const StopSignal& stopped);

// Runs work on a thread of its own and waits until it ends, boundMs pass or stopped turns true;
// true when work ended. Otherwise work goes on alone and whatever it produces later is dropped,
// so it must own everything it touches. False, without running work, when no thread can start.
bool RunBounded(std::function<void()> work, DWORD boundMs, const StopSignal& stopped = nullptr);

}  // namespace downloader
