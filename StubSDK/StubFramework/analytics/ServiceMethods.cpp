#include "methods/ExternalMethods.h"

namespace stubframework {

// Placeholder, replaced by this module's own method in the issue that builds it.
HRESULT ExternalMethods::TrackUserActivity(WORD flags, DISPPARAMS* params, VARIANT* result) { return NotBuilt(flags, params, result); }
// Placeholder, replaced by this module's own method in the issue that builds it.
HRESULT ExternalMethods::IsInEmbargoedCountry(WORD flags, DISPPARAMS* params, VARIANT* result) { return NotBuilt(flags, params, result); }
// Placeholder, replaced by this module's own method in the issue that builds it.
HRESULT ExternalMethods::IsInternetConnected(WORD flags, DISPPARAMS* params, VARIANT* result) { return NotBuilt(flags, params, result); }

}  // namespace stubframework
