#include "downloader/HttpTask.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "downloader/HttpAddress.h"
#include "downloader/Redirect.h"
#include "downloader/ResultCodes.h"

namespace downloader {
namespace {

// WinINet would follow redirects without a bound, and closing the request does not stop it there:
// the task follows them itself.
constexpr DWORD kHttpFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION |
                             INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_AUTO_REDIRECT;
constexpr DWORD kHttpsFlags = kHttpFlags | INTERNET_FLAG_SECURE;
static_assert(kHttpFlags == 0x84600200 && kHttpsFlags == 0x84E00200, "request flags");
constexpr DWORD kAddOrReplace = HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE;
static_assert(kAddOrReplace == 0xA0000000, "header flags");

struct FreeBlock {
  void operator()(void* block) const { free(block); }
};
using Block = std::unique_ptr<char, FreeBlock>;

// A validator that came from a response or a caller goes into a request header: control
// characters would end that header and start others.
bool IsUsableEtag(const Text& etag) {
  for (size_t i = 0; i < etag.Length(); ++i) {
    unsigned char c = static_cast<unsigned char>(etag.Get()[i]);
    if (c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

const char* SkipBlanks(const char* text) {
  while (*text == ' ' || *text == '\t') ++text;
  return text;
}

// Reads a decimal number without sign; false on no digit or on overflow.
bool ReadNumber(const char*& text, int64_t& value) {
  if (*text < '0' || *text > '9') return false;
  value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    int digit = *text - '0';
    if (value > (INT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return true;
}

// "bytes first-last/total". The numbers must describe a range inside the resource; anything else
// is no usable content range.
bool ParseContentRange(const char* text, int64_t& first, int64_t& last, int64_t& total) {
  static const char kUnit[] = "bytes";
  for (const char* unit = kUnit; *unit; ++unit, ++text)
    if (*text != *unit) return false;
  text = SkipBlanks(text);
  if (!ReadNumber(text, first) || *text++ != '-') return false;
  if (!ReadNumber(text, last) || *text++ != '/') return false;
  if (!ReadNumber(text, total)) return false;
  if (*SkipBlanks(text) != '\0') return false;
  return first <= last && last < total;
}

}  // namespace

HttpTask::HttpTask(HttpRange&& range, IHttpCallback* callback, ILogger* logger)
    : offset_(range.offset),
      size_(range.size),
      etag_(std::move(range.etag)),
      callback_(callback),
      logger_(stubframework::utils::ComRef<ILogger>::Share(logger)) {
  callback_->AddRef();
}

// The callback is handed over with an atomic exchange, which the raw pointer allows.
HttpTask::~HttpTask() {
  if (callback_) callback_->Release();
}

ITask* CreateHttpTask(const wchar_t* url, HttpRange&& range, IHttpCallback* callback,
                      ILogger* logger) {
  if (!url || !callback || !logger) return nullptr;
  stubframework::utils::ComRef<HttpTask> task(details::Object<HttpTask>::Create(std::move(range), callback, logger));
  if (!task || !task->url_.Assign(url)) return nullptr;
  return task.Detach();
}

void HttpTask::Start() {
  if (!BeginStart()) return;
  // The callback may drop the last outside reference while this call still runs.
  AddRef();
  logger_->Log(L"HttpTask::Start", L"Start %s (OFFSET:%lld,SIZE:%lld,ETAG:%S).", url_.Get(), offset_,
               size_, etag_.Get());
  long hr = kResultOk;
  if (offset_ < 0 || size_ < 0 || offset_ > INT64_MAX - size_) {
    logger_->Log(L"HttpTask::Start", L"Invalid range (OFFSET:%lld,SIZE:%lld).", offset_, size_);
    hr = kResultInvalidArgument;
  }
  if (hr == kResultOk) hr = CreateSession();
  if (hr == kResultOk) hr = Connect();
  if (hr != kResultOk) {
    if (session_) {
      InternetCloseHandle(session_);
      session_ = nullptr;
    }
    IHttpCallback* callback = std::exchange(callback_, nullptr);
    callback->OnComplete(hr);
    callback->Release();
    Release();
    return;
  }
  AddRef();  // the self-reference, given back by the final completion
  if (size_ == 0 || SetRange()) SendRequest();
  Leave();
  Release();
}

void HttpTask::Cancel() {
  logger_->Log(L"HttpTask::Cancel", L"Cancel");
  Finish(kResultCancelled);
}

long HttpTask::CreateSession() {
  Text agent;
  HRESULT hr = BrowserUserAgent(agent);
  if (FAILED(hr)) {
    logger_->Log(L"HttpTask::CreateSession", L"ObtainUserAgentString failed: 0x%08X.", hr);
    return hr;
  }
  session_ = InternetOpenA(agent.Get(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC);
  if (!session_) {
    DWORD error = GetLastError();
    logger_->Log(L"HttpTask::CreateSession", L"InternetOpenA failed: %u.", error);
    return ResultFromError(error);
  }
  SetTimeouts(session_);
  return kResultOk;
}

// Wine's WinINet takes the time-outs only from the request handle, where Windows inherits them
// from the session: both get them.
void HttpTask::SetTimeouts(HINTERNET handle) {
  DWORD connectTimeout = 60000, sendTimeout = 30000, receiveTimeout = 30000;
  InternetSetOptionA(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connectTimeout, sizeof(DWORD));
  InternetSetOptionA(handle, INTERNET_OPTION_SEND_TIMEOUT, &sendTimeout, sizeof(DWORD));
  InternetSetOptionA(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveTimeout, sizeof(DWORD));
}

long HttpTask::Connect() {
  HttpAddress address;
  DWORD split = SplitHttpUrl(url_.Get(), 0, address);
  if (split != ERROR_SUCCESS) {
    logger_->Log(L"HttpTask::Connect", L"Unusable URL: %u.", split);
    return ResultFromError(split);
  }
  DWORD flags = address.secure ? kHttpsFlags : kHttpFlags;

  connection_ = InternetConnectW(session_, address.host, address.port, *address.user ? address.user : nullptr,
                                 *address.password ? address.password : nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  if (!connection_) {
    DWORD error = GetLastError();
    logger_->Log(L"HttpTask::Connect", L"InternetConnectW failed: %u.", error);
    return ResultFromError(error);
  }
  request_ = HttpOpenRequestW(connection_, nullptr, address.object, nullptr, nullptr, nullptr, flags,
                              reinterpret_cast<DWORD_PTR>(this));
  DWORD error = ERROR_SUCCESS;
  if (!request_) {
    error = GetLastError();
    logger_->Log(L"HttpTask::Connect", L"HttpOpenRequestW failed: %u.", error);
  } else if (InternetSetStatusCallbackA(request_, &HttpTask::InternetStatusCallback) ==
             INTERNET_INVALID_STATUS_CALLBACK) {
    // Without notifications the task would never hear of its request again.
    error = GetLastError();
    logger_->Log(L"HttpTask::Connect", L"InternetSetStatusCallbackA failed: %u.", error);
    InternetCloseHandle(request_);
    request_ = nullptr;
  }
  if (error != ERROR_SUCCESS) {
    InternetCloseHandle(connection_);
    connection_ = nullptr;
    return ResultFromError(error);
  }
  SetTimeouts(request_);
  return kResultOk;
}

bool HttpTask::SetRange() {
  char header[64];
  snprintf(header, sizeof(header), "Range: bytes=%lld-%lld", static_cast<long long>(offset_),
           static_cast<long long>(offset_ + size_ - 1));
  if (!HttpAddRequestHeadersA(request_, header, static_cast<DWORD>(-1), kAddOrReplace)) {
    DWORD error = GetLastError();
    logger_->Log(L"HttpTask::SetRange", L"HttpAddRequestHeadersA failed: %u.", error);
    Finish(ResultFromError(error));
    return false;
  }
  logger_->Log(L"HttpTask::SetRange", L"%S", header);
  return etag_.IsEmpty() || SetIfRange();
}

bool HttpTask::SetIfRange() {
  if (!IsUsableEtag(etag_)) {
    logger_->Log(L"HttpTask::SetIfRange", L"Unusable ETag.");
    Finish(kResultInvalidArgument);
    return false;
  }
  static const char kName[] = "If-Range: ";
  const size_t nameLength = sizeof(kName) - 1;
  Block header(static_cast<char*>(malloc(nameLength + etag_.Length() + 1)));
  if (!header) {
    logger_->Log(L"HttpTask::SetIfRange", L"malloc(%u) failed.",
                 static_cast<unsigned>(nameLength + etag_.Length() + 1));
    Finish(kResultOutOfMemory);
    return false;
  }
  memcpy(header.get(), kName, nameLength);
  memcpy(header.get() + nameLength, etag_.Get(), etag_.Length() + 1);
  if (!HttpAddRequestHeadersA(request_, header.get(), static_cast<DWORD>(-1), kAddOrReplace)) {
    DWORD error = GetLastError();
    logger_->Log(L"HttpTask::SetIfRange", L"HttpAddRequestHeadersA failed: %u.", error);
    Finish(ResultFromError(error));
    return false;
  }
  logger_->Log(L"HttpTask::SetIfRange", L"%S", header.get());
  return true;
}

void HttpTask::SendRequest() {
  nextStep_ = &HttpTask::OnRequestSent;
  if (HttpSendRequestA(request_, nullptr, 0, nullptr, 0)) {
    OnRequestSent();
    return;
  }
  DWORD error = GetLastError();
  if (error == ERROR_IO_PENDING) return;
  logger_->Log(L"HttpTask::SendRequest", L"HttpSendRequestA failed: %u.", error);
  Finish(ResultFromError(error));
}

void CALLBACK HttpTask::InternetStatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status,
                                               void* info, DWORD length) {
  auto* task = reinterpret_cast<HttpTask*>(context);
  // A finishing task has told its callback or is about to: what WinINet reports afterwards belongs
  // to a request it let go, and only the handle's closing still matters.
  if (status != INTERNET_STATUS_HANDLE_CLOSING && task->IsFinishing()) return;
  switch (status) {
    case INTERNET_STATUS_RESOLVING_NAME:
      task->LogStatusText(L"INTERNET_STATUS_RESOLVING_NAME %S", info, length);
      break;
    case INTERNET_STATUS_NAME_RESOLVED:
      task->LogStatusText(L"INTERNET_STATUS_NAME_RESOLVED %S", info, length);
      break;
    case INTERNET_STATUS_CONNECTING_TO_SERVER:
      task->LogStatusText(L"INTERNET_STATUS_CONNECTING_TO_SERVER %S", info, length);
      break;
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
      task->LogStatusText(L"INTERNET_STATUS_CONNECTED_TO_SERVER %S", info, length);
      break;
    case INTERNET_STATUS_REDIRECT:
      task->LogStatusText(L"INTERNET_STATUS_REDIRECT %S", info, length);
      break;
    case INTERNET_STATUS_INTERMEDIATE_RESPONSE:
      task->logger_->Log(L"HttpTask::InternetStatusCallback", L"INTERNET_STATUS_INTERMEDIATE_RESPONSE");
      break;
    case INTERNET_STATUS_REQUEST_COMPLETE:
      task->OnRequestComplete(*static_cast<const INTERNET_ASYNC_RESULT*>(info));
      break;
    case INTERNET_STATUS_HANDLE_CLOSING:
      // The request left behind by a redirect closes too; only the current one ends the task.
      if (handle == task->request_) task->CompleteFinally();
      break;
    default:
      break;
  }
}

void HttpTask::LogStatusText(const wchar_t* format, const void* info, DWORD length) {
  // The text comes with its length; it is copied so that a missing terminator cannot be overrun.
  char text[256] = {};
  if (info) {
    size_t count = length < sizeof(text) - 1 ? length : sizeof(text) - 1;
    memcpy(text, info, count);
  }
  logger_->Log(L"HttpTask::InternetStatusCallback", format, text);
}

void HttpTask::OnRequestComplete(const INTERNET_ASYNC_RESULT& result) {
  if (result.dwResult) {
    if (TryEnter()) {
      (this->*nextStep_)();
      Leave();
    }
    return;
  }
  // The cancellation that closing the handle causes is expected; the result is already recorded.
  if (result.dwError == ERROR_INTERNET_OPERATION_CANCELLED) return;
  logger_->Log(L"HttpTask::InternetStatusCallback", L"INTERNET_STATUS_REQUEST_COMPLETE failed: %u.",
               result.dwError);
  Finish(ResultFromError(result.dwError));
}

// The callback hears of the end as soon as the request is closed. The handle's closing, which
// gives back the self-reference, may come much later: Wine's WinINet keeps a request that waits
// for an answer until the answer or a time-out comes, whatever the handle's state.
void HttpTask::Close() {
  // The closing notification may run inside InternetCloseHandle and give back the self-reference.
  AddRef();
  if (request_) InternetCloseHandle(request_);
  TellCallback();
  Release();
}

void HttpTask::TellCallback() {
  auto* callback = static_cast<IHttpCallback*>(
      InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&callback_), nullptr));
  if (!callback) return;
  callback->OnComplete(FinalResult());
  callback->Release();
}

void HttpTask::CompleteFinally() {
  InternetCloseHandle(connection_);
  connection_ = nullptr;
  InternetCloseHandle(session_);
  session_ = nullptr;
  TellCallback();
  Release();
}

void HttpTask::OnRequestSent() {
  int statusCode = GetStatusCode();
  if (FollowRedirect(statusCode)) return;
  ProcessHeader(statusCode);
  nextStep_ = &HttpTask::OnDataReady;
  QueryAvailable();
}

// A redirect is a new request to the place it names, on a connection of its own and with the
// same Range and If-Range. False when the answer is none (a redirect status without Location
// included): then it goes to the callback like any other answer.
bool HttpTask::FollowRedirect(int statusCode) {
  if (!IsRedirectStatus(statusCode)) return false;
  Text location;
  if (!GetHeader(HTTP_QUERY_LOCATION, location) || location.IsEmpty()) return false;
  // A task that finishes follows nothing; closing the request ends it.
  if (IsFinishing()) return true;
  if (++redirects_ > kMaxRedirects) {
    logger_->Log(L"HttpTask::FollowRedirect", L"Too many redirects: %d followed.", kMaxRedirects);
    Finish(kResultRedirectFailed);
    return true;
  }
  WideText target;
  long hr = ResolveRedirect(url_.Get(), location, target);
  if (hr != kResultOk) {
    logger_->Log(L"HttpTask::FollowRedirect", L"Unusable redirect %S: 0x%08X.", location.Get(), hr);
    Finish(hr);
    return true;
  }
  logger_->Log(L"HttpTask::FollowRedirect", L"Redirect %d to %s.", statusCode, target.Get());
  HINTERNET previousRequest = std::exchange(request_, nullptr);
  HINTERNET previousConnection = std::exchange(connection_, nullptr);
  url_ = std::move(target);
  hr = Connect();
  if (hr != kResultOk) {
    // The close action needs a request to close.
    request_ = previousRequest;
    connection_ = previousConnection;
    Finish(hr);
    return true;
  }
  InternetCloseHandle(previousRequest);
  InternetCloseHandle(previousConnection);
  if (size_ == 0 || SetRange()) SendRequest();
  return true;
}

void HttpTask::OnDataReady() {
  if (ProcessData()) QueryAvailable();
}

void HttpTask::OnAnnouncedRead() {
  if (ReadRest()) QueryAvailable();
}

void HttpTask::ProcessHeader(int statusCode) {
  HttpHeader header;
  header.statusCode = statusCode;
  // An ETag that cannot go back into a request is no validator at all.
  if (GetHeader(HTTP_QUERY_ETAG, header.etag) && !IsUsableEtag(header.etag)) header.etag.Clear();
  GetContentRange(header);
  if (header.total < 0) {
    header.total = GetContentLength();
    if (header.total > 0) header.size = header.total;
  }
  logger_->Log(L"HttpTask::ProcessHeader", L"%d (OFFSET:%lld SIZE:%lld TOTAL:%lld ETAG:%S).",
               header.statusCode, header.offset, header.size, header.total, header.etag.Get());
  callback_->OnHttpHeader(std::move(header));
}

int HttpTask::GetStatusCode() {
  DWORD code = 0;
  DWORD size = sizeof(code);
  if (!HttpQueryInfoA(request_, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size, nullptr)) {
    logger_->Log(L"HttpTask::GetStatusCode", L"HttpQueryInfoA failed %u.", GetLastError());
    return -1;
  }
  return code > INT_MAX ? -1 : static_cast<int>(code);
}

void HttpTask::GetContentRange(HttpHeader& header) {
  header.offset = 0;
  header.size = 0;
  header.total = -1;
  Text text;
  if (!GetHeader(HTTP_QUERY_CONTENT_RANGE, text) || text.IsEmpty()) return;
  int64_t first, last, total;
  if (ParseContentRange(text.Get(), first, last, total)) {
    header.offset = first;
    header.size = last - first + 1;
    header.total = total;
    return;
  }
  logger_->Log(L"HttpTask::GetContentRange", L"Unknown content range %S.", text.Get());
}

int64_t HttpTask::GetContentLength() {
  // Read as text and checked here: WinINet's 64-bit number query is not available everywhere
  // (Wine answers it with an error), and a length that is no plain decimal number is unknown.
  Text text;
  if (!GetHeader(HTTP_QUERY_CONTENT_LENGTH, text)) return -1;
  const char* cursor = SkipBlanks(text.Get());
  int64_t length;
  if (!ReadNumber(cursor, length) || *SkipBlanks(cursor) != '\0') return -1;
  return length;
}

bool HttpTask::GetHeader(DWORD level, Text& value) {
  value.Clear();
  Block block;
  DWORD capacity = 0;
  // A header does not grow between two queries; the bound only guards against a WinINet that
  // keeps asking for more.
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD length = capacity;
    if (HttpQueryInfoA(request_, level, block.get(), &length, nullptr)) {
      // On success the length counts the characters without their terminator.
      if (block && length <= capacity) value.Adopt(block.release(), length);
      return true;
    }
    DWORD error = GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER) {
      if (error != ERROR_HTTP_HEADER_NOT_FOUND)
        logger_->Log(L"HttpTask::GetHeader", L"HttpQueryInfoA failed: %u", error);
      return false;
    }
    if (length <= capacity) return false;
    capacity = length;
    block.reset(static_cast<char*>(malloc(capacity + 1)));
    if (!block) {
      logger_->Log(L"HttpTask::GetHeader", L"malloc(%u) failed.", capacity);
      return false;
    }
  }
  return false;
}

void HttpTask::QueryAvailable() {
  // A task that finishes stops reading: what is still in transit belongs to nobody.
  while (!IsFinishing()) {
    nextStep_ = &HttpTask::OnDataReady;
    if (InternetQueryDataAvailable(request_, &available_, 0, 0)) {
      if (!ProcessData()) return;
      continue;
    }
    DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) return;
    logger_->Log(L"HttpTask::QueryAvailable", L"InternetQueryDataAvailable failed: %u.", error);
    Finish(ResultFromError(error));
    return;
  }
}

// A piece is what WinINet announced as available, read in full, and then in a second read
// whatever else has arrived, without waiting. Both go out through the one reused block.
bool HttpTask::ProcessData() {
  if (available_ == 0) {
    logger_->Log(L"HttpTask::ProcessData", L"Complete.");
    Finish(kResultOk);
    return false;
  }
  size_t capacity = available_ > kPieceSize ? available_ : kPieceSize;
  if (buffer_.Capacity() < capacity && !buffer_.SetSize(capacity)) {
    logger_->Log(L"HttpTask::ProcessData", L"Buffer::SetSize(%u) failed.", static_cast<unsigned>(capacity));
    Finish(kResultOutOfMemory);
    return false;
  }
  nextStep_ = &HttpTask::OnAnnouncedRead;
  if (Read(available_, IRF_ASYNC) != ReadOutcome::kDone) return false;
  return ReadRest();
}

bool HttpTask::ReadRest() {
  if (read_.dwBufferLength < available_) {
    logger_->Log(L"HttpTask::ProcessData", L"InternetReadFile doesn't read all data.");
    Finish(kResultShortRead);
    return false;
  }
  if (!Deliver(read_.dwBufferLength)) return false;
  // A no-wait read that finds nothing waiting completes later without having read anything: it
  // only tells that data arrived, which the next query then announces. WinINet leaves its count
  // at the length asked for, so that count is no byte count and nothing is handed on for it.
  nextStep_ = &HttpTask::QueryAvailable;
  if (Read(static_cast<DWORD>(buffer_.Capacity()), IRF_ASYNC | IRF_NO_WAIT) != ReadOutcome::kDone)
    return false;
  return read_.dwBufferLength == 0 || Deliver(read_.dwBufferLength);
}

HttpTask::ReadOutcome HttpTask::Read(DWORD length, DWORD flags) {
  read_ = {};
  read_.dwStructSize = sizeof(read_);
  read_.lpvBuffer = buffer_.data;
  read_.dwBufferLength = length;
  if (InternetReadFileExA(request_, &read_, flags, reinterpret_cast<DWORD_PTR>(this)))
    return ReadOutcome::kDone;
  DWORD error = GetLastError();
  if (error == ERROR_IO_PENDING) return ReadOutcome::kPending;
  logger_->Log(L"HttpTask::ProcessData", L"InternetReadFile failed: %u.", error);
  Finish(ResultFromError(error));
  return ReadOutcome::kFailed;
}

bool HttpTask::Deliver(size_t length) {
  if (IsFinishing()) return false;
  buffer_.SetLength(length);
  callback_->OnData(buffer_);
  return true;
}

}  // namespace downloader
