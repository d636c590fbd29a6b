#pragma once
// The framework core: everything one user-interface process owns, created at start and destroyed
// in a fixed order at the end of the run.
#include <windows.h>

#include "analytics/Analytics.h"
#include "core/InstallerLog.h"
#include "core/ResourceFolder.h"
#include "core/StubParameters.h"
#include "core/UniqueHandle.h"
#include "htmlui/HtmlExternal.h"
#include "setup/WorkerSet.h"

namespace stubframework {
class ExternalMethods;
}

namespace stubframework::core {

class PageView;

constexpr const wchar_t kInstanceMutexName[] = L"VelmoraStubFramework";
constexpr const wchar_t kWindowClassName[] = L"HTMLUI";
constexpr int kSelfUpdateExitCode = 197800;
// How long the release of the core waits for user-activity reports still being sent.
constexpr DWORD kActivityWaitBoundMs = 10 * 1000;

struct FrameworkCore {
  debug::InstallerLog* log = nullptr;
  StubParameters* parameters = nullptr;
  ResourceFolder* resources = nullptr;
  Analytics* analytics = nullptr;
  HtmlExternal* external = nullptr;
  utils::KernelHandle instanceMutex;
  // Every worker thread; stopped and joined before anything above is destroyed.
  setup::WorkerSet* workers = nullptr;
};

// Null when this process must end now (launcher done, or another instance is running).
FrameworkCore* CreateFrameworkCore();

// Gives the external object its method table and seeds the progress values and
// "resourceLocation": everything the page may rely on when it starts.
void PrepareFrameworkRun(FrameworkCore* core, ExternalMethods* methods);

// Prepares the run, then runs the user interface in view (the page's HTML document when null) and
// the end-of-run work. Does nothing for a null core.
void RunFrameworkCore(FrameworkCore* core, ExternalMethods* methods, PageView* view = nullptr);

// Stops every worker of the run and waits for them (setup::kWorkerJoinBoundMs at most), pumping
// messages. True when none is left running. Called where the page goes away and again when the
// core is released.
bool StopFrameworkWorkers(FrameworkCore* core);

// Stops and joins the workers and waits for the user-activity reports, then destroys the core;
// when one of them is still running, ends the process instead, since it still uses the core.
// Ends the process with 197800 when a self-update is pending.
void ReleaseFrameworkCore(FrameworkCore* core);

// The exit code to end with: the parameters' exitCode, which this run's own self-update sets; the
// product key's "selfupdate_code" and "update_stub_name", left by older versions, are removed.
int SettleExitCode(StubParameters& parameters);

void FrameworkLogDebug(FrameworkCore* core, const wchar_t* format, ...);
void FrameworkLogError(FrameworkCore* core, const wchar_t* format, ...);

}  // namespace stubframework::core
