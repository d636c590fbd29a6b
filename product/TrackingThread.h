#pragma once
// The delivery path of the product analytics events: a process-wide queue of event texts and one
// tracking thread that owns the product-analytics page and hands it the queue, one event per pass.
#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace myexternalmethods {

struct ProductAnalyticsState;

// Posted to the tracking thread (to a window of it or to the thread) once the page has loaded.
constexpr UINT kPageLoadedMessage = WM_APP + 100;
// How long the thread goes on delivering after it was asked to end, and how long the release
// waits for it at each of its two steps.
constexpr DWORD kTrackDrainMs = 5000;
// The longest wait of the thread between two passes.
constexpr DWORD kTrackPassWaitMs = 100;

// What the delivery loop sees of the page; lives on the tracking thread only.
class TrackerPage {
 public:
  TrackerPage();
  virtual ~TrackerPage();
  TrackerPage(const TrackerPage&) = delete;
  TrackerPage& operator=(const TrackerPage&) = delete;

  // Creates the hidden host and starts loading url; false when it cannot.
  virtual bool Open(const std::wstring& url, bool alertingEnabled) = 0;
  // Calls the page's trackEvent with argument; result receives its value.
  virtual HRESULT CallJScriptFunct(const VARIANT& argument, VARIANT* result) = 0;

  // A message of the page: "eventTracked" acknowledges one delivered event, a text beginning
  // "JS DEBUG: " goes to the analytics log as it is; anything else is ignored.
  void PostJSMessage(const VARIANT& message);
  void AddPendingAcknowledgement(int delta);
  int32_t PendingAcknowledgements();

 private:
  CRITICAL_SECTION dialogLock_;
  int32_t pendingAcknowledgements_ = 0;
};

// Hands one event text to the page's trackEvent, counted as pending until the page acknowledges
// it; a failed call counts nothing. On the page's thread.
void DeliverEvent(TrackerPage& page, const std::wstring& text);

// Makes the page of the tracking thread; the product's is the hidden HTML dialog.
using TrackerPageFactory = std::function<std::unique_ptr<TrackerPage>()>;
// Replaces the factory (null restores the product's); only while no tracking thread runs.
void SetTrackerPageFactory(TrackerPageFactory factory);

// "Local\TrackThreadExit%d" or "Local\TrackThreadExited%d" of a process.
std::wstring TrackThreadEventName(bool exited, DWORD processId);

// Queues the event text, starting the tracking thread on the first call: 0 when queued, 101 when
// the thread had to be started and could not be (the text stays queued).
int32_t trackEventData(const std::wstring& pageUrl, const std::wstring& json);

// Ends the product analytics: stops the tracking thread within the bounded waits and frees what
// it used unless it still runs; in every case clears state's initialised flag.
void releaseTrackEvent(ProductAnalyticsState* state);

// The thread start routine and its body: 1 after an orderly end, 0 without a page.
DWORD WINAPI TrackThreadProc(void*);
int32_t LaunchTrackTask();

}  // namespace myexternalmethods
