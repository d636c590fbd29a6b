#pragma once
// One run of the user-interface process, from the framework core to its release: the stub's
// entry point and the programs that stand in for its window (the page bridge, the script test
// host) start and end a run through this, so they run what the stub runs.
#include <atomic>

#include "core/FrameworkCore.h"
#include "product/MyExternalMethods.h"

namespace stubframework::core {
class PageView;
}

namespace myexternalmethods {

class ProductRun {
 public:
  // Builds the framework core and the method object with the product layer, the product
  // analytics (when asked) and the product methods. False when this process must end now: the
  // launcher's copy has run, or another instance holds the run.
  bool Start(bool productAnalytics = true);
  // The user interface in view (the page's HTML document when null) and the end-of-run work. An
  // exception that escapes marks the run's end abnormal.
  void Run(stubframework::core::PageView* view = nullptr);
  // Sends the analytics exit event, stops the workers and releases the core; ends the process
  // when a self-update is pending.
  void Finish();
  // A crash ends the run here: the abnormal-end event goes out while the process still can.
  void FinishAfterCrash();

  stubframework::core::FrameworkCore* core = nullptr;
  MyExternalMethods* methods = nullptr;

 private:
  // Set while the analytics exit event is still to be sent; whoever takes it sends it.
  std::atomic<bool> analyticsPending_{false};
  bool abnormalEnd_ = false;
};

}  // namespace myexternalmethods
