#include "core/MessagePump.h"

#include <algorithm>

namespace stubframework::core {

bool PumpMessagesUntil(const std::function<bool()>& ready, DWORD timeLimitMs, DWORD pollMs,
                       const std::vector<HANDLE>& handles, bool endOnQuit) {
  bool quit = false;
  WPARAM quitCode = 0;
  DWORD start = GetTickCount();
  bool done = false;
  for (;;) {
    done = ready();
    if (done || (quit && endOnQuit)) break;
    DWORD elapsed = GetTickCount() - start;
    if (timeLimitMs != INFINITE && elapsed >= timeLimitMs) break;
    DWORD wait = timeLimitMs == INFINITE ? pollMs : std::min(pollMs, timeLimitMs - elapsed);
    DWORD count = static_cast<DWORD>(std::min<size_t>(handles.size(), MAXIMUM_WAIT_OBJECTS - 1));
    MsgWaitForMultipleObjects(count, count ? handles.data() : nullptr, FALSE, wait, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        quit = true;
        quitCode = message.wParam;
        continue;
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  if (quit) PostQuitMessage(static_cast<int>(quitCode));
  return done;
}

}  // namespace stubframework::core
