// What every worker the page starts has in common, whatever its work: an exception inside it ends
// in one final call with UnknowError instead of the process, and a run that is closing starts
// none of them and tells the page nothing.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "setup/WorkerSet.h"
#include "setup/Workflow.h"
#include "support/TestCore.h"
#include "support/TestSupport.h"

using namespace stubframework;
using namespace stubframework::setup;
using testsupport::ScriptArgument;

// Allocation failure for the workers: once armed, the first allocation of any thread but the one
// that armed it fails, once. The library's operator delete frees what malloc gave.
namespace {
std::atomic<DWORD> g_failAllocationOutside{0};
}

void* operator new(std::size_t size) {
  DWORD armedBy = g_failAllocationOutside.load();
  if (armedBy != 0 && GetCurrentThreadId() != armedBy && g_failAllocationOutside.compare_exchange_strong(armedBy, 0))
    throw std::bad_alloc();
  if (void* block = std::malloc(size ? size : 1)) return block;
  throw std::bad_alloc();
}

namespace {

const wchar_t kProduct[] = L"4D1E6A2B-7C3F-4B8E-9A51-2E6F0C8D3B71";
// Nothing listens there: a download that began would fail at once.
const wchar_t kNowhere[] = L"http://127.0.0.1:1/";

struct WorkerCall {
  const char* name;
  ScriptMethod method;
  std::vector<ScriptArgument> arguments;  // without the callback
};

class ScriptWorkerTest : public ::testing::Test {
 protected:
  std::vector<WorkerCall> Calls() {
    return {
        {"download", &ExternalMethods::Download,
         {std::wstring(kNowhere) + L"data.bin", scratch_.File(L"data.bin"), L"", false, false}},
        {"install", &ExternalMethods::Install, {scratch_.File(L"notes.txt"), L"", 0}},
        {"removeProgram", &ExternalMethods::RemoveProgram, {L"x", true, kProduct}},
        {"repairProgram", &ExternalMethods::RepairProgram, {L"x", kProduct}},
        {"verifyFileInSpecialDirectory", &ExternalMethods::VerifyFileInSpecialDirectory,
         {scratch_.Path(), L"pkg\\setup.msi"}},
        {"selfUpdate", &ExternalMethods::SelfUpdate, {std::wstring(kNowhere) + L"HalvernSetup.exe"}},
        {"updateInstallerList", &ExternalMethods::UpdateInstallerList,
         {std::wstring(kNowhere) + L"list.js", scratch_.File(L"list.js"), false, false}},
    };
  }

  testsupport::ScratchFolder scratch_;
  testsupport::TestCore worker_;
};

}  // namespace

TEST_F(ScriptWorkerTest, AnAllocationFailureInAWorkerEndsInOneFinalCallWithUnknowError) {
  for (const WorkerCall& call : Calls()) {
    std::string before = worker_.LogText();
    g_failAllocationOutside = GetCurrentThreadId();
    std::vector<std::vector<int>> calls = worker_.CallAndAwait(call.method, call.arguments);
    EXPECT_EQ(g_failAllocationOutside.load(), 0u) << call.name << ": the worker allocated nothing";
    g_failAllocationOutside = 0;
    ASSERT_EQ(calls.size(), 1u) << call.name;
    EXPECT_EQ(calls[0].at(0), int(Config_ErrorHandle::UnknowError)) << call.name;
    EXPECT_NE(worker_.LogText().find("exception: std::bad_alloc", before.size()), std::string::npos) << call.name;
  }
}

TEST_F(ScriptWorkerTest, AClosingRunStartsNoWorkerAndTellsThePageNothing) {
  ASSERT_TRUE(worker_.core.workers->StopAndJoin(worker_.core.external, worker_.core.log, 1000));
  for (const WorkerCall& call : Calls()) {
    testsupport::RecordingCallback callback;
    std::vector<ScriptArgument> arguments = call.arguments;
    arguments.push_back(&callback);
    EXPECT_EQ(worker_.Call(call.method, arguments), S_OK) << call.name;
    EXPECT_TRUE(worker_.core.workers->StopAndJoin(worker_.core.external, worker_.core.log, 1000)) << call.name;
    EXPECT_TRUE(callback.calls.empty()) << call.name;
  }
}
