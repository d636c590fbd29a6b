#pragma once
// The lifecycle that every worker the page starts with a script function shares (download,
// install, uninstall and repair, self-update, installer-list update, package search). On the
// user-interface thread the method marshals the function and starts the worker through the core's
// WorkerSet. On its thread the worker joins the multithreaded apartment, unmarshals the function,
// does its own work, resets its progress values and makes exactly one final call. An exception
// of the work ends in that call with UnknowError; once the run is closing no worker starts and
// none makes a final call, since the page it would reach is going away.
#include <windows.h>
#include <objbase.h>

#include <memory>

#include "core/ComRef.h"
#include "setup/ProgressReporter.h"
#include "setup/Workflow.h"

namespace stubframework {
class ExternalMethods;
namespace core {
struct FrameworkCore;
}
namespace htmlui {
class ScriptCallback;
}
}  // namespace stubframework

namespace stubframework::setup {

// What the final call carries, and which progress values are reset before it.
enum class FinalCall {
  Result,    // callback(result)
  Download,  // callback(result, total, current); "downloadCurrent" 0, "downloadTotal" 1
  Install,   // callback(result, total, current); "installCurrent" 0, "installTotal" 1
};

class ScriptWorker {
 public:
  // threadName names the worker in its log lines ("DownloadThreadFunc").
  ScriptWorker(ExternalMethods* owner, const wchar_t* threadName, FinalCall finalCall)
      : owner_(owner), threadName_(threadName), finalCall_(finalCall) {}
  virtual ~ScriptWorker();
  ScriptWorker(const ScriptWorker&) = delete;
  ScriptWorker& operator=(const ScriptWorker&) = delete;

  // User-interface thread: marshals callback and runs worker on a thread of the core's WorkerSet.
  // S_OK once it runs, and also when the run is closing (no worker starts, nothing is called
  // back). Otherwise the failure, logged with tag: the marshalling's HRESULT, or E_FAIL when no
  // thread could be made.
  static HRESULT Start(std::unique_ptr<ScriptWorker> worker, const wchar_t* tag, IDispatch* callback);

  ExternalMethods* Owner() const { return owner_; }
  core::FrameworkCore* Core() const;

 protected:
  // The worker's own work, on its thread: progress reports go through callback and record (a
  // reporter thread of the work is joined before it returns). Returns the final result.
  virtual Config_ErrorHandle Work(htmlui::ScriptCallback& callback, ProgressRecord& record) = 0;

 private:
  static DWORD WINAPI ThreadFunc(void* worker);
  void Run();

  ExternalMethods* owner_;
  const wchar_t* threadName_;
  FinalCall finalCall_;
  utils::ComRef<IStream> callbackStream_;
};

}  // namespace stubframework::setup
