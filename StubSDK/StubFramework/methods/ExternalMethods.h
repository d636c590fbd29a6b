#pragma once
// The method object behind window.external: a map from script name to a native member function,
// the calling convention every method follows, and the methods of the framework.
#include <windows.h>
#include <oaidl.h>

#include <initializer_list>
#include <map>
#include <string>

namespace stubframework {

namespace core {
struct FrameworkCore;
}

class ExternalMethods;
using ScriptMethod = HRESULT (ExternalMethods::*)(WORD flags, DISPPARAMS* params, VARIANT* result);

// Resume mode of a command line: 1 for an argument "RESUME=DOWNLOADING", 2 for
// "RESUME=INSTALLING" (whole argument, any case, after the program path), otherwise 0.
int ResumeModeFromCommandLine(const std::wstring& commandLine);

class ExternalMethods {
 public:
  // The invocation flags a method accepts: 3 when it takes arguments and returns a value.
  static constexpr WORD kFlagsMethod = DISPATCH_METHOD;
  static constexpr WORD kFlagsMethodGet = DISPATCH_METHOD | DISPATCH_PROPERTYGET;

  explicit ExternalMethods(core::FrameworkCore* core);
  virtual ~ExternalMethods();
  ExternalMethods(const ExternalMethods&) = delete;
  ExternalMethods& operator=(const ExternalMethods&) = delete;

  virtual void SetWindow(HWND window) { window_ = window; }

  // A name registered twice keeps the later method.
  void Register(const std::wstring& name, ScriptMethod method) { methods_[name] = method; }
  const std::map<std::wstring, ScriptMethod>& Methods() const { return methods_; }

  int GetResumeMode() const;
  // Compares the argument types, last script argument first, exactly.
  HRESULT CheckParamTypes(DISPPARAMS* params, const VARTYPE* types, UINT count);

