#include "setup/InstallExe.h"

#include <cwchar>
#include <vector>

#include "core/FrameworkCore.h"
#include "core/LockedFile.h"
#include "core/Signature.h"
#include "core/UniqueHandle.h"
#include "core/WorkingFolders.h"
#include "core/ZipExtraction.h"

namespace stubframework::setup {

namespace {

bool IsInsideFolder(const std::wstring& path, const std::wstring& folder) {
  std::wstring base = folder;
  if (base.empty()) return false;
  if (base.back() != L'\\') base += L'\\';
  std::wstring inner = path;
  if (!inner.empty() && inner.back() != L'\\') inner += L'\\';
  return inner.size() >= base.size() && _wcsnicmp(inner.c_str(), base.c_str(), base.size()) == 0;
}

// The folders a download of this run left for this package: the page can name any folder, so
// only an extraction folder this run made, with the setup folder written plainly inside it, is
// run from.
bool ExtractedFolders(core::HtmlExternal* external, const std::wstring& file, std::wstring& extraction,
                      std::wstring& setup) {
  extraction = external->GetProperty(file + L"__ZIP_Unzip_Folder__");
  setup = external->GetProperty(file + L"__ZIP_EXE_Path__");
  std::wstring elements = setup + L"\\";
  return utils::IsRunFolder(extraction) && IsInsideFolder(setup, extraction) &&
         elements.find(L"\\.\\") == std::wstring::npos && elements.find(L"\\..\\") == std::wstring::npos &&
         setup.find(L'/') == std::wstring::npos;
}

}  // namespace

bool MayInstall(core::FrameworkCore* core, const std::wstring& file, HANDLE held) {
  std::wstring why;
  bool allowed = core::SignedByPinnedPublisher(file, held, why);
  if (allowed)
    core::FrameworkLogDebug(core, L"Install %s: %s", file.c_str(), why.c_str());
  else
    core::FrameworkLogError(core, L"Install %s refused: %s", file.c_str(), why.c_str());
  return allowed;
}

DWORD InstallProgressValue(core::HtmlExternal* external, const wchar_t* name) {
  return static_cast<DWORD>(wcstoul(external->GetProperty(name).c_str(), nullptr, 10));
}

DWORD ClampToDword(long long value) {
  if (value < 0) return 0;
  return value > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<DWORD>(value);
}

Config_ErrorHandle TransferInstallError(core::FrameworkCore* core, DWORD exitCode) {
  core::FrameworkLogDebug(core, L"TransferInstallError HRESULT: %x", static_cast<unsigned>(exitCode));
  switch (exitCode) {
    case 0: return Config_ErrorHandle::NoError;
    case 1602: return Config_ErrorHandle::Cancelled;
    case 1603: return Config_ErrorHandle::Failure;
    case 1618: return Config_ErrorHandle::OtherInstalling;
    case 1641:
    case 3010: return Config_ErrorHandle::Reboot;
    default: return Config_ErrorHandle::UnknowError;
  }
}

Config_ErrorHandle InstallExe(core::FrameworkCore* core, const std::wstring& file, const std::wstring& parameters,
                              long long estimatedTime) {
  core::HtmlExternal* external = core->external;
  if (estimatedTime > 0) {
    external->SetInstallCurrent(0);
    external->SetInstallTotal(ClampToDword(estimatedTime * 10));
  }
  // Held until the program has ended: nobody may change it between its check and its run.
  utils::FileHandle held(utils::OpenLockedForUse(file));
  if (!held.Valid()) {
    core::FrameworkLogDebug(core, L"Install %s, the program cannot be locked: %lu", file.c_str(), GetLastError());
    return Config_ErrorHandle::Failure;
  }
  if (!MayInstall(core, file, held.Get())) return Config_ErrorHandle::Failure;
  std::wstring commandLine = L"\"" + file + L"\" " + parameters;
  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  // The program is named on its own too, so that no search of the path can pick another one.
  if (!CreateProcessW(file.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    core::FrameworkLogDebug(core, L"Install %s, CreateProcessW failed", commandLine.c_str());
    return Config_ErrorHandle::Failure;
  }
  utils::KernelHandle thread(process.hThread), child(process.hProcess);
  while (WaitForSingleObject(child.Get(), 100) == WAIT_TIMEOUT) {
    long long current = InstallProgressValue(external, L"installCurrent");
    if (current < static_cast<long long>(InstallProgressValue(external, L"installTotal")) - 1)
      external->SetInstallCurrent(ClampToDword(current + 1));
  }
  external->SetInstallCurrent(InstallProgressValue(external, L"installTotal"));
  DWORD exitCode = 0;
  GetExitCodeProcess(child.Get(), &exitCode);
  Config_ErrorHandle result = TransferInstallError(core, exitCode);
  core::FrameworkLogDebug(core, L"Install %s, return %d", commandLine.c_str(), static_cast<int>(exitCode));
  external->lastInstallError = static_cast<LONG>(exitCode);
  return result;
}

Config_ErrorHandle InstallZip(core::FrameworkCore* core, const std::wstring& file, const std::wstring& parameters,
                              long long estimatedTime) {
  core::HtmlExternal* external = core->external;
  std::wstring extraction, setup;
  bool extracted = external->GetProperty(L"__Extract_In_Download__") == L"true" &&
                   ExtractedFolders(external, file, extraction, setup);
  if (!extracted) {
    extraction.clear();
    setup.clear();
    int code = zip::UnzipPackage(core, file, extraction, setup);
    if (code != zip::kUnzipNoError) {
      if (!extraction.empty()) utils::DeleteFolderTree(extraction);
      return static_cast<Config_ErrorHandle>(code);
    }
    long long total = InstallProgressValue(external, L"installTotal") + estimatedTime * 10;
    external->SetInstallTotal(ClampToDword(total));
    external->SetInstallCurrent(ClampToDword(static_cast<long long>(ClampToDword(total) * 0.1)));
  }
  if (setup.back() != L'\\') setup += L'\\';
  Config_ErrorHandle result = InstallExe(core, setup + L"setup.exe", parameters, 0);
  utils::DeleteFolderTree(extraction);
  return result;
}

}  // namespace stubframework::setup
