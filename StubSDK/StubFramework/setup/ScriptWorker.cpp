#include "setup/ScriptWorker.h"

#include <cstring>
#include <exception>

#include "core/FrameworkCore.h"
#include "htmlui/HtmlExternal.h"
#include "htmlui/ScriptCallback.h"
#include "methods/ExternalMethods.h"
#include "setup/WorkerSet.h"

namespace stubframework::setup {

namespace {

// For what must not end the thread once memory ran out: logging and resetting values allocate.
template <class Step>
void EvenIfItThrows(Step step) {
  try {
    step();
  } catch (...) {
  }
}

}  // namespace

ScriptWorker::~ScriptWorker() {
  // The marshalled reference is released before the stream that carries it.
  if (callbackStream_) CoReleaseMarshalData(callbackStream_.Get());
}

core::FrameworkCore* ScriptWorker::Core() const { return owner_->Core(); }

HRESULT ScriptWorker::Start(std::unique_ptr<ScriptWorker> worker, const wchar_t* tag, IDispatch* callback) {
  core::FrameworkCore* core = worker->Core();
  HRESULT hr = htmlui::MarshalScriptCallback(callback, worker->callbackStream_.Out());
  if (FAILED(hr)) {
    core::FrameworkLogError(core, L"%s: CoMarshalInterThreadInterfaceInStream failed with %x", tag,
                            static_cast<unsigned>(hr));
    return hr;
  }
  if (core->workers->Start(ThreadFunc, worker.get())) {
    worker.release();
    return S_OK;
  }
  if (core->workers->Closing()) return S_OK;
  core::FrameworkLogError(core, L"%s: the worker could not be started", tag);
  return E_FAIL;
}

DWORD WINAPI ScriptWorker::ThreadFunc(void* worker) {
  std::unique_ptr<ScriptWorker> owned(static_cast<ScriptWorker*>(worker));
  owned->Run();
  return 0;
}

void ScriptWorker::Run() {
  core::FrameworkCore* core = Core();
  MultithreadedApartment apartment;
  htmlui::ScriptCallback callback;
  HRESULT hr = callback.Attach(callbackStream_.Detach());
  if (FAILED(hr)) {
    EvenIfItThrows([&] {
      core::FrameworkLogError(core, L"%s CoGetInterfaceAndReleaseStream  failed with: %x", threadName_,
                              static_cast<unsigned>(hr));
    });
    return;
  }

  ProgressRecord record;
  Config_ErrorHandle result = Config_ErrorHandle::UnknowError;
  bool thrown = false;
  // Copied out of the exception: the text must not need memory of its own.
  char what[128] = "of no standard type";
  try {
    result = Work(callback, record);
  } catch (const std::exception& exception) {
    thrown = true;
    strncpy(what, exception.what(), sizeof(what) - 1);
  } catch (...) {
    thrown = true;
  }
  if (thrown)
    EvenIfItThrows([&] { core::FrameworkLogError(core, L"%s exception: %hs", threadName_, what); });

  record.status = static_cast<LONG>(result);
  core::HtmlExternal* external = core->external;
  EvenIfItThrows([&] {
    if (finalCall_ == FinalCall::Download) {
      external->SetDownloadCurrent(0);
      external->SetDownloadTotal(1);
    } else if (finalCall_ == FinalCall::Install) {
      external->SetInstallCurrent(0);
      external->SetInstallTotal(1);
    }
  });
  if (core->workers->Closing()) return;
  if (finalCall_ == FinalCall::Result)
    callback.Call({static_cast<int>(result)});
  else
    callback.Call({static_cast<int>(result), static_cast<int>(record.total), static_cast<int>(record.current)});
}

}  // namespace stubframework::setup
