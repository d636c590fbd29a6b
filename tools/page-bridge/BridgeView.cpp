#include "page-bridge/BridgeView.h"

#include <dispex.h>
#include <shlwapi.h>

#include <cstdio>

#include "core/ComRef.h"
#include "core/ComValue.h"
#include "core/MessagePump.h"
#include "core/TextFormat.h"
#include "core/UniqueHandle.h"
#include "htmlui/HtmlExternal.h"
#include "methods/ExternalMethods.h"

namespace pagebridge {
namespace {

using stubframework::utils::Bstr;
using stubframework::utils::ComRef;
using stubframework::utils::FileHandle;
using stubframework::utils::KernelHandle;
using stubframework::utils::Variant;

constexpr UINT kCallMessage = WM_APP + 1;
const wchar_t kMessageWindowClass[] = L"HalvernPageBridge";

// {6F1E2A40-3B7C-4D25-9A61-0C8E5B2F7D13}: answers with the page object itself.
const IID kPageObjectIid = {0x6f1e2a40, 0x3b7c, 0x4d25, {0x9a, 0x61, 0x0c, 0x8e, 0x5b, 0x2f, 0x7d, 0x13}};

// A function (or any object) of one page, held by the native side: calling it with DISPID 0
// runs it in the page.
class PageObject final : public IDispatch {
 public:
  PageObject(BridgeView* view, int generation, int id) : view_(view), generation_(generation), id_(id) {}
  int Generation() const { return generation_; }
  int Id() const { return id_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == kPageObjectIid) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) override {
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO*, UINT*) override {
    if (id != DISPID_VALUE || !(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
    if (result) VariantInit(result);
    return view_->CallPage(generation_, id_, params);
  }

 private:
  ~PageObject() = default;
  BridgeView* view_;
  int generation_;
  int id_;
  LONG references_ = 1;
};

LRESULT CALLBACK MessageWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kCallMessage) {
    auto* view = reinterpret_cast<BridgeView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    view->Perform(reinterpret_cast<PendingCall*>(lParam));
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

std::string RandomToken() {
  GUID guid;
  CoCreateGuid(&guid);
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  char text[64];
  snprintf(text, sizeof(text), "%08lx%04x%04x%02x%02x%02x%02x%02x%02x%02x%02x%08lx",
           static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
           guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7],
           static_cast<unsigned long>(counter.LowPart));
  return text;
}

const char* ContentType(const std::wstring& path) {
  static const struct {
    const wchar_t* extension;
    const char* type;
  } kTypes[] = {{L".html", "text/html; charset=utf-8"}, {L".htm", "text/html; charset=utf-8"},
                {L".js", "text/javascript; charset=utf-8"}, {L".css", "text/css; charset=utf-8"},
                {L".json", "application/json"}, {L".png", "image/png"}, {L".jpg", "image/jpeg"},
                {L".gif", "image/gif"}, {L".svg", "image/svg+xml"}, {L".ico", "image/x-icon"},
                {L".woff", "font/woff"}, {L".woff2", "font/woff2"}, {L".ttf", "font/ttf"},
                {L".txt", "text/plain; charset=utf-8"}};
  const wchar_t* extension = PathFindExtensionW(path.c_str());
  for (const auto& entry : kTypes)
    if (_wcsicmp(extension, entry.extension) == 0) return entry.type;
  return "application/octet-stream";
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size;
  if (!file.Valid() || !GetFileSizeEx(file.Get(), &size) || size.QuadPart > 64 * 1024 * 1024) return false;
  bytes.resize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  return bytes.empty() || (ReadFile(file.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) &&
                           read == bytes.size());
}

std::string ErrorJson(HRESULT hr, const std::wstring& description) {
  std::wstring message = description;
  if (message.empty()) {
    wchar_t* text = nullptr;
    if (FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr) &&
        text) {
      message = text;
      LocalFree(text);
      while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r')) message.pop_back();
    }
  }
  if (message.empty()) {
    wchar_t code[16];
    swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    message = code;
  }
  return "{\"ok\":false,\"hresult\":" + std::to_string(static_cast<long>(hr)) +
         ",\"message\":" + JsonString(message) + "}";
}

HttpResponse JsonResponse(const std::string& body) { return HttpResponse{200, "application/json", body}; }

// Answers the first message box this process shows while armed, as an unattended user would.
struct BoxAnswer {
  HANDLE stop;
};

BOOL CALLBACK PressOkOnOwnBox(HWND window, LPARAM found) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  wchar_t className[16] = {};
  GetClassNameW(window, className, 16);
  if (process != GetCurrentProcessId() || !IsWindowVisible(window) || wcscmp(className, L"#32770") != 0) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

DWORD WINAPI BoxAnswerThreadFunc(void* parameter) {
  auto* answer = static_cast<BoxAnswer*>(parameter);
  while (WaitForSingleObject(answer->stop, 1000) == WAIT_TIMEOUT) {
    HWND box = nullptr;
    EnumWindows(PressOkOnOwnBox, reinterpret_cast<LPARAM>(&box));
    if (!box) continue;
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    printf("bridge: message box answered OK\n");
    fflush(stdout);
    break;
  }
  return 0;
}

}  // namespace

