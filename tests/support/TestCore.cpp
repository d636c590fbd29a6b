#include "support/TestCore.h"

#include <gtest/gtest.h>

#include "setup/WorkerSet.h"
#include "support/TestSupport.h"

namespace testsupport {

namespace {

constexpr DWORD kWorkerWaitMs = 60000;

// The first two parts of the core, the log and the parameters, which the rest is made with.
stubframework::core::StubParameters* StartCore(stubframework::core::FrameworkCore& core) {
  core.log = new stubframework::debug::InstallerLog;
  core.parameters = new stubframework::core::StubParameters;
  return core.parameters;
}

}  // namespace

TestCore::TestCore(const MethodsFactory& makeMethods, Apartment apartment)
    : apartment_(apartment == Apartment::kSingleThreaded &&
                 SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))),
      parameters(*StartCore(core)) {
  using namespace stubframework::core;
  // The test programs carry no UI package: the folder of a stub that has none, without a
  // temporary folder to remove.
  core.resources = new ResourceFolder;
  core.resources->log = core.log;
  core.analytics = new Analytics(core.parameters);
  core.external = new HtmlExternal(core.parameters);
  core.workers = new stubframework::setup::WorkerSet;
  methods = makeMethods ? makeMethods(&core) : new stubframework::ExternalMethods(&core);
  core.external->SetMethods(methods);
  core.external->InitProgressValues();
}

TestCore::~TestCore() {
  core.workers->StopAndJoin(core.external, core.log, kWorkerWaitMs);
  delete methods;
  delete core.workers;
  // Released, not deleted: a test may still hold references.
  core.external->Release();
  delete core.analytics;
  stubframework::core::DestroyResourceFolder(core.resources);
  delete core.parameters;
  delete core.log;
  if (apartment_) CoUninitialize();
}

HRESULT CallScriptMethod(stubframework::ExternalMethods* methods, stubframework::ScriptMethod method,
                         const std::vector<ScriptArgument>& arguments, WORD flags, VARIANT* result) {
  std::vector<VARIANT> variants(arguments.size());
  for (size_t i = 0; i < arguments.size(); ++i) {
    const ScriptArgument& argument = arguments[i];
    VARIANT& v = variants[arguments.size() - 1 - i];  // the last script argument first
    VariantInit(&v);
    v.vt = argument.type;
    if (argument.type == VT_BSTR)
      v.bstrVal = SysAllocStringLen(argument.text.data(), static_cast<UINT>(argument.text.size()));
    if (argument.type == VT_BOOL) v.boolVal = argument.flag ? VARIANT_TRUE : VARIANT_FALSE;
    if (argument.type == VT_I4) v.lVal = argument.number;
    if (argument.type == VT_DISPATCH) v.pdispVal = argument.dispatch;
  }
  DISPPARAMS params = {variants.data(), nullptr, static_cast<UINT>(variants.size()), 0};
  HRESULT hr = (methods->*method)(flags, &params, result);
  // The engine frees the strings it passed; a function passed stays its owner's.
  for (VARIANT& v : variants)
    if (v.vt == VT_BSTR) VariantClear(&v);
  return hr;
}

HRESULT TestCore::Call(stubframework::ScriptMethod method, const std::vector<ScriptArgument>& arguments, WORD flags,
                       VARIANT* result) {
  return CallScriptMethod(methods, method, arguments, flags, result);
}

std::vector<std::vector<int>> TestCore::CallAndAwait(stubframework::ScriptMethod method,
                                                     std::vector<ScriptArgument> arguments) {
  RecordingCallback callback;
  arguments.push_back(&callback);
  EXPECT_EQ(Call(method, arguments), S_OK);
  callback.AwaitFinal(kWorkerWaitMs);
  EXPECT_TRUE(RenewWorkers());
  return callback.calls;
}

bool TestCore::RenewWorkers() {
  bool ended = core.workers->StopAndJoin(core.external, core.log, kWorkerWaitMs);
  delete core.workers;
  core.workers = new stubframework::setup::WorkerSet;
  return ended;
}

std::string TestCore::LogText() { return ReadFileBytes(core.log->FilePath()); }

}  // namespace testsupport
