#include "product/TrackingThread.h"

#include <deque>
#include <mutex>

#include "core/ComValue.h"
#include "core/TextFormat.h"
#include "product/ProductAnalytics.h"
#include "product/TrackerHTMLDialog.h"

namespace myexternalmethods {

namespace {

// The process's one queue, pair of events and tracking thread. g_startLock makes the first
// trackEventData the only one that creates them, and the release the only one that frees them.
std::mutex g_startLock;
CRITICAL_SECTION* g_queueLock = nullptr;
std::deque<std::wstring>* g_queue = nullptr;
HANDLE g_exitEvent = nullptr;
HANDLE g_exitedEvent = nullptr;
HANDLE g_thread = nullptr;
std::wstring g_pageUrl;
bool g_alerting = false;
TrackerPageFactory g_pageFactory;

class QueueGuard {
 public:
  QueueGuard() { EnterCriticalSection(g_queueLock); }
  ~QueueGuard() { LeaveCriticalSection(g_queueLock); }
};

ULONGLONG ElapsedMs(ULONGLONG since) { return GetTickCount64() - since; }

}  // namespace

// The count is raised first: a page may acknowledge inside trackEvent.
void DeliverEvent(TrackerPage& page, const std::wstring& text) {
  stubframework::utils::Bstr argumentText(text);
  VARIANT argument;
  argument.vt = VT_BSTR;
  argument.bstrVal = argumentText.Get();
  stubframework::utils::Variant result;
  AnalyticsLogTrace(L"Before Calling trackEvent");
  AnalyticsLogTrace(L"vaArgs:\n%s", text.c_str());
  page.AddPendingAcknowledgement(1);
  HRESULT hr = page.CallJScriptFunct(argument, result.Get());
  if (result->vt == VT_BSTR && SysStringLen(result->bstrVal) > 0)
    AnalyticsLogTrace(L"vaArgsRet:\n%s", result->bstrVal);
  if (hr != S_OK) {
    AnalyticsLogError(L"CallJScriptFunct failed, errorCode: %u.", GetLastError());
    page.AddPendingAcknowledgement(-1);
  }
  AnalyticsLogTrace(L"After Calling trackEvent");
}

TrackerPage::TrackerPage() { InitializeCriticalSection(&dialogLock_); }
TrackerPage::~TrackerPage() { DeleteCriticalSection(&dialogLock_); }

void TrackerPage::PostJSMessage(const VARIANT& message) {
  stubframework::utils::Variant text;
  if (FAILED(VariantChangeType(text.Get(), const_cast<VARIANT*>(&message), 0, VT_BSTR))) return;
  std::wstring value(text->bstrVal ? text->bstrVal : L"", SysStringLen(text->bstrVal));
  static const wchar_t kDebugPrefix[] = L"JS DEBUG: ";
  if (value == L"eventTracked")
    AddPendingAcknowledgement(-1);
  else if (value.compare(0, wcslen(kDebugPrefix), kDebugPrefix) == 0)
    AnalyticsLogText(value);
}

void TrackerPage::AddPendingAcknowledgement(int delta) {
  EnterCriticalSection(&dialogLock_);
  // An acknowledgement of nothing delivered does not stand for a later event.
  pendingAcknowledgements_ = pendingAcknowledgements_ + delta < 0 ? 0 : pendingAcknowledgements_ + delta;
  LeaveCriticalSection(&dialogLock_);
}

int32_t TrackerPage::PendingAcknowledgements() {
  EnterCriticalSection(&dialogLock_);
  int32_t pending = pendingAcknowledgements_;
  LeaveCriticalSection(&dialogLock_);
  return pending;
}

void SetTrackerPageFactory(TrackerPageFactory factory) { g_pageFactory = std::move(factory); }

std::wstring TrackThreadEventName(bool exited, DWORD processId) {
  return stubframework::utils::FormatWide(exited ? L"Local\\TrackThreadExited%d" : L"Local\\TrackThreadExit%d",
                                          static_cast<int>(processId));
}

int32_t trackEventData(const std::wstring& pageUrl, const std::wstring& json) {
  AnalyticsLogTrace(L"Call trackEventData");
  std::lock_guard<std::mutex> guard(g_startLock);
  int32_t result = 0;
  if (!g_thread) {
    if (!g_queueLock) {
      auto* lock = new CRITICAL_SECTION;
      InitializeCriticalSection(lock);
      g_queue = new std::deque<std::wstring>;
      g_queueLock = lock;
    }
    DWORD processId = GetCurrentProcessId();
    if (!g_exitEvent) g_exitEvent = CreateEventW(nullptr, TRUE, FALSE, TrackThreadEventName(false, processId).c_str());
    if (!g_exitedEvent)
      g_exitedEvent = CreateEventW(nullptr, TRUE, FALSE, TrackThreadEventName(true, processId).c_str());
    g_pageUrl = pageUrl;
    g_alerting = Settings().alertingEnabled;
    // Without both events the thread could neither be stopped nor waited for.
    if (g_exitEvent && g_exitedEvent) g_thread = CreateThread(nullptr, 0, TrackThreadProc, nullptr, 0, nullptr);
    if (!g_thread) {
      result = 101;
      AnalyticsLogError(L"Create track thread failed, errorCode:%u.", GetLastError());
    }
  }
  QueueGuard queueGuard;
  g_queue->push_back(json);
  return result;
}

DWORD WINAPI TrackThreadProc(void*) {
  HRESULT com = CoInitialize(nullptr);
  int32_t result = 0;
  try {
    result = LaunchTrackTask();
  } catch (...) {
    AnalyticsLogError(L"LaunchTrackTask exception, errorCode: %u.", GetLastError());
  }
  SetEvent(g_exitedEvent);
  if (SUCCEEDED(com)) CoUninitialize();
  return static_cast<DWORD>(result);
}

int32_t LaunchTrackTask() {
  AnalyticsLogTrace(L"Call LaunchTrackTask");
  std::unique_ptr<TrackerPage> page = g_pageFactory ? g_pageFactory() : MakeTrackerHTMLDialog();
  if (!page) {
    AnalyticsLogError(L"New TrackerHTMLDialog failed, errorCode: %u.", GetLastError());
    return 0;
  }
  // A page that cannot be shown never delivers: the thread ends rather than wait for it.
  if (!page->Open(g_pageUrl, g_alerting)) {
    AnalyticsLogError(L"TrackerHTMLDialog could not open the page, errorCode: %u.", GetLastError());
    return 0;
  }
  // Events wait in the queue until the page has loaded. Once asked to end, the thread delivers
  // what is left back to back and waits for the acknowledgements, for kTrackDrainMs at most.
  bool loaded = false;
  bool exitSeen = false;
  ULONGLONG graceStart = 0;
  for (;;) {
    bool running = true;
    bool more = false;
    std::wstring text;
    bool taken = false;
    {
      QueueGuard queueGuard;
      if (exitSeen && (ElapsedMs(graceStart) > kTrackDrainMs || (g_queue->empty() && page->PendingAcknowledgements() == 0)))
        running = false;
      if (loaded && !g_queue->empty()) {
        text = std::move(g_queue->front());
        g_queue->pop_front();
        taken = true;
      }
      more = loaded && !g_queue->empty();
    }
    if (taken) DeliverEvent(*page, text);
    // After the exit request only messages (acknowledgements) are waited for, not the set event.
    DWORD waitMs = exitSeen && more ? 0 : kTrackPassWaitMs;
    DWORD wait = MsgWaitForMultipleObjects(exitSeen ? 0 : 1, &g_exitEvent, FALSE, waitMs, QS_ALLINPUT);
    if (!exitSeen && wait == WAIT_OBJECT_0) {
      exitSeen = true;
      graceStart = GetTickCount64();
    }
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == kPageLoadedMessage || message.message == WM_QUIT) {
        loaded = true;
        continue;
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    if (!running) break;
  }
  page.reset();
  AnalyticsLogTrace(L"LaunchTrackTask end");
  return 1;
}

void releaseTrackEvent(ProductAnalyticsState* state) {
  AnalyticsLogTrace(L"release start");
  if (EndAnalyticsSession()) {
    AnalyticsLogTrace(L"Call releaseTrackEvent");
    std::lock_guard<std::mutex> guard(g_startLock);
    if (g_exitedEvent && g_exitEvent) {
      SetEvent(g_exitEvent);
      if (WaitForSingleObject(g_exitedEvent, kTrackDrainMs) == WAIT_FAILED)
        AnalyticsLogError(L"Wait TrackThreadExited failed, errorCode:%u.", GetLastError());
    }
    bool ended = true;
    if (g_thread) {
      DWORD wait = WaitForSingleObject(g_thread, kTrackDrainMs);
      if (wait == WAIT_FAILED) AnalyticsLogError(L"Wait hTrackThread failed, errorCode:%u.", GetLastError());
      ended = wait == WAIT_OBJECT_0;
      if (ended) {
        CloseHandle(g_thread);
        g_thread = nullptr;
      }
    }
    // A thread still running keeps its lock, queue and events: they are left to the process end.
    if (ended) {
      for (HANDLE* event : {&g_exitEvent, &g_exitedEvent}) {
        if (*event) CloseHandle(*event);
        *event = nullptr;
      }
      if (g_queueLock) {
        DeleteCriticalSection(g_queueLock);
        delete g_queueLock;
        g_queueLock = nullptr;
        delete g_queue;
        g_queue = nullptr;
      }
    }
    AnalyticsLogTrace(L"releaseTrackEvent end");
    AnalyticsLogTrace(L"release end");
  }
  if (state) state->initialised = false;
}

}  // namespace myexternalmethods
