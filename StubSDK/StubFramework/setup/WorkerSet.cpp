#include "setup/WorkerSet.h"

#include <algorithm>

#include "core/InstallerLog.h"
#include "core/LockedFile.h"
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

// Dispatches what is queued; a quit request is taken out and reported, so that waiting does not
// spin on it, and posted again by the caller once the wait is over.
void PumpMessages(bool& quit, int& quitCode) {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      quit = true;
      quitCode = static_cast<int>(message.wParam);
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
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
  bool quit = false;
  int quitCode = 0;
  DWORD start = GetTickCount();
  while (!running.empty()) {
    if (external) external->SetStopRequested(true);
    DWORD elapsed = GetTickCount() - start;
    if (elapsed >= boundMs) break;
    // At most MAXIMUM_WAIT_OBJECTS at a time; the others are looked at when these have ended.
    DWORD count = static_cast<DWORD>(std::min<size_t>(running.size(), MAXIMUM_WAIT_OBJECTS - 1));
    DWORD wait = std::min(kStopRepeatMs, boundMs - elapsed);
    MsgWaitForMultipleObjects(count, running.data(), FALSE, wait, QS_ALLINPUT);
    PumpMessages(quit, quitCode);
    running.erase(std::remove_if(running.begin(), running.end(),
                                 [](HANDLE thread) { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }),
                  running.end());
  }
  if (quit) PostQuitMessage(quitCode);
  if (running.empty()) return true;
  if (!boundReached_)
    LogLine(log, debug::kLogError, L"End of run: %u worker(s) still running after %lu ms",
            static_cast<unsigned>(running.size()), static_cast<unsigned long>(boundMs));
  boundReached_ = true;
  return false;
}

}  // namespace stubframework::setup
