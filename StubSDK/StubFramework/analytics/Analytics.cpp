#include "analytics/Analytics.h"

namespace stubframework::core {

// Placeholder: the reports are sent by the web service client issue.
void Analytics::ReportStart() {}
// Placeholder: the reports are sent by the web service client issue.
void Analytics::ReportEnd() {}
// Placeholder: the error report with the log upload arrives with the web service client issue.
void Analytics::ReportError() {}

}  // namespace stubframework::core
