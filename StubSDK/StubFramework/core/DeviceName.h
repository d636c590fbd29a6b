#pragma once
// The names Windows keeps for devices in every folder.
#include <string>

namespace stubframework::utils {

// Whether one path element is a reserved device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9 with the
// superscript digits, CONIN$, CONOUT$) in any case, also followed by blanks, an extension or a
// colon: the system opens the device for all of these.
bool IsReservedDeviceName(const std::wstring& element);

}  // namespace stubframework::utils