void PendingCall::Release() {
  if (InterlockedDecrement(&references) != 0) return;
  CloseHandle(done);
  delete this;
}

bool ResolvePagePath(const std::string& requestPath, std::wstring& relative) {
  std::string decoded;
  for (size_t i = 0; i < requestPath.size(); ++i) {
    char c = requestPath[i];
    if (c == '%') {
      if (i + 2 >= requestPath.size() || !isxdigit(static_cast<unsigned char>(requestPath[i + 1])) ||
          !isxdigit(static_cast<unsigned char>(requestPath[i + 2])))
        return false;
      c = static_cast<char>(strtoul(requestPath.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    }
    if (c == '\0' || c == '\\' || c == ':') return false;
    decoded += c;
  }
  if (decoded.empty() || decoded[0] == '/') return false;
  relative = stubframework::utils::Utf8ToWide(decoded);
  size_t start = 0;
  for (;;) {
    size_t end = relative.find(L'/', start);
    std::wstring element = relative.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    // Windows drops trailing dots and blanks, so "..." and ". " are ".." and "." in disguise.
    if (element.empty() || element.find_first_not_of(L". ") == std::wstring::npos) return false;
    if (end == std::wstring::npos) break;
    start = end + 1;
  }
  for (wchar_t& c : relative) c = c == L'/' ? L'\\' : c;
  return true;
}

std::string InjectScript(const std::string& page, const std::string& tag) {
  auto afterTag = [&page](const char* name) -> size_t {
    std::string lower = page;
    for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    size_t length = strlen(name);
    for (size_t at = lower.find(name); at != std::string::npos; at = lower.find(name, at + 1)) {
      char next = at + length < lower.size() ? lower[at + length] : '\0';
      if (next == '>' || next == ' ' || next == '\t' || next == '\r' || next == '\n') {
        size_t close = lower.find('>', at);
        return close == std::string::npos ? std::string::npos : close + 1;
      }
    }
    return std::string::npos;
  };
  size_t at = afterTag("<head");
  if (at == std::string::npos) at = afterTag("<html");
  if (at == std::string::npos) at = 0;
  return page.substr(0, at) + tag + page.substr(at);
}

BridgeView::BridgeView(BridgeOptions options) : options_(std::move(options)), token_(RandomToken()) {
  closedEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  wakeEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

std::string BridgeView::PageUrl() {
  if (!serverStarted_) return "";
  return "http://127.0.0.1:" + std::to_string(server_.Port()) + "/" + token_ + "/Load.html";
}

bool BridgeView::Open(HWND window, const wchar_t* pagePath, stubframework::core::HtmlExternal* external) {
  wchar_t folder[MAX_PATH] = {};
  lstrcpynW(folder, pagePath, MAX_PATH);
  PathRemoveFileSpecW(folder);
  folder_ = options_.packageFolder.empty() ? folder : options_.packageFolder;
  if (folder_.empty() || folder_.back() != L'\\') folder_ += L'\\';
  external_ = external;

  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = MessageWindowProcedure;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kMessageWindowClass;
  RegisterClassExW(&windowClass);
  messageWindow_ = CreateWindowExW(0, kMessageWindowClass, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   GetModuleHandleW(nullptr), nullptr);
  if (!messageWindow_) return false;
  SetWindowLongPtrW(messageWindow_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  if (!serverStarted_) {
    serverStarted_ = server_.Start(options_.port, this);
    if (!serverStarted_) {
      fprintf(stderr, "bridge: cannot listen on 127.0.0.1:%u\n", options_.port);
      return false;
    }
  }
  {
    std::lock_guard<std::mutex> hold(lock_);
    window_ = window;
    open_ = true;
    ResetEvent(closedEvent_);
  }
  Announce();
  return true;
}

void BridgeView::Announce() {
  std::string url = PageUrl();
  printf("bridge: ready %s\n", url.c_str());
  fflush(stdout);
  if (const wchar_t* file = _wgetenv(L"HALVERN_BRIDGE_URL_FILE")) {
    if (FILE* out = _wfopen(file, L"wb")) {
      fprintf(out, "%s\n", url.c_str());
      fclose(out);
    }
  }
}

void BridgeView::Close() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    open_ = false;
    closed_ = true;
    window_ = nullptr;
    RetireEvents(generation_ + 1);
  }
  eventQueued_.notify_all();
  SetEvent(closedEvent_);
  SetEvent(wakeEvent_);
  if (messageWindow_) DestroyWindow(messageWindow_);
  messageWindow_ = nullptr;
}

void BridgeView::RetireEvents(int current) {
  for (auto it = queue_.begin(); it != queue_.end();) {
    if ((*it)->generation >= current) {
      ++it;
      continue;
    }
    (*it)->finished = true;
    (*it)->result = kFreedScript;
    it = queue_.erase(it);
  }
  for (auto it = inFlight_.begin(); it != inFlight_.end();) {
    if (it->second->generation >= current) {
      ++it;
      continue;
    }
    it->second->finished = true;
    it = inFlight_.erase(it);
  }
}

HttpResponse BridgeView::Handle(const HttpRequest& request) {
  std::string prefix = "/" + token_ + "/";
  if (request.path.compare(0, prefix.size(), prefix) != 0)
    return HttpResponse{403, "text/plain; charset=utf-8", "refused: no token"};
  std::string rest = request.path.substr(prefix.size());
  auto origin = request.headers.find("origin");
  if (origin != request.headers.end() && origin->second != "http://127.0.0.1:" + std::to_string(server_.Port()))
    return HttpResponse{403, "text/plain; charset=utf-8", "refused: foreign origin"};
  if (rest.compare(0, 11, "__bridge__/") != 0) {
    if (request.method != "GET") return HttpResponse{405, "text/plain; charset=utf-8", "GET only"};
    return Static(rest);
  }
  std::string endpoint = rest.substr(11);
  if (endpoint == "bridge.js") return HttpResponse{200, "text/javascript; charset=utf-8", options_.script};
  if (endpoint == "status") return JsonResponse(Status());
  if (request.method != "POST") return HttpResponse{405, "text/plain; charset=utf-8", "POST only"};
  if (endpoint == "call") return Call(request.body);
  JsonValue body;
  if (!ParseJson(request.body, body) || body.type != JsonValue::kObject)
    return HttpResponse{400, "text/plain; charset=utf-8", "not a JSON object"};
  if (endpoint == "hello") return Hello(body);
  if (endpoint == "poll") return Poll(body);
  return HttpResponse{404, "text/plain; charset=utf-8", "no such endpoint"};
}

HttpResponse BridgeView::Static(const std::string& relative) {
  std::wstring path;
  std::string bytes;
  if (folder_.empty() || !ResolvePagePath(relative, path) || !ReadWholeFile(folder_ + path, bytes))
    return HttpResponse{404, "text/plain; charset=utf-8", "not found"};
  const char* type = ContentType(path);
  if (strncmp(type, "text/html", 9) == 0)
    bytes = InjectScript(bytes, "<script src=\"/" + token_ + "/__bridge__/bridge.js\"></script>");
  return HttpResponse{200, type, bytes};
}

HttpResponse BridgeView::Hello(const JsonValue& body) {
  int generation;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (!open_) return JsonResponse("{\"closed\":true}");
    generation = ++generation_;
    page_ = body[L"title"].text;
    RetireEvents(generation);
  }
  eventQueued_.notify_all();
  SetEvent(wakeEvent_);
  std::string names;
  for (const auto& entry : external_->GetMethods()->Methods())
    names += (names.empty() ? "" : ",") + JsonString(entry.first);
  return JsonResponse("{\"generation\":" + std::to_string(generation) + ",\"methods\":[" + names +
                      "],\"window\":" + WindowState() + "}");
}

HttpResponse BridgeView::Poll(const JsonValue& body) {
  int generation = JsonInt(body[L"generation"], -1);
  std::unique_lock<std::mutex> hold(lock_);
  if (JsonInt(body[L"done"], -1) >= 0) {
    auto found = inFlight_.find(JsonInt(body[L"done"], -1));
    if (found != inFlight_.end()) {
      found->second->finished = true;
      found->second->result = body[L"failed"].boolean ? DISP_E_EXCEPTION : S_OK;
      inFlight_.erase(found);
      SetEvent(wakeEvent_);
    }
  }
  if (generation == generation_ && !body[L"title"].text.empty()) page_ = body[L"title"].text;
  auto current = [&]() { return open_ && generation == generation_; };
  eventQueued_.wait_for(hold, std::chrono::milliseconds(kPollHoldMs),
                        [&]() { return !current() || !queue_.empty(); });
  if (!current()) return JsonResponse("{\"stale\":true}");
  if (queue_.empty()) return JsonResponse("{\"event\":null}");
  std::shared_ptr<PageEvent> event = queue_.front();
  queue_.pop_front();
  event->delivered = true;
  inFlight_[event->id] = event;
  return JsonResponse("{\"event\":{\"id\":" + std::to_string(event->id) + ",\"fn\":" +
                      std::to_string(event->function) + ",\"args\":" + event->arguments + "}}");
}

HttpResponse BridgeView::Call(const std::string& body) {
  auto* call = new PendingCall;
  call->request = body;
  call->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  bool posted = false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    posted = open_ && call->done && PostMessageW(messageWindow_, kCallMessage, 0, reinterpret_cast<LPARAM>(call));
  }
  if (!posted) {
    call->Release();
    call->Release();
    return JsonResponse(ErrorJson(kFreedScript, L"the window has closed"));
  }
  HANDLE waits[2] = {call->done, closedEvent_};
  DWORD which = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  std::string response = which == WAIT_OBJECT_0 ? call->response : ErrorJson(kFreedScript, L"the window has closed");
  // A message never dispatched because the window went keeps its reference: a few bytes at the
  // end of the run.
  call->Release();
  return JsonResponse(response);
}

