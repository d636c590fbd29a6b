#pragma once
// Client of the installer web service: the start and end reports of the run, the error report
// that uploads the collected log files, and the count of user-activity reports still being sent.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/UniqueHandle.h"

namespace stubframework::core {

class StubParameters;
struct FrameworkCore;

class Analytics {
 public:
  explicit Analytics(StubParameters* parameters);
  virtual ~Analytics();
  Analytics(const Analytics&) = delete;
  Analytics& operator=(const Analytics&) = delete;

  // Each blocks until its request is sent or has failed; true when it was sent.
  virtual bool ReportStart();
  virtual bool ReportEnd();
  // The start report from a thread of its own, so that nothing waits for the service meanwhile.
  // Its document is built here, on the calling thread, where the parameters' getters may fill
  // members; the thread uses nothing else of the run. Sent here when no thread can start.
  void BeginStartReport();
  // Waits for the start report begun, as long as its request's time-outs may take; true once it
  // has ended or none was begun.
  bool AwaitStartReport();
  // Zips the attachments into a fresh temporary folder as log.zip, uploads it and removes the
  // folder. False, creating nothing, without attachments.
  virtual bool ReportError();
  // The start (final false) or end report, then the error report when final and the status is
  // 2. 0 when all of it was sent, 300 otherwise.
  virtual int32_t ReportFinal(bool final);

  // 202 when the file does not exist, 0 when added. Any thread.
  int AddReportAttachment(const std::wstring& path);
  void ClearAttachments();
  std::vector<std::wstring> Attachments();

  // User-activity reports run on threads of their own that use the core: each is counted from
  // before its thread starts until it has ended its work.
  void ActivityStarted();
  void ActivityEnded();
  // Waits up to boundMs for every counted activity; true when none is left.
  bool WaitForActivities(DWORD boundMs);

 private:
  bool SendReport(bool initial);

  StubParameters* parameters_;
  // Closed, not awaited, with the object: a start report still under way owns what it uses.
  utils::KernelHandle startReport_;
  std::vector<std::wstring> attachments_;
  CRITICAL_SECTION lock_;
  CONDITION_VARIABLE activitiesEnded_;
  long activities_ = 0;
};

// Adds path to the core's error-report attachments: 201 for a null path (checked first), 200 for
// a null core, otherwise Analytics::AddReportAttachment's result.
int AddReportAttachment(FrameworkCore* core, const wchar_t* path);

}  // namespace stubframework::core
