#pragma once
// Progress reports of the download and install workers. A worker owns one ProgressRecord and
// runs at most one reporter thread at a time through a ReporterThread; the reporter reads the
// progress properties every 2 ms and calls the page back with (Running, total, current) until the
// record's status leaves Running or the worker joins it. The worker joins the reporter
// (ReporterThread::Join, also done by its destructor) before it makes the final callback or frees
// the record, the arguments or the callback, so no Running report can follow the final one.
#include <windows.h>
#include <objbase.h>

#include <string>

#include "core/UniqueHandle.h"
#include "setup/Workflow.h"

namespace stubframework::htmlui {
class ScriptCallback;
}
namespace stubframework::core {
class HtmlExternal;
}

namespace stubframework::setup {

struct ProgressRecord {
  // Written by the reporter only; the worker reads them after joining it.
  long long current = 0;
  long long total = 0;
  // A Config_ErrorHandle code: Running while the operation runs. The install and extraction
  // reporter sets NoError when the progress reaches the total; the worker sets the result.
  volatile LONG status = static_cast<LONG>(Config_ErrorHandle::Running);
  // The reports made so far.
  volatile LONG reports = 0;
  // Set by ReporterThread::Join: the reporter ends without another report.
  volatile LONG quit = 0;
};

struct ReporterArgs {
  core::HtmlExternal* external = nullptr;
  htmlui::ScriptCallback* callback = nullptr;  // already unmarshalled on the worker's apartment
  ProgressRecord* record = nullptr;
  std::wstring item;  // the URL or file being processed
};

// Thread procedures; the argument is a ReporterArgs*.
// Reports "downloadCurrent"/"downloadTotal" until the worker ends it: the verified download moves
// its progress back when data fails verification, and the bar follows the fetch again. With an
// extraction to follow ("__Extract_ZIP_In_Download_Progress__" = "true") the download fills 95 %
// of the bar.
DWORD WINAPI DownloadProgressReporter(void* args);
// Reports "installCurrent"/"installTotal"; with an extraction following a download, the
// extraction fills the download bar's last 5 % instead.
DWORD WINAPI ExtractProgressReporter(void* args);

// The value the extraction's part of the download bar gives "downloadCurrent": 95 % of
// downloadTotal plus 5 % times the extracted fraction, rounded. Extraction progress arrives as
// installCurrent = entries done / 10 and installTotal = entry count, so the fraction is
// installCurrent x 10 / installTotal, kept within 0...1; a total of 0 counts as nothing done.
DWORD ExtractionBarPosition(DWORD downloadTotal, DWORD installCurrent, DWORD installTotal);

// A progress property read as the unsigned 32-bit number it holds.
DWORD ReadProgressProperty(core::HtmlExternal* external, const wchar_t* name);

// Membership of the calling thread in the multithreaded apartment, where workers and reporters
// use the unmarshalled script callback; left when the object goes.
class MultithreadedApartment {
 public:
  MultithreadedApartment() : joined_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
  ~MultithreadedApartment() {
    if (joined_) CoUninitialize();
  }
  MultithreadedApartment(const MultithreadedApartment&) = delete;
  MultithreadedApartment& operator=(const MultithreadedApartment&) = delete;
  bool Joined() const { return joined_; }

 private:
  bool joined_;
};

// Owns one reporter thread of a worker. Start and Join are called by the worker thread only.
class ReporterThread {
 public:
  ReporterThread() = default;
  ~ReporterThread() { Join(); }
  ReporterThread(const ReporterThread&) = delete;
  ReporterThread& operator=(const ReporterThread&) = delete;

  // Joins a previous reporter, then runs reporter(args); args must outlive the thread. Clears the
  // record's quit mark. An exception ends the reporter alone. False when the thread cannot be
  // started (the worker goes on without progress reports).
  bool Start(LPTHREAD_START_ROUTINE reporter, ReporterArgs* args);
  // Waits (1 ms polls) until the reporter has made a report that began after this call (one that
  // shows what the worker set before it), has moved the status from Running or has ended.
  void AwaitReported();
  // Makes the reporter end and waits for it; nothing after this sees another report.
  void Join();

 private:
  static DWORD WINAPI Entry(void* self);

  utils::KernelHandle thread_;
  ProgressRecord* record_ = nullptr;
  LPTHREAD_START_ROUTINE reporter_ = nullptr;
  ReporterArgs* args_ = nullptr;
};

}  // namespace stubframework::setup
