#include "methods/ExternalMethods.h"

namespace stubframework {

// Placeholder, replaced by this module's own method in the issue that builds it.
HRESULT ExternalMethods::IsSkipSelfUpdate(WORD flags, DISPPARAMS* params, VARIANT* result) { return NotBuilt(flags, params, result); }
// Placeholder, replaced by this module's own method in the issue that builds it.
HRESULT ExternalMethods::IsNeedSelfUpdate(WORD flags, DISPPARAMS* params, VARIANT* result) { return NotBuilt(flags, params, result); }
// Placeholder, replaced by this module's own method in the issue that builds it.
HRESULT ExternalMethods::IsSilentLaunchStub(WORD flags, DISPPARAMS* params, VARIANT* result) { return NotBuilt(flags, params, result); }
// Placeholder, replaced by this module's own method in the issue that builds it.
HRESULT ExternalMethods::SelfUpdate(WORD flags, DISPPARAMS* params, VARIANT* result) { return NotBuilt(flags, params, result); }
// Placeholder, replaced by this module's own method in the issue that builds it.
HRESULT ExternalMethods::InitDownloadSize(WORD flags, DISPPARAMS* params, VARIANT* result) { return NotBuilt(flags, params, result); }
// Placeholder, replaced by this module's own method in the issue that builds it.
HRESULT ExternalMethods::UpdateInstallerList(WORD flags, DISPPARAMS* params, VARIANT* result) { return NotBuilt(flags, params, result); }

}  // namespace stubframework
