#include "methods/ExternalMethods.h"

#include <shlwapi.h>

#include <cwchar>

#include "core/CommandLine.h"
#include "core/FrameworkCore.h"
#include "core/Registry.h"
#include "core/UniqueHandle.h"

namespace stubframework {

int ResumeModeFromCommandLine(const std::wstring& commandLine) {
  std::vector<std::wstring> arguments = core::SplitCommandLine(commandLine);
  for (size_t i = 1; i < arguments.size(); ++i) {
    if (_wcsicmp(arguments[i].c_str(), L"RESUME=DOWNLOADING") == 0) return 1;
    if (_wcsicmp(arguments[i].c_str(), L"RESUME=INSTALLING") == 0) return 2;
  }
  return 0;
}

ExternalMethods::ExternalMethods(core::FrameworkCore* core) : core_(core) {
  RestoreExtractFolders();

  Register(L"getProperty", &ExternalMethods::GetPropertyMethod);
  Register(L"setProperty", &ExternalMethods::SetPropertyMethod);
  Register(L"closeWindow", &ExternalMethods::CloseWindow);
  Register(L"dragWindow", &ExternalMethods::DragWindow);
  Register(L"hideWindow", &ExternalMethods::HideWindow);
  Register(L"showWindow", &ExternalMethods::ShowWindowMethod);
  Register(L"terminateWindow", &ExternalMethods::TerminateWindow);
  Register(L"selectFolder", &ExternalMethods::SelectFolder);
  Register(L"messageBox", &ExternalMethods::MessageBoxMethod);
  Register(L"deleteRegKey", &ExternalMethods::DeleteRegKey);
  Register(L"setWindowSize", &ExternalMethods::SetWindowSize);
  Register(L"setLang", &ExternalMethods::SetLang);
  Register(L"setInstallStatus", &ExternalMethods::SetInstallStatusMethod);
  Register(L"setChannel", &ExternalMethods::SetChannel);
  Register(L"setDataToReg", &ExternalMethods::SetDataToReg);
  Register(L"isFileExists", &ExternalMethods::IsFileExists);
  Register(L"createDirectory", &ExternalMethods::CreateDirectoryMethod);
  Register(L"openPage", &ExternalMethods::OpenPage);
  Register(L"searchRegKey", &ExternalMethods::SearchRegKey);
  Register(L"getDiskAvailableSpace", &ExternalMethods::GetDiskAvailableSpace);
  Register(L"getOSLang", &ExternalMethods::GetOSLang);
  Register(L"getLanguageByID", &ExternalMethods::GetLanguageByID);
  Register(L"getParsedInstallLanguage", &ExternalMethods::GetParsedInstallLanguage);
  Register(L"getFileVersion", &ExternalMethods::GetFileVersion);
  Register(L"getDataFromReg", &ExternalMethods::GetDataFromReg);
  Register(L"getCrc", &ExternalMethods::GetCrc);
  Register(L"getOSVersion", &ExternalMethods::GetOSVersion);
  Register(L"getResumeMode", &ExternalMethods::GetResumeModeMethod);
  Register(L"getResourceLocation", &ExternalMethods::GetResourceLocation);
  Register(L"getCurrentPath", &ExternalMethods::GetCurrentPath);
  Register(L"getDesktopPath", &ExternalMethods::GetDesktopPath);
  Register(L"getTempPath", &ExternalMethods::GetTempPathMethod);
  Register(L"getBaseRegKey", &ExternalMethods::GetBaseRegKey);
  Register(L"getFileSize", &ExternalMethods::GetFileSize);
  Register(L"getLastInstallError", &ExternalMethods::GetLastInstallError);
  Register(L"checkOS", &ExternalMethods::CheckOS);
  Register(L"isUninstallModeLaunch", &ExternalMethods::IsUninstallModeLaunch);
  Register(L"confirmMessageBox", &ExternalMethods::ConfirmMessageBox);
  Register(L"getEmbeddedDataFromCurrentExe", &ExternalMethods::GetEmbeddedDataFromCurrentExe);
  Register(L"renameFile", &ExternalMethods::RenameFile);
  Register(L"download", &ExternalMethods::Download);
  Register(L"stopDownload", &ExternalMethods::StopDownload);
  Register(L"install", &ExternalMethods::Install);
  Register(L"trackUserActivity", &ExternalMethods::TrackUserActivity);
  Register(L"getMachineId", &ExternalMethods::GetMachineIdMethod);
  Register(L"setUninstallRegistryFromStub", &ExternalMethods::SetUninstallRegistryFromStub);
  Register(L"removeProgram", &ExternalMethods::RemoveProgram);
  Register(L"repairProgram", &ExternalMethods::RepairProgram);
  Register(L"verifyFileInSpecialDirectory", &ExternalMethods::VerifyFileInSpecialDirectory);
  Register(L"cancelVerifyThread", &ExternalMethods::CancelVerifyThread);
  Register(L"isInEmbargoedCountry", &ExternalMethods::IsInEmbargoedCountry);
  Register(L"isInternetConnected", &ExternalMethods::IsInternetConnected);
  Register(L"startProgram", &ExternalMethods::StartProgram);
  Register(L"restartSystem", &ExternalMethods::RestartSystem);
  Register(L"runAfterReboot", &ExternalMethods::RunAfterReboot);
  Register(L"undoRunAfterReboot", &ExternalMethods::UndoRunAfterReboot);
  Register(L"runApplication", &ExternalMethods::RunApplication);
  Register(L"executeCommand", &ExternalMethods::ExecuteCommand);
  Register(L"startRegApps", &ExternalMethods::StartRegApps);
  Register(L"isSkipSelfUpdate", &ExternalMethods::IsSkipSelfUpdate);
  Register(L"isNeedSelfUpdate", &ExternalMethods::IsNeedSelfUpdate);
  Register(L"isSilentLaunchStub", &ExternalMethods::IsSilentLaunchStub);
  Register(L"selfUpdate", &ExternalMethods::SelfUpdate);
  Register(L"initDownloadSize", &ExternalMethods::InitDownloadSize);
  Register(L"updateInstallerList", &ExternalMethods::UpdateInstallerList);
}

ExternalMethods::~ExternalMethods() = default;

int ExternalMethods::GetResumeMode() const { return ResumeModeFromCommandLine(GetCommandLineW()); }

void ExternalMethods::RestoreExtractFolders() {
  core::StubParameters& parameters = *core_->parameters;
  std::wstring path = utils::ProductRegistryKey(parameters.ProductId(),
                                                utils::MajorVersion(parameters.ProductVersion())) +
                      L"\\ResumeRecord\\ExtractFolders";
  HKEY root;
  std::wstring subkey;
  if (GetResumeMode() != 0 && utils::RegistryRoot(path, root, subkey)) {
    std::map<std::wstring, std::wstring> folders;
    utils::RegistryKey key;
    if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, key.Out()) == ERROR_SUCCESS) {
      for (DWORD index = 0;; ++index) {
        wchar_t name[300];
        DWORD nameLength = 300;
        if (RegEnumValueW(key.Get(), index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
          break;
        wchar_t data[1001] = {};  // 2000 bytes of data and a terminator of our own
        DWORD size = 2000;
        DWORD type = 0;
        if (SHGetValueW(key.Get(), nullptr, name, &type, data, &size) != ERROR_SUCCESS) continue;
        folders[std::wstring(name, nameLength)] = std::wstring(data, wcsnlen(data, size / sizeof(wchar_t)));
      }
    }
    core::FrameworkLogDebug(core_, L"Reset properties for Resume Mode");
    // Any program of the user can write this key, and the folders of an earlier run went with its
    // working root: nothing named here is run from or deleted.
    for (const auto& entry : folders) {
      core::FrameworkLogDebug(core_, L"%s", (entry.first + L":" + entry.second).c_str());
      core::FrameworkLogDebug(core_, L"Resume record refused: %s", entry.first.c_str());
    }
  }
  utils::DeleteRegistryKey(path, false);
}

HRESULT ExternalMethods::CheckCall(WORD flags, WORD acceptedFlags, DISPPARAMS* params, UINT count) {
  if (flags != acceptedFlags) return DISP_E_MEMBERNOTFOUND;
  if (!params || params->cArgs != count || params->cNamedArgs != 0) return DISP_E_BADPARAMCOUNT;
  return S_OK;
}

HRESULT ExternalMethods::CheckParamTypes(DISPPARAMS* params, const VARTYPE* types, UINT count) {
  if (!params || params->cArgs != count) {
    core::FrameworkLogDebug(core_, L"CheckParamTypes -- DISP_E_BADPARAMCOUNT");
    return DISP_E_BADPARAMCOUNT;
  }
  for (UINT i = 0; i < count; ++i) {
    if (params->rgvarg[i].vt != types[i]) {
      core::FrameworkLogDebug(core_, L"CheckParamTypes -- DISP_E_TYPEMISMATCH at %u: type %d, expected %d", i,
                              static_cast<int>(params->rgvarg[i].vt), static_cast<int>(types[i]));
      return DISP_E_TYPEMISMATCH;
    }
  }
  return S_OK;
}

HRESULT ExternalMethods::CheckArguments(WORD flags, WORD acceptedFlags, DISPPARAMS* params,
                                        std::initializer_list<VARTYPE> scriptOrderTypes) {
  UINT count = static_cast<UINT>(scriptOrderTypes.size());
  HRESULT hr = CheckCall(flags, acceptedFlags, params, count);
  if (FAILED(hr) || count == 0) return hr;
  // DISPPARAMS hold the last script argument first.
  std::vector<VARTYPE> types(scriptOrderTypes.begin(), scriptOrderTypes.end());
  return CheckParamTypes(params, std::vector<VARTYPE>(types.rbegin(), types.rend()).data(), count);
}

VARIANT& ExternalMethods::Argument(DISPPARAMS* params, UINT scriptIndex) {
  return params->rgvarg[params->cArgs - 1 - scriptIndex];
}

std::wstring ExternalMethods::ArgumentText(DISPPARAMS* params, UINT scriptIndex) {
  const VARIANT& argument = Argument(params, scriptIndex);
  if (argument.vt != VT_BSTR || !argument.bstrVal) return std::wstring();
  return std::wstring(argument.bstrVal, SysStringLen(argument.bstrVal));
}

void ExternalMethods::SetResultText(VARIANT* result, const std::wstring& text) {
  result->vt = VT_BSTR;
  result->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

void ExternalMethods::SetResultBool(VARIANT* result, bool value) {
  result->vt = VT_BOOL;
  result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

void ExternalMethods::SetResultInt(VARIANT* result, int value) {
  result->vt = VT_I4;
  result->lVal = value;
}

}  // namespace stubframework
