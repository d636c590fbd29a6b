#pragma once
// Waiting on a thread that serves windows or a single-threaded apartment without stopping what it
// serves: its windows' messages and the calls COM delivers into its apartment, such as a worker's
// callback into the page.
#include <windows.h>

#include <functional>
#include <vector>

namespace stubframework::core {

// Serves the calling thread's messages until ready() is true or timeLimitMs has passed (INFINITE:
// no limit). Between looks it sleeps until a message arrives, one of handles is signalled (at most
// MAXIMUM_WAIT_OBJECTS - 1 of them are waited on; ready() may change the list) or pollMs has
// passed. A quit message is taken out, so that the wait does not spin on it, and posted again when
// the wait is over, for the loop that owns it; with endOnQuit it also ends the wait. True when
// ready() was true.
bool PumpMessagesUntil(const std::function<bool()>& ready, DWORD timeLimitMs, DWORD pollMs,
                       const std::vector<HANDLE>& handles = {}, bool endOnQuit = false);

}  // namespace stubframework::core
