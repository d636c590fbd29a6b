#pragma once
// The product-analytics page in a hidden window of the tracking thread: the web-browser control,
// navigated to the page, with the dialog as window.external (its one method is PostJSMessage).
#include <memory>

#include "product/TrackingThread.h"

namespace myexternalmethods {

// Browser host flags: in-place navigation, flat scroll bars, script of inactive pages kept off.
constexpr DWORD kTrackerHostFlags = 0x10090;

// A TrackerHTMLDialog, not yet opened.
std::unique_ptr<TrackerPage> MakeTrackerHTMLDialog();

}  // namespace myexternalmethods
