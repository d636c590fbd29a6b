#include "support/WorkerCore.h"

#include <gtest/gtest.h>

#include "setup/WorkerSet.h"
#include "support/TestSupport.h"

namespace testsupport {

namespace {
constexpr DWORD kWorkerWaitMs = 60000;
}

WorkerCore::WorkerCore() {
  apartment_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  parameters.productId = L"HLVN";
  core.log = new stubframework::debug::InstallerLog;
  core.parameters = &parameters;
  core.external = new stubframework::core::HtmlExternal(&parameters);
  core.external->InitProgressValues();
  core.analytics = new stubframework::core::Analytics(&parameters);
  core.workers = new stubframework::setup::WorkerSet;
  methods = new stubframework::ExternalMethods(&core);
}

WorkerCore::~WorkerCore() {
  core.workers->StopAndJoin(core.external, core.log, kWorkerWaitMs);
  delete methods;
  delete core.workers;
  delete core.analytics;
  core.external->Release();
  delete core.log;
  if (apartment_) CoUninitialize();
}

HRESULT WorkerCore::Call(stubframework::ScriptMethod method, const std::vector<ScriptArgument>& arguments,
                         WORD flags) {
  std::vector<VARIANT> variants(arguments.size());
  for (size_t i = 0; i < arguments.size(); ++i) {
    const ScriptArgument& argument = arguments[i];
    VARIANT& v = variants[arguments.size() - 1 - i];  // the last script argument first
    VariantInit(&v);
    v.vt = argument.type;
    if (argument.type == VT_BSTR) v.bstrVal = SysAllocString(argument.text.c_str());
    if (argument.type == VT_BOOL) v.boolVal = argument.flag ? VARIANT_TRUE : VARIANT_FALSE;
    if (argument.type == VT_I4) v.lVal = argument.number;
    if (argument.type == VT_DISPATCH) v.pdispVal = argument.dispatch;
  }
  DISPPARAMS params = {variants.data(), nullptr, static_cast<UINT>(variants.size()), 0};
  HRESULT hr = (methods->*method)(flags, &params, nullptr);
  for (VARIANT& v : variants)
    if (v.vt == VT_BSTR) VariantClear(&v);
  return hr;
}

std::vector<std::vector<int>> WorkerCore::CallAndAwait(stubframework::ScriptMethod method,
                                                       std::vector<ScriptArgument> arguments) {
  RecordingCallback callback;
  arguments.push_back(&callback);
  EXPECT_EQ(Call(method, arguments), S_OK);
  callback.AwaitFinal(kWorkerWaitMs);
  EXPECT_TRUE(core.workers->StopAndJoin(core.external, core.log, kWorkerWaitMs));
  delete core.workers;
  core.workers = new stubframework::setup::WorkerSet;
  return callback.calls;
}

std::string WorkerCore::LogText() { return ReadFileBytes(core.log->FilePath()); }

}  // namespace testsupport
