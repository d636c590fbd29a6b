#pragma once
// Calling page script back from worker threads. The method that starts a worker marshals the
// script's function on the user-interface thread; the worker, in the multithreaded apartment,
// unmarshals it and calls it with 32-bit integers. COM delivers each call into the UI thread's
// message loop, and the worker waits until the script function has returned.
#include <windows.h>
#include <objbase.h>

#include <initializer_list>

#include "core/ComRef.h"

namespace stubframework::htmlui {

// UI thread: the stream that carries callback to a worker.
HRESULT MarshalScriptCallback(IDispatch* callback, IStream** stream);

// Worker thread (already in the multithreaded apartment).
class ScriptCallback {
 public:
  ScriptCallback() = default;
  ScriptCallback(const ScriptCallback&) = delete;
  ScriptCallback& operator=(const ScriptCallback&) = delete;

  // Takes the stream over (it is released in every case).
  HRESULT Attach(IStream* stream);
  // callback(values...) with VT_I4 arguments in script order, at most kMaxValues of them.
  HRESULT Call(std::initializer_list<int> values);
  static constexpr size_t kMaxValues = 3;

 private:
  utils::ComRef<IDispatch> callback_;
};

}  // namespace stubframework::htmlui