void BridgeView::Perform(PendingCall* call) {
  JsonValue request;
  if (!ParseJson(call->request, request) || request.type != JsonValue::kObject)
    call->response = ErrorJson(E_INVALIDARG, L"not a JSON object");
  else
    call->response = Invoke(request);
  SetEvent(call->done);
  call->Release();
}

std::string BridgeView::Invoke(const JsonValue& request) {
  int generation = JsonInt(request[L"generation"], -1);
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (!open_ || generation != generation_) return ErrorJson(kFreedScript, L"");
  }
  const std::wstring& op = request[L"op"].text;
  const std::wstring& name = request[L"name"].text;
  IDispatchEx* external = external_;
  Bstr member(name);
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr;
  if (op == L"delete") {
    hr = external->DeleteMemberByName(member.Get(), fdexNameCaseSensitive);
    if (FAILED(hr)) return ErrorJson(hr, L"");
    return std::string("{\"ok\":true,\"value\":") + (hr == S_OK ? "true" : "false") + "}";
  }
  hr = external->GetDispID(member.Get(), fdexNameCaseSensitive | (op == L"put" ? fdexNameEnsure : 0), &id);
  if (FAILED(hr)) return ErrorJson(hr, L"");

  std::vector<VARIANT> arguments;
  const std::vector<JsonValue> none;
  const std::vector<JsonValue>& items = op == L"call" ? request[L"args"].items : none;
  // The last script argument first, as engines pass them.
  for (auto it = items.rbegin(); it != items.rend(); ++it) {
    arguments.emplace_back();
    ToVariant(*it, generation, arguments.back());
  }
  if (op == L"put") {
    arguments.emplace_back();
    ToVariant(request[L"value"], generation, arguments.back());
  }
  WORD flags = op == L"call"  ? static_cast<WORD>(JsonInt(request[L"flags"], 0))
               : op == L"put" ? static_cast<WORD>(DISPATCH_PROPERTYPUT)
                              : static_cast<WORD>(DISPATCH_PROPERTYGET);
  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS params = {arguments.empty() ? nullptr : arguments.data(), op == L"put" ? &putId : nullptr,
                       static_cast<UINT>(arguments.size()), op == L"put" ? 1u : 0u};
  Variant result;
  EXCEPINFO exception = {};

  bool box = op == L"call" && (name == L"messageBox" || name == L"confirmMessageBox");
  KernelHandle answerThread;
  KernelHandle answerStop;
  BoxAnswer answer = {nullptr};
  if (box) {
    std::lock_guard<std::mutex> hold(lock_);
    boxes_.push_back((items.size() > 0 ? items[0].text : L"") + L" | " + (items.size() > 1 ? items[1].text : L""));
  }
  if (box && options_.answerBoxes) {
    answerStop.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    answer.stop = answerStop.Get();
    answerThread.Reset(CreateThread(nullptr, 0, BoxAnswerThreadFunc, &answer, 0, nullptr));
  }
  ++callDepth_;
  hr = external->InvokeEx(id, LOCALE_USER_DEFAULT, flags, &params, result.Get(), &exception, nullptr);
  --callDepth_;
  if (answerThread.Valid()) {
    SetEvent(answer.stop);
    WaitForSingleObject(answerThread.Get(), INFINITE);
  }

  for (VARIANT& argument : arguments) VariantClear(&argument);
  std::string response;
  if (FAILED(hr)) {
    std::wstring description = exception.bstrDescription ? exception.bstrDescription : L"";
    response = ErrorJson(hr == DISP_E_EXCEPTION && exception.scode ? exception.scode : hr, description);
  } else {
    response = "{\"ok\":true,\"value\":" + FromVariant(*result, generation) + ",\"window\":" + WindowState() + "}";
  }
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
  return response;
}

