#pragma once
// Running an installer program, directly or as the setup.exe of a ZIP package, on the install
// worker, and the mapping of installer exit codes to the workflow's result codes.
#include <windows.h>

#include <string>

#include "setup/Workflow.h"

namespace stubframework::core {
struct FrameworkCore;
class HtmlExternal;
}

namespace stubframework::setup {

// Whether the elevated stub may run the installer file, held locked by the caller: signed by a
// publisher the product definition pins (core/Signature.h), logged either way.
bool MayInstall(core::FrameworkCore* core, const std::wstring& file, HANDLE held);

// A progress number kept within the unsigned 32 bits the progress properties hold.
DWORD ClampToDword(long long value);
// The install progress property as the unsigned 32-bit number it holds: the external object's
// getters saturate at 2^31 - 1, and a large estimate gives totals past that.
DWORD InstallProgressValue(core::HtmlExternal* external, const wchar_t* name);

// 0 NoError, 1602 Cancelled, 1603 Failure, 1618 OtherInstalling, 1641 and 3010 Reboot, anything
// else UnknowError.
Config_ErrorHandle TransferInstallError(core::FrameworkCore* core, DWORD exitCode);

// Runs "<file>" parameters and waits for it, when MayInstall lets it (Failure otherwise). With an estimatedTime (seconds) above 0 the progress
// runs from 0 towards estimatedTime x 10 in tenths of a second, stopping one short of the total
// until the program ends. The exit code goes to lastInstallError.
Config_ErrorHandle InstallExe(core::FrameworkCore* core, const std::wstring& file, const std::wstring& parameters,
                              long long estimatedTime);

// Runs the setup.exe of a ZIP package: from the folders its download extracted it to when they
// are trusted temporary folders with the setup folder inside the extraction, or else from a
// fresh extraction. The extraction folder is deleted afterwards.
Config_ErrorHandle InstallZip(core::FrameworkCore* core, const std::wstring& file, const std::wstring& parameters,
                              long long estimatedTime);

}  // namespace stubframework::setup
