#pragma once
// The XML documents sent to the installer web service and the reading of its answers. Documents
// are plain concatenations without declaration or whitespace; values are escaped for XML text.
#include <string>

namespace stubframework::core {
class StubParameters;
}

namespace stubframework::analytics {

// The word reported for an install status number; an unknown number is added with an empty word.
// The table is filled on first use; user-interface thread only.
std::wstring StatusText(int status);

// value with "&", "<" and ">" replaced by their entities: the documents hold values only as
// element text, where nothing else needs escaping.
std::wstring XmlText(const std::wstring& value);

// The HVDLMAnalytics report: status 0 when initial, otherwise the run's status (0 sent as 3).
std::wstring BuildAnalyticsDocument(core::StubParameters& parameters, bool initial);
std::wstring BuildUserActivityDocument(core::StubParameters& parameters, const std::wstring& activity);
std::wstring BuildRegionRestrictionsDocument(core::StubParameters& parameters);

// The characters between the first "<name>" and the first "</name>" after it; empty when either
// is missing.
std::wstring ElementContent(const std::wstring& text, const std::wstring& name);

}  // namespace stubframework::analytics
