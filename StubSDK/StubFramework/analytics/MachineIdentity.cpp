#include "analytics/MachineIdentity.h"

#include <vector>

#include "core/Digest.h"
#include "core/StubParameters.h"
#include "methods/ExternalMethods.h"

namespace stubframework::analytics {

std::wstring ReportedFormOf(const std::wstring& identifier) {
  if (identifier.empty()) return std::wstring();
  std::vector<uint8_t> bytes;
  for (wchar_t c : identifier) bytes.push_back(static_cast<uint8_t>(c & 0xFF));
  return utils::DigestHex(utils::DigestKind::Sha256, bytes.data(), bytes.size(), false);
}

std::wstring ReportedMachineId(core::StubParameters& parameters) {
  parameters.reportedMachineId = ReportedFormOf(parameters.machineId);
  return parameters.reportedMachineId;
}

}  // namespace stubframework::analytics

namespace stubframework {

// Placeholder, replaced by this module's own method in the issue that builds it.
HRESULT ExternalMethods::GetMachineIdMethod(WORD flags, DISPPARAMS* params, VARIANT* result) { return NotBuilt(flags, params, result); }

}  // namespace stubframework