  core::FrameworkCore* Core() const { return core_; }
  HWND Window() const { return window_; }

#define STUB_SCRIPT_METHOD(name) HRESULT name(WORD flags, DISPPARAMS* params, VARIANT* result)
  // Property store.
  STUB_SCRIPT_METHOD(SetPropertyMethod);
  STUB_SCRIPT_METHOD(GetPropertyMethod);
  // Window and dialogs.
  STUB_SCRIPT_METHOD(CloseWindow);
  STUB_SCRIPT_METHOD(DragWindow);
  STUB_SCRIPT_METHOD(HideWindow);
  STUB_SCRIPT_METHOD(ShowWindowMethod);
  STUB_SCRIPT_METHOD(MinimizedWindow);
  STUB_SCRIPT_METHOD(TerminateWindow);
  STUB_SCRIPT_METHOD(SetWindowSize);
  STUB_SCRIPT_METHOD(MessageBoxMethod);
  STUB_SCRIPT_METHOD(ConfirmMessageBox);
  STUB_SCRIPT_METHOD(SelectFolder);
  STUB_SCRIPT_METHOD(OpenPage);
  // Registry, files and paths.
  STUB_SCRIPT_METHOD(SetDataToReg);
  STUB_SCRIPT_METHOD(GetDataFromReg);
  STUB_SCRIPT_METHOD(DeleteRegKey);
  STUB_SCRIPT_METHOD(SearchRegKey);
  STUB_SCRIPT_METHOD(GetBaseRegKey);
  STUB_SCRIPT_METHOD(IsFileExists);
  STUB_SCRIPT_METHOD(CreateDirectoryMethod);
  STUB_SCRIPT_METHOD(RenameFile);
  STUB_SCRIPT_METHOD(GetFileSize);
  STUB_SCRIPT_METHOD(GetFileVersion);
  STUB_SCRIPT_METHOD(GetCrc);
  STUB_SCRIPT_METHOD(GetCurrentPath);
  STUB_SCRIPT_METHOD(GetDesktopPath);
  STUB_SCRIPT_METHOD(GetTempPathMethod);
  STUB_SCRIPT_METHOD(GetResourceLocation);
  STUB_SCRIPT_METHOD(GetDiskAvailableSpace);
  STUB_SCRIPT_METHOD(GetEmbeddedDataFromCurrentExe);
  // System information.
  STUB_SCRIPT_METHOD(GetOSLang);
  STUB_SCRIPT_METHOD(GetLanguageByID);
  STUB_SCRIPT_METHOD(GetParsedInstallLanguage);
  STUB_SCRIPT_METHOD(SetLang);
  STUB_SCRIPT_METHOD(GetOSVersion);
  STUB_SCRIPT_METHOD(CheckOS);
  STUB_SCRIPT_METHOD(SetChannel);
  STUB_SCRIPT_METHOD(SetInstallStatusMethod);
  STUB_SCRIPT_METHOD(GetLastInstallError);
  STUB_SCRIPT_METHOD(GetResumeModeMethod);
  STUB_SCRIPT_METHOD(IsUninstallModeLaunch);
  // Download worker.
  STUB_SCRIPT_METHOD(Download);
  STUB_SCRIPT_METHOD(StopDownload);
  // Setup workers.
  STUB_SCRIPT_METHOD(Install);
  // Uninstall, repair and the package search.
  STUB_SCRIPT_METHOD(SetUninstallRegistryFromStub);
  STUB_SCRIPT_METHOD(RemoveProgram);
  STUB_SCRIPT_METHOD(RepairProgram);
  STUB_SCRIPT_METHOD(VerifyFileInSpecialDirectory);
  STUB_SCRIPT_METHOD(CancelVerifyThread);
  // Self-update and the installer-list update.
  STUB_SCRIPT_METHOD(IsSkipSelfUpdate);
  STUB_SCRIPT_METHOD(IsNeedSelfUpdate);
  STUB_SCRIPT_METHOD(IsSilentLaunchStub);
  STUB_SCRIPT_METHOD(SelfUpdate);
  STUB_SCRIPT_METHOD(InitDownloadSize);
  STUB_SCRIPT_METHOD(UpdateInstallerList);
  // Program launch and reboot.
  STUB_SCRIPT_METHOD(StartProgram);
  STUB_SCRIPT_METHOD(RunApplication);
  STUB_SCRIPT_METHOD(ExecuteCommand);
  STUB_SCRIPT_METHOD(StartRegApps);
  STUB_SCRIPT_METHOD(RestartSystem);
  STUB_SCRIPT_METHOD(RunAfterReboot);
  STUB_SCRIPT_METHOD(UndoRunAfterReboot);
  // Machine identity.
  STUB_SCRIPT_METHOD(GetMachineIdMethod);
  // Installer web service.
  STUB_SCRIPT_METHOD(TrackUserActivity);
  STUB_SCRIPT_METHOD(IsInEmbargoedCountry);
  STUB_SCRIPT_METHOD(IsInternetConnected);
#undef STUB_SCRIPT_METHOD

 protected:
  // Flags, argument count and no named arguments: the first two steps of every call.
  static HRESULT CheckCall(WORD flags, WORD acceptedFlags, DISPPARAMS* params, UINT count);
  // CheckCall for as many arguments as types, then CheckParamTypes (types in script order).
  HRESULT CheckArguments(WORD flags, WORD acceptedFlags, DISPPARAMS* params,
                         std::initializer_list<VARTYPE> scriptOrderTypes);
  // The argument at a script position (0 = first script argument); null text reads as empty.
  static VARIANT& Argument(DISPPARAMS* params, UINT scriptIndex);
  static std::wstring ArgumentText(DISPPARAMS* params, UINT scriptIndex);
  static void SetResultText(VARIANT* result, const std::wstring& text);
  static void SetResultBool(VARIANT* result, bool value);
  static void SetResultInt(VARIANT* result, int value);

 private:
  void RestoreExtractFolders();

  core::FrameworkCore* core_;
  HWND window_ = nullptr;
  std::map<std::wstring, ScriptMethod> methods_;
};

}  // namespace stubframework
