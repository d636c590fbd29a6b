#include "core/FrameworkCore.h"

#include <utility>

#include "core/CommandLine.h"
#include "core/MainWindow.h"
#include "core/Registry.h"
#include "core/TextFormat.h"
#include "core/WorkingFolders.h"

namespace stubframework::core {

FrameworkCore* CreateFrameworkCore() {
  std::wstring majorVersion = utils::MajorVersion(kProductVersion);
  if (!CheckRelaunch(kProductCode, majorVersion)) return nullptr;

  utils::KernelHandle mutex(CreateMutexW(nullptr, FALSE, kInstanceMutexName));
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    HWND window = FindWindowW(kWindowClassName, nullptr);
    if (window) {
      SetForegroundWindow(window);
      if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
    }
    return nullptr;
  }

  FrameworkCore* core = new FrameworkCore;
  core->instanceMutex = std::move(mutex);
  core->log = new debug::InstallerLog;
  // Which endpoints and publishers this stub was built with, first in every log.
  FrameworkLogDebug(core, L"build profile : %S", definition::kBuildProfile);
  core->parameters = new StubParameters;
  core->resources = CreateResourceFolder(core->log);
  core->analytics = new Analytics(core->parameters);
  core->external = new HtmlExternal(core->parameters);
  core->workers = new setup::WorkerSet;
  return core;
}

void PrepareFrameworkRun(FrameworkCore* core, ExternalMethods* methods) {
  core->external->SetMethods(methods);
  core->external->InitProgressValues();
  FrameworkLogDebug(core, L"command line : %s", GetCommandLineW());
  for (const std::wstring& piece : core->parameters->droppedPassthrough)
    FrameworkLogError(core, L"passthrough argument dropped: %s", piece.c_str());
  std::wstring root;
  if (utils::GetWorkingRoot(root))
    FrameworkLogDebug(core, L"working root : %s (%s)", root.c_str(),
                      utils::WorkingRootIsShared() ? L"the launcher's" : L"made by this process");
  if (core->resources->loaded) {
    core->external->SetProperty(L"resourceLocation", core->resources->folder);
    FrameworkLogDebug(core, L"resourceLocation : %s", core->resources->folder.c_str());
  }
}

void RunFrameworkCore(FrameworkCore* core, ExternalMethods* methods, PageView* view) {
  if (!core) return;
  PrepareFrameworkRun(core, methods);
  RunUserInterface(core, core->external, view);
}

int SettleExitCode(StubParameters& parameters) {
  // Only this run's own self-update, kept in memory, ends it with the hand-over code: the
  // registry values of older versions are anybody's to write and are only removed.
  utils::DeleteRegistryValue(parameters.registryKey, L"selfupdate_code", false);
  utils::DeleteRegistryValue(parameters.registryKey, L"update_stub_name", false);
  return parameters.exitCode;
}

bool StopFrameworkWorkers(FrameworkCore* core) {
  if (!core || !core->workers) return true;
  return core->workers->StopAndJoin(core->external, core->log, setup::kWorkerJoinBoundMs);
}

void ReleaseFrameworkCore(FrameworkCore* core) {
  if (!core) return;
  bool workersEnded = StopFrameworkWorkers(core);
  // User-activity reports cannot be stopped, only awaited; one still sending after the bound is
  // lost with the process.
  bool activitiesEnded = core->analytics->WaitForActivities(kActivityWaitBoundMs);
  if (!activitiesEnded) FrameworkLogError(core, L"User activity reports still running at the end of the run");
  int exitCode = SettleExitCode(*core->parameters);
  // A worker or report still running uses the parameters, the external object, the method object
  // and the log: end the process, with the code the entry point would end with, rather than free
  // them.
  if (!workersEnded || !activitiesEnded) ExitProcess(exitCode == kSelfUpdateExitCode ? kSelfUpdateExitCode : 0);

  delete core->analytics;
  DestroyResourceFolder(core->resources);
  delete core->parameters;
  delete core->log;
  core->instanceMutex.Close();
  // Released, not deleted: the browser may still hold references.
  core->external->Release();
  delete core->workers;
  delete core;
  utils::ReleaseWorkingRoot();

  if (exitCode == kSelfUpdateExitCode) ExitProcess(kSelfUpdateExitCode);
}

void FrameworkLogDebug(FrameworkCore* core, const wchar_t* format, ...) {
  if (!core || !core->log) return;
  va_list args;
  va_start(args, format);
  core->log->Write(debug::kLogDebug, format, args);
  va_end(args);
}

void FrameworkLogError(FrameworkCore* core, const wchar_t* format, ...) {
  if (!core || !core->log) return;
  va_list args;
  va_start(args, format);
  core->log->Write(debug::kLogError, format, args);
  va_end(args);
}

}  // namespace stubframework::core
