#pragma once
// The product-analytics page in a hidden window of the tracking thread: the web-browser control,
// navigated to the page, with the dialog as window.external (its one method is PostJSMessage).
#include <windows.h>
#include <oaidl.h>

#include <memory>

#include "core/ComRef.h"
#include "product/TrackingThread.h"

namespace myexternalmethods {

// Browser host flags: in-place navigation, flat scroll bars, script of inactive pages kept off.
constexpr DWORD kTrackerHostFlags = 0x10090;

class TrackerExternal;

// A tracker page whose script runs in a script engine: trackEvent is called through the script
// object of its document, and the page's window.external is External(), whose one method is
// PostJSMessage. The dialog's document is the browser's; other hosts of a page supply their own.
class ScriptedTrackerPage : public TrackerPage {
 public:
  ScriptedTrackerPage();
  ~ScriptedTrackerPage() override;

  // Calls trackEvent(argument) of the page's script; no exception leaves it.
  HRESULT CallJScriptFunct(const VARIANT& argument, VARIANT* result) override;
  // window.external of the page; the page holds its own references.
  IDispatch* External() const;

 protected:
  // The script object of the page's document in *script, with a reference: false when the page
  // has no document; otherwise hr is the document's answer.
  virtual bool DocumentScript(IDispatch** script, HRESULT& hr) = 0;

 private:
  stubframework::utils::ComRef<TrackerExternal> external_;
};

// A TrackerHTMLDialog, not yet opened.
std::unique_ptr<TrackerPage> MakeTrackerHTMLDialog();

}  // namespace myexternalmethods
