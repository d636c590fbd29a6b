#pragma once
// The workers' side of the framework core for tests: the parts the workers use (log, parameters,
// external object, analytics, worker set) and the method object, with the calling thread in a
// single-threaded apartment that serves the workers' callbacks, and script methods called the way
// the script engine calls them.
#include <windows.h>

#include <string>
#include <vector>

#include "core/FrameworkCore.h"
#include "methods/ExternalMethods.h"

namespace testsupport {

// A script argument: text, bool, integer or a script function.
struct ScriptArgument {
  ScriptArgument(const wchar_t* text) : text(text) {}
  ScriptArgument(const std::wstring& text) : text(text) {}
  ScriptArgument(bool flag) : type(VT_BOOL), flag(flag) {}
  ScriptArgument(int number) : type(VT_I4), number(number) {}
  ScriptArgument(IDispatch* dispatch) : type(VT_DISPATCH), dispatch(dispatch) {}
  VARTYPE type = VT_BSTR;
  std::wstring text;
  bool flag = false;
  int number = 0;
  IDispatch* dispatch = nullptr;
};

class WorkerCore {
 public:
  WorkerCore();
  ~WorkerCore();
  WorkerCore(const WorkerCore&) = delete;
  WorkerCore& operator=(const WorkerCore&) = delete;

  // method(arguments in script order) without a result slot.
  HRESULT Call(stubframework::ScriptMethod method, const std::vector<ScriptArgument>& arguments,
               WORD flags = DISPATCH_METHOD);
  // Calls a worker method with a recording function as its last argument and returns every call
  // of that function once the worker has ended; the worker set is then fresh again.
  std::vector<std::vector<int>> CallAndAwait(stubframework::ScriptMethod method,
                                             std::vector<ScriptArgument> arguments);
  std::string LogText();

  stubframework::core::StubParameters parameters;
  stubframework::core::FrameworkCore core;
  stubframework::ExternalMethods* methods = nullptr;

 private:
  bool apartment_ = false;
};

}  // namespace testsupport
