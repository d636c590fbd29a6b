#include "setup/ProgressReporter.h"

#include <cwchar>

#include "htmlui/HtmlExternal.h"
#include "htmlui/ScriptCallback.h"

namespace stubframework::setup {

namespace {

constexpr DWORD kReportIntervalMs = 2;
constexpr LONG kRunning = static_cast<LONG>(Config_ErrorHandle::Running);
constexpr LONG kNoError = static_cast<LONG>(Config_ErrorHandle::NoError);

bool ReportsWanted(const ProgressRecord& record) { return record.status == kRunning && !record.quit; }

bool ExtractFollows(core::HtmlExternal* external) {
  return external->GetProperty(L"__Extract_ZIP_In_Download_Progress__") == L"true";
}

// Script callbacks take 32-bit integers: progress values are unsigned 32-bit numbers.
void Report(const ReporterArgs& args) {
  if (args.callback)
    args.callback->Call({static_cast<int>(Config_ErrorHandle::Running), static_cast<int>(args.record->total),
                         static_cast<int>(args.record->current)});
  InterlockedIncrement(&args.record->reports);
}

}  // namespace

DWORD ReadProgressProperty(core::HtmlExternal* external, const wchar_t* name) {
  unsigned long long value = wcstoull(external->GetProperty(name).c_str(), nullptr, 10);
  return value > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(value);
}

DWORD ExtractionBarPosition(DWORD downloadTotal, DWORD installCurrent, DWORD installTotal) {
  double fraction = installTotal == 0 ? 0.0 : static_cast<double>(installCurrent) * 10.0 / installTotal;
  if (fraction > 1.0) fraction = 1.0;
  double position = downloadTotal * 0.95 + downloadTotal * 0.05 * fraction + 0.5;
  return position >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<DWORD>(position);
}

DWORD WINAPI DownloadProgressReporter(void* argument) {
  MultithreadedApartment apartment;
  ReporterArgs& args = *static_cast<ReporterArgs*>(argument);
  ProgressRecord& record = *args.record;
  bool extractFollows = ExtractFollows(args.external);
  while (ReportsWanted(record)) {
    DWORD current = ReadProgressProperty(args.external, L"downloadCurrent");
    DWORD total = ReadProgressProperty(args.external, L"downloadTotal");
    record.total = total;
    record.current = extractFollows ? static_cast<long long>(current * 0.95) : current;
    Report(args);
    Sleep(kReportIntervalMs);
  }
  return 0;
}

DWORD WINAPI ExtractProgressReporter(void* argument) {
  MultithreadedApartment apartment;
  ReporterArgs& args = *static_cast<ReporterArgs*>(argument);
  ProgressRecord& record = *args.record;
  bool extractFollows = ExtractFollows(args.external);
  DWORD downloadTotal = ReadProgressProperty(args.external, L"downloadTotal");
  while (ReportsWanted(record)) {
    DWORD current = ReadProgressProperty(args.external, L"installCurrent");
    DWORD total = ReadProgressProperty(args.external, L"installTotal");
    if (extractFollows) {
      DWORD position = ExtractionBarPosition(downloadTotal, current, total);
      args.external->SetDownloadCurrent(position);
      record.current = position;
      record.total = downloadTotal;
    } else {
      record.current = current;
      record.total = total;
    }
    Report(args);
    if (record.current >= record.total) {
      args.external->SetInstallCurrent(static_cast<DWORD>(record.total));
      InterlockedCompareExchange(&record.status, kNoError, kRunning);
    }
    Sleep(kReportIntervalMs);
  }
  return 0;
}

bool ReporterThread::Start(LPTHREAD_START_ROUTINE reporter, ReporterArgs* args) {
  Join();
  record_ = args->record;
  record_->quit = 0;
  reporter_ = reporter;
  args_ = args;
  thread_.Reset(CreateThread(nullptr, 0, Entry, this, 0, nullptr));
  return thread_.Valid();
}

DWORD WINAPI ReporterThread::Entry(void* self) {
  auto* thread = static_cast<ReporterThread*>(self);
  // A reporter that cannot go on (out of memory) ends; the worker's own result stands.
  try {
    return thread->reporter_(thread->args_);
  } catch (...) {
    return 0;
  }
}

void ReporterThread::AwaitReported() {
  if (!thread_.Valid()) return;
  // The report under way now may have read the properties before the call.
  LONG wanted = record_->reports + 2;
  while (record_->status == kRunning && record_->reports < wanted &&
         WaitForSingleObject(thread_.Get(), 1) == WAIT_TIMEOUT) {
  }
}

void ReporterThread::Join() {
  if (!thread_.Valid()) return;
  record_->quit = 1;
  WaitForSingleObject(thread_.Get(), INFINITE);
  thread_.Close();
}

}  // namespace stubframework::setup
