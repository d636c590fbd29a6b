#pragma once
// The run of the user interface: the main window with its message loop, then the end-of-run work
// (final status, failure report, log copy, clean-up of extraction folders).
#include <string>

namespace stubframework::core {

class HtmlExternal;
struct FrameworkCore;
class StubParameters;

void RunUserInterface(FrameworkCore* core, HtmlExternal* external);

// The final status for a run that ended with status and the property "uninstallOption": statuses
// below 4 (0 becoming 3) get 70, 80 or 90 for "Modify", "Repair" or "Remove".
int SettleFinalStatus(int status, const std::wstring& uninstallOption);

}  // namespace stubframework::core
