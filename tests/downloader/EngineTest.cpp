#include "EngineTest.h"

#include <atomic>
#include <cstdlib>
#include <sstream>

#include "core/DownloadLogger.h"
#include "support/TestSupport.h"

namespace enginetest {
namespace {

// Wine shows the Unix root as drive Z:.
std::wstring WindowsPath(const std::string& unixPath) {
  std::wstring path = L"Z:" + Widen(unixPath);
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

bool LoadServers(Servers& servers, std::string& error) {
  const char* file = getenv("HALVERN_TEST_SERVERS");
  if (!file || !*file) {
    error = "HALVERN_TEST_SERVERS is not set; the downloader_servers_start fixture sets it";
    return false;
  }
  std::istringstream lines(testsupport::ReadFileBytes(WindowsPath(file)));
  std::string line;
  while (std::getline(lines, line)) {
    size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    std::string key = line.substr(0, equals), value = line.substr(equals + 1);
    if (key == "nginx_port") servers.nginx = L"http://127.0.0.1:" + Widen(value);
    else if (key == "fault_port") servers.fault = L"http://127.0.0.1:" + Widen(value);
    else if (key == "docroot") servers.docroot = WindowsPath(value) + L"\\";
    else if (key == "requests_log") servers.requestsLog = WindowsPath(value);
  }
  if (servers.nginx.empty() || servers.fault.empty() || servers.docroot.empty()) {
    error = std::string("incomplete server file ") + file;
    return false;
  }
  return true;
}

}  // namespace

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += static_cast<char>(c);
  return out;
}

HttpRecorder* HttpRecorder::Create() { return downloader::details::Object<HttpRecorder>::Create(); }

HttpRecorder::HttpRecorder()
    : headerSeen_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

HttpRecorder::~HttpRecorder() {
  if (destroyed) *destroyed = true;
}

void HttpRecorder::OnComplete(long value) {
  ++completions;
  result = value;
  SetEvent(done_.Get());
}

void HttpRecorder::OnHttpHeader(downloader::HttpHeader&& header) {
  RecordedHeader copy;
  copy.statusCode = header.statusCode;
  copy.etag.assign(header.etag.Get(), header.etag.Length());
  copy.offset = header.offset;
  copy.size = header.size;
  copy.total = header.total;
  headers.push_back(copy);
  SetEvent(headerSeen_.Get());
}

void HttpRecorder::OnData(const downloader::Buffer& data) {
  if (headers.empty()) dataBeforeHeader = true;
  ++dataCalls;
  if (data.size > largestPiece) largestPiece = data.size;
  body.append(reinterpret_cast<const char*>(data.data), data.size);
}

bool HttpRecorder::WaitDone(DWORD milliseconds) const {
  return WaitForSingleObject(done_.Get(), milliseconds) == WAIT_OBJECT_0;
}

bool HttpRecorder::WaitHeader(DWORD milliseconds) const {
  return WaitForSingleObject(headerSeen_.Get(), milliseconds) == WAIT_OBJECT_0;
}

FileRecorder* FileRecorder::Create() { return downloader::details::Object<FileRecorder>::Create(); }
FileRecorder::FileRecorder() : done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
FileRecorder::~FileRecorder() = default;

void FileRecorder::OnComplete(long value) {
  ++completions;
  result = value;
  SetEvent(done_.Get());
}

void FileRecorder::OnProgress(int64_t offset, int64_t length) { progress.push_back({offset, length}); }

bool FileRecorder::WaitDone(DWORD milliseconds) const {
  return WaitForSingleObject(done_.Get(), milliseconds) == WAIT_OBJECT_0;
}

MemRecorder* MemRecorder::Create() { return downloader::details::Object<MemRecorder>::Create(); }
MemRecorder::MemRecorder() : done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
MemRecorder::~MemRecorder() = default;

void MemRecorder::OnComplete(downloader::HttpToMemResult&& value) {
  ++completions;
  result = value.result;
  body = std::move(value.buffer);
  SetEvent(done_.Get());
}

bool MemRecorder::WaitDone(DWORD milliseconds) const {
  return WaitForSingleObject(done_.Get(), milliseconds) == WAIT_OBJECT_0;
}

void EngineTest::SetUp() {
  liveObjectsBefore_ = downloader::details::LiveObjectCount();
  std::string error;
  ASSERT_TRUE(LoadServers(servers_, error)) << error;
  log_ = std::make_unique<stubframework::debug::InstallerLog>();
  ASSERT_FALSE(log_->FilePath().empty());
  logger_ = stubframework::debug::DownloadLogger::Create(log_.get());
  ASSERT_NE(logger_, nullptr);
}

void EngineTest::TearDown() {
  if (logger_) logger_->Release();
  logger_ = nullptr;
  // A task gives back its self-reference just after its callback returned, on WinINet's thread.
  for (int i = 0; i < 500 && downloader::details::LiveObjectCount() != liveObjectsBefore_; ++i) Sleep(10);
  bool balanced = downloader::details::LiveObjectCount() == liveObjectsBefore_;
  EXPECT_TRUE(balanced) << "engine objects leaked: " << downloader::details::LiveObjectCount() - liveObjectsBefore_;
  // A leaked task may still log: then its installer log must stay.
  if (balanced) log_.reset();
  else log_.release();
}

std::string EngineTest::NewTag() {
  static std::atomic<int> counter{0};
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  return std::string(test->name()) + "-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(++counter);
}

std::vector<ServerRequest> EngineTest::RequestsWithTag(const std::string& tag) const {
  std::vector<ServerRequest> requests;
  std::istringstream lines(testsupport::ReadFileBytes(servers_.requestsLog));
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::istringstream parts(line);
    std::string field;
    while (std::getline(parts, field, '\t')) fields.push_back(field);
    if (fields.size() != 5 || fields[0] != tag) continue;
    ServerRequest request;
    request.number = atoi(fields[1].c_str());
    request.target = fields[2];
    request.range = fields[3];
    request.ifRange = fields[4];
    requests.push_back(request);
  }
  return requests;
}

std::string EngineTest::ServedFile(const std::wstring& name) const {
  return testsupport::ReadFileBytes(servers_.docroot + name);
}

std::string EngineTest::LogText() const { return testsupport::ReadFileBytes(log_->FilePath()); }

}  // namespace enginetest
