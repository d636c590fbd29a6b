#include "methods/ExternalMethods.h"

namespace stubframework {

// Placeholder, replaced by this module's own method in the issue that builds it.
HRESULT ExternalMethods::StartProgram(WORD flags, DISPPARAMS* params, VARIANT* result) { return NotBuilt(flags, params, result); }
// Placeholder, replaced by this module's own method in the issue that builds it.
HRESULT ExternalMethods::RunApplication(WORD flags, DISPPARAMS* params, VARIANT* result) { return NotBuilt(flags, params, result); }
// Placeholder, replaced by this module's own method in the issue that builds it.
HRESULT ExternalMethods::ExecuteCommand(WORD flags, DISPPARAMS* params, VARIANT* result) { return NotBuilt(flags, params, result); }
// Placeholder, replaced by this module's own method in the issue that builds it.
HRESULT ExternalMethods::StartRegApps(WORD flags, DISPPARAMS* params, VARIANT* result) { return NotBuilt(flags, params, result); }
// Placeholder, replaced by this module's own method in the issue that builds it.
HRESULT ExternalMethods::RestartSystem(WORD flags, DISPPARAMS* params, VARIANT* result) { return NotBuilt(flags, params, result); }
// Placeholder, replaced by this module's own method in the issue that builds it.
HRESULT ExternalMethods::RunAfterReboot(WORD flags, DISPPARAMS* params, VARIANT* result) { return NotBuilt(flags, params, result); }
// Placeholder, replaced by this module's own method in the issue that builds it.
HRESULT ExternalMethods::UndoRunAfterReboot(WORD flags, DISPPARAMS* params, VARIANT* result) { return NotBuilt(flags, params, result); }

}  // namespace stubframework