bool BridgeView::ToVariant(const JsonValue& value, int generation, VARIANT& out) {
  VariantInit(&out);
  switch (value.type) {
    case JsonValue::kNull:
      out.vt = VT_NULL;
      return true;
    case JsonValue::kBool:
      out.vt = VT_BOOL;
      out.boolVal = value.boolean ? VARIANT_TRUE : VARIANT_FALSE;
      return true;
    case JsonValue::kNumber:
      // Script numbers that are whole and fit 32 bits travel as VT_I4, as the engines pass them.
      if (JsonInt(value, 0) == value.number) {
        out.vt = VT_I4;
        out.lVal = JsonInt(value, 0);
      } else {
        out.vt = VT_R8;
        out.dblVal = value.number;
      }
      return true;
    case JsonValue::kString:
      out.vt = VT_BSTR;
      out.bstrVal = SysAllocStringLen(value.text.data(), static_cast<UINT>(value.text.size()));
      return true;
    case JsonValue::kObject:
      if (JsonInt(value[L"$fn"], -1) >= 0) {
        out.vt = VT_DISPATCH;
        out.pdispVal = new PageObject(this, generation, JsonInt(value[L"$fn"], -1));
        return true;
      }
      return value.Has(L"$undefined");
    case JsonValue::kArray:
      return false;
  }
  return false;
}

