// Waiting while serving the thread's messages: what ends the wait, and what becomes of a quit
// message that arrives meanwhile.
#include <gtest/gtest.h>

#include <windows.h>

#include "core/MessagePump.h"
#include "core/UniqueHandle.h"

using stubframework::core::PumpMessagesUntil;

namespace {

constexpr UINT kSetFlag = WM_APP + 1;
bool g_flag = false;

LRESULT CALLBACK FlagWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kSetFlag) g_flag = true;
  return DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI SetLater(void* event) {
  Sleep(50);
  SetEvent(static_cast<HANDLE>(event));
  return 0;
}

}  // namespace

TEST(MessagePump, EndsWhenReadyAtTheLimitOrOnQuitAndPostsTheQuitAgain) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = FlagWindowProc;
  windowClass.lpszClassName = L"MessagePumpTest";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowW(L"MessagePumpTest", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  stubframework::utils::KernelHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const struct {
    const char* name;
    bool postFlag;     // a message whose dispatch makes the wait ready
    int quitCode;      // a quit message posted first (0: none)
    bool setEvent;     // the waited-on event is set by another thread, and makes the wait ready
    bool endOnQuit;
    DWORD limitMs;
    DWORD pollMs;
    bool ready;
  } cases[] = {
      {"dispatched message", true, 0, false, false, 30000, INFINITE, true},
      {"limit", false, 0, false, false, 50, 10, false},
      {"quit held while waiting", true, 7, false, false, 30000, INFINITE, true},
      {"quit ends the wait", false, 9, false, true, 30000, INFINITE, false},
      {"signalled handle", false, 0, true, false, 30000, INFINITE, true},
  };
  for (const auto& c : cases) {
    g_flag = false;
    ResetEvent(event.Get());
    if (c.quitCode) PostQuitMessage(c.quitCode);
    if (c.postFlag) PostMessageW(window, kSetFlag, 0, 0);
    stubframework::utils::KernelHandle setter(c.setEvent ? CreateThread(nullptr, 0, SetLater, event.Get(), 0, nullptr)
                                                         : nullptr);
    DWORD start = GetTickCount();
    bool ready = PumpMessagesUntil(
        [&] { return c.setEvent ? WaitForSingleObject(event.Get(), 0) == WAIT_OBJECT_0 : g_flag; }, c.limitMs, c.pollMs,
        {event.Get()}, c.endOnQuit);
    EXPECT_EQ(ready, c.ready) << c.name;
    // Woken by what it waits for, not by the limit.
    if (c.limitMs == 30000) {
      EXPECT_LT(GetTickCount() - start, 20000u) << c.name;
    }
    MSG message;
    bool quitAgain = PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
    EXPECT_EQ(quitAgain, c.quitCode != 0) << c.name;
    if (quitAgain) {
      EXPECT_EQ(message.wParam, static_cast<WPARAM>(c.quitCode)) << c.name;
    }
  }
  DestroyWindow(window);
}
