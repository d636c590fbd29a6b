#include "core/MainWindow.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cwchar>

#include "core/FrameworkCore.h"
#include "core/WorkingFolders.h"
#include "methods/LanguageTable.h"

namespace stubframework::core {
namespace {

void PreserveLog(FrameworkCore* core) {
  const std::wstring& logPath = core->log->FilePath();
  if (logPath.empty()) return;
  std::wstring folder;
  if (!utils::GetTempSubfolder(core->parameters->ProductId() + L"_log", folder)) return;
  if (!PathFileExistsW(folder.c_str())) SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  CopyFileW(logPath.c_str(), (folder + PathFindFileNameW(logPath.c_str())).c_str(), FALSE);
}

void RemoveExtractionFolders(FrameworkCore* core) {
  for (const auto& entry : core->parameters->properties.Snapshot()) {
    if (entry.first.find(L"__ZIP_Unzip_Folder__") == std::wstring::npos) continue;
    // The value may come from script or the registry: only folders the workers could have made,
    // below the temporary directory, are ever deleted.
    if (utils::IsBelowTempFolder(entry.second)) utils::DeleteFolderTree(entry.second);
  }
}

}  // namespace

int SettleFinalStatus(int status, const std::wstring& uninstallOption) {
  if (status >= 4) return status;
  int settled = status == 0 ? 3 : status;
  if (wcsncmp(uninstallOption.c_str(), L"Modify", 6) == 0) return settled + 70;
  if (wcsncmp(uninstallOption.c_str(), L"Repair", 6) == 0) return settled + 80;
  if (wcsncmp(uninstallOption.c_str(), L"Remove", 6) == 0) return settled + 90;
  return settled;
}

void RunUserInterface(FrameworkCore* core, HtmlExternal* external) {
  StubParameters& parameters = *core->parameters;
  core->analytics->ReportStart();

  if (core->resources->loaded) {
    // Placeholder: the "HTMLUI" window and its message loop arrive with the main window issue.
    (void)external;
  } else {
    methods::SetInstallStatus(parameters, 2);
  }

  int status = parameters.Status();
  std::wstring uninstallOption = parameters.properties.Get(L"uninstallOption");
  if (status < 4) methods::SetInstallStatus(parameters, SettleFinalStatus(status, uninstallOption));

  core->analytics->ReportEnd();

  if (status == 2) {
    for (const auto& entry : parameters.properties.Snapshot())
      FrameworkLogDebug(core, L"Property %s: %s\n", entry.first.c_str(), entry.second.c_str());
    core->log->Close();
    core->analytics->AddReportAttachment(core->log->FilePath());
    core->analytics->ReportError();
  }

  PreserveLog(core);
  RemoveExtractionFolders(core);
}

}  // namespace stubframework::core