std::string BridgeView::FromVariant(const VARIANT& value, int generation) {
  switch (value.vt) {
    case VT_EMPTY:
      return "{\"$undefined\":1}";
    case VT_NULL:
      return "null";
    case VT_BOOL:
      return value.boolVal ? "true" : "false";
    case VT_BSTR:
      return JsonString(std::wstring(value.bstrVal ? value.bstrVal : L"", SysStringLen(value.bstrVal)));
    case VT_DISPATCH: {
      ComRef<IUnknown> object;
      if (value.pdispVal && SUCCEEDED(value.pdispVal->QueryInterface(kPageObjectIid, object.OutVoid()))) {
        auto* page = static_cast<PageObject*>(static_cast<IDispatch*>(object.Get()));
        return page->Generation() == generation ? "{\"$fn\":" + std::to_string(page->Id()) + "}" : "null";
      }
      return "{\"$native\":1}";
    }
    default: {
      Variant converted;
      if (SUCCEEDED(VariantChangeType(converted.Get(), const_cast<VARIANT*>(&value), 0, VT_R8)))
        return JsonNumber(converted->dblVal);
      if (SUCCEEDED(VariantChangeType(converted.Out(), const_cast<VARIANT*>(&value), 0, VT_BSTR)))
        return JsonString(converted->bstrVal ? converted->bstrVal : L"");
      return "{\"$undefined\":1}";
    }
  }
}

