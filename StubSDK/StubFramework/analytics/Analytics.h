#pragma once
// Client of the installer web service.
#include <string>
#include <vector>

namespace stubframework::core {

class StubParameters;

class Analytics {
 public:
  explicit Analytics(StubParameters* parameters) : parameters_(parameters) {}

  void ReportStart();
  void ReportEnd();
  void ReportError();
  void AddReportAttachment(const std::wstring& path) { attachments_.push_back(path); }
  void ClearAttachments() { attachments_.clear(); }
  const std::vector<std::wstring>& Attachments() const { return attachments_; }

 private:
  StubParameters* parameters_;
  std::vector<std::wstring> attachments_;
};

}  // namespace stubframework::core
