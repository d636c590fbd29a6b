#pragma once
// The machine identifier: made once per computer, kept protected in a file all users share, and
// reported only as its SHA-256 digest.
#include <string>

namespace stubframework::core {
class StubParameters;
}

namespace stubframework::analytics {

// The reported form of an identifier: SHA-256 of the low byte of each character, as 64 lower-case
// hexadecimal digits. Empty for an empty identifier.
std::wstring ReportedFormOf(const std::wstring& identifier);

// The reported form of parameters.machineId, stored in parameters.reportedMachineId.
std::wstring ReportedMachineId(core::StubParameters& parameters);

}  // namespace stubframework::analytics