HRESULT BridgeView::CallPage(int generation, int function, DISPPARAMS* params) {
  std::string arguments = "[";
  for (UINT i = params ? params->cArgs : 0; i > 0; --i)
    arguments += FromVariant(params->rgvarg[i - 1], generation) + (i > 1 ? "," : "");
  arguments += "]";
  auto event = std::make_shared<PageEvent>();
  bool deferred;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (!open_ || generation != generation_) return kFreedScript;
    event->id = ++eventSerial_;
    event->generation = generation;
    event->function = function;
    event->arguments = arguments;
    queue_.push_back(event);
    // The page is blocked in a call of its own on this thread, so it cannot run the function
    // before that call returns, which it cannot while this one waits: it runs right after.
    deferred = callDepth_ > 0;
  }
  eventQueued_.notify_all();
  if (deferred) return S_OK;
  bool finished = stubframework::core::PumpMessagesUntil(
      [&] {
        std::lock_guard<std::mutex> hold(lock_);
        return event->finished;
      },
      INFINITE, 100, {wakeEvent_}, true);
  if (!finished) return E_ABORT;
  std::lock_guard<std::mutex> hold(lock_);
  return event->result;
}

std::string BridgeView::WindowState() {
  HWND window;
  {
    std::lock_guard<std::mutex> hold(lock_);
    window = window_;
  }
  if (!window) return "{\"visible\":false,\"minimized\":false,\"width\":0,\"height\":0}";
  RECT client = {};
  GetClientRect(window, &client);
  HDC screen = GetDC(nullptr);
  int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  if (dpi <= 0) dpi = 96;
  return std::string("{\"visible\":") + (IsWindowVisible(window) ? "true" : "false") +
         ",\"minimized\":" + (IsIconic(window) ? "true" : "false") +
         ",\"width\":" + std::to_string(client.right * 96 / dpi) +
         ",\"height\":" + std::to_string(client.bottom * 96 / dpi) + "}";
}

std::string BridgeView::Status() {
  std::string page, boxes;
  bool closed;
  {
    std::lock_guard<std::mutex> hold(lock_);
    page = JsonString(page_);
    closed = closed_;
    for (const std::wstring& box : boxes_) boxes += (boxes.empty() ? "" : ",") + JsonString(box);
  }
  std::string properties;
  if (external_) {
    for (const wchar_t* name : {L"downloadCurrent", L"downloadTotal", L"installCurrent", L"installTotal"})
      properties += std::string(properties.empty() ? "" : ",") + JsonString(name) + ":" +
                    JsonString(external_->GetProperty(name));
  }
  return "{\"page\":" + page + ",\"window\":" + WindowState() + ",\"closed\":" + (closed ? "true" : "false") +
         ",\"boxes\":[" + boxes + "],\"properties\":{" + properties + "}}";
}

}  // namespace pagebridge
