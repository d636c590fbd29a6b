#include "analytics/Analytics.h"

#include <shlwapi.h>

#include <memory>

#include "analytics/MachineIdentity.h"
#include "analytics/ServiceDocuments.h"
#include "analytics/ServiceRequest.h"
#include "core/FrameworkCore.h"
#include "core/StubParameters.h"
#include "core/TextFormat.h"
#include "core/UniqueHandle.h"
#include "core/WorkingFolders.h"
#include "core/ZipWriter.h"

namespace stubframework::core {
namespace {

class Lock {
 public:
  explicit Lock(CRITICAL_SECTION& section) : section_(section) { EnterCriticalSection(&section_); }
  ~Lock() { LeaveCriticalSection(&section_); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  CRITICAL_SECTION& section_;
};

bool UploadErrorLog(const std::wstring& zipPath, const std::wstring& token, const std::wstring& machineId) {
  std::string bytes;
  {
    HANDLE file = CreateFileW(zipPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    utils::FileHandle owner(file);
    DWORD size = GetFileSize(file, nullptr);
    if (size == INVALID_FILE_SIZE) return false;
    bytes.resize(size);
    DWORD read = 0;
    if (size && (!ReadFile(file, &bytes[0], size, &read, nullptr) || read != size)) return false;
  }
  // Both values are letters, digits and hyphens: nothing to encode.
  std::wstring path = L"/v1/reportError?token=" + token + L"&machineId=" + machineId;
  return analytics::SendToService(bytes.data(), bytes.size(), path, L"PUT");
}

DWORD WINAPI SendStartReport(void* argument) {
  std::unique_ptr<std::string> body(static_cast<std::string*>(argument));
  analytics::SendToService(body->data(), body->size(), L"/v1/logAnalytics", L"POST");
  return 0;
}

}  // namespace

Analytics::Analytics(StubParameters* parameters) : parameters_(parameters) {
  InitializeCriticalSection(&lock_);
  InitializeConditionVariable(&activitiesEnded_);
}

Analytics::~Analytics() {
  ClearAttachments();
  DeleteCriticalSection(&lock_);
}

bool Analytics::SendReport(bool initial) {
  std::string body = utils::WideToUtf8(analytics::BuildAnalyticsDocument(*parameters_, initial));
  return analytics::SendToService(body.data(), body.size(), L"/v1/logAnalytics", L"POST");
}

bool Analytics::ReportStart() { return SendReport(true); }

void Analytics::BeginStartReport() {
  auto* body = new std::string(utils::WideToUtf8(analytics::BuildAnalyticsDocument(*parameters_, true)));
  startReport_.Reset(CreateThread(nullptr, 0, SendStartReport, body, 0, nullptr));
  if (!startReport_.Valid()) SendStartReport(body);
}

bool Analytics::AwaitStartReport() {
  return !startReport_.Valid() || WaitForSingleObject(startReport_.Get(), analytics::kServiceRequestBoundMs) == WAIT_OBJECT_0;
}

bool Analytics::ReportEnd() { return SendReport(false); }

bool Analytics::ReportError() {
  std::vector<std::wstring> files = Attachments();
  if (files.empty()) return false;
  std::wstring folder;
  if (!utils::CreateUniqueTempFolder(folder)) return false;
  std::wstring archive = folder + L"log.zip";
  bool zipped = true;
  for (const std::wstring& file : files) {
    zipped = zip::AddFileToZip(archive, file);
    if (!zipped) break;
  }
  bool sent = zipped && UploadErrorLog(archive, parameters_->requestToken, analytics::ReportedMachineId(*parameters_));
  utils::DeleteFolderTree(folder);
  return sent;
}

int32_t Analytics::ReportFinal(bool final) {
  bool sent = SendReport(!final);
  if (sent && final && parameters_->Status() == 2) sent = ReportError();
  return sent ? 0 : 300;
}

int Analytics::AddReportAttachment(const std::wstring& path) {
  if (!PathFileExistsW(path.c_str())) return 202;
  // The report zips what it is given as administrator and sends it away: only the run's own files,
  // in its working root, written plainly there.
  std::wstring root;
  if (!utils::GetWorkingRoot(root) || path.size() <= root.size() || path.compare(0, root.size(), root) != 0 ||
      path.find(L"\\..\\") != std::wstring::npos || path.find(L'/') != std::wstring::npos)
    return 202;
  Lock lock(lock_);
  attachments_.push_back(path);
  return 0;
}

void Analytics::ClearAttachments() {
  Lock lock(lock_);
  attachments_.clear();
}

std::vector<std::wstring> Analytics::Attachments() {
  Lock lock(lock_);
  return attachments_;
}

void Analytics::ActivityStarted() {
  Lock lock(lock_);
  ++activities_;
}

void Analytics::ActivityEnded() {
  Lock lock(lock_);
  if (--activities_ == 0) WakeAllConditionVariable(&activitiesEnded_);
}

bool Analytics::WaitForActivities(DWORD boundMs) {
  ULONGLONG deadline = GetTickCount64() + boundMs;
  Lock lock(lock_);
  while (activities_ > 0) {
    ULONGLONG now = GetTickCount64();
    if (now >= deadline) return false;
    SleepConditionVariableCS(&activitiesEnded_, &lock_, static_cast<DWORD>(deadline - now));
  }
  return true;
}

int AddReportAttachment(FrameworkCore* core, const wchar_t* path) {
  if (!path) return 201;
  if (!core || !core->analytics) return 200;
  return core->analytics->AddReportAttachment(path);
}

}  // namespace stubframework::core
