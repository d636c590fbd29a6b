#include "product/ProductAnalytics.h"

#include <shlobj.h>

#include <condition_variable>
#include <cstdarg>
#include <cwchar>
#include <mutex>
#include <new>

#include "analytics/HardwareIdentity.h"
#include "core/CommandLine.h"
#include "core/CommonFolders.h"
#include "core/FolderSecurity.h"
#include "core/FrameworkCore.h"
#include "core/InstallerLog.h"
#include "core/PlainPath.h"
#include "core/TextFormat.h"
#include "core/UniqueHandle.h"
#include "core/WorkingFolders.h"
#include "product/MyExternalMethods.h"
#include "product/TrackingThread.h"

namespace myexternalmethods {

using stubframework::core::FrameworkLogDebug;
using stubframework::utils::FileHandle;
using stubframework::utils::FormatWide;
using stubframework::utils::FormatWideV;
using stubframework::utils::IsPlainFile;

const wchar_t kDefaultOnlineContainer[] = L"https://analytics.halvern.com/productanalytics/tracker.html";

namespace {

constexpr size_t kSettingsBytes = 4095;

// Guards productId and the core data between the event threads and the start and release.
std::mutex g_sessionLock;
CoreData* g_coreData = nullptr;

// The event threads still running, so the end of the run can wait for them.
std::mutex g_eventThreadsLock;
std::condition_variable g_eventThreadsDone;
int g_eventThreads = 0;

void EventThreadEnded() {
  std::lock_guard<std::mutex> guard(g_eventThreadsLock);
  if (--g_eventThreads == 0) g_eventThreadsDone.notify_all();
}

// The path the handle's file is reached by once every link is followed, without "\\?\".
std::wstring FinalPath(HANDLE file) {
  std::vector<wchar_t> buffer(MAX_PATH);
  DWORD length = GetFinalPathNameByHandleW(file, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  if (length >= buffer.size()) {
    buffer.resize(length + 1);
    length = GetFinalPathNameByHandleW(file, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  }
  if (length == 0 || length >= buffer.size()) return std::wstring();
  std::wstring path(buffer.data(), length);
  if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\" + path.substr(7);
  if (path.compare(0, 4, L"\\\\?\\") == 0) return path.substr(4);
  return path;
}

// The full path with long names, as the file system writes it.
std::wstring LongFullPath(const std::wstring& path) {
  DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (length == 0) return std::wstring();
  std::vector<wchar_t> full(length);
  if (GetFullPathNameW(path.c_str(), length, full.data(), nullptr) >= length) return std::wstring();
  length = GetLongPathNameW(full.data(), nullptr, 0);
  if (length == 0) return std::wstring();
  std::vector<wchar_t> longPath(length);
  if (GetLongPathNameW(full.data(), longPath.data(), length) >= length) return std::wstring();
  return longPath.data();
}

// Anyone of the user can put a link or a second name of another file where the elevated stub
// reads its settings or writes its log: only a plain file of one name, reached by the path itself,
// is used.
bool OpenPlainFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, FileHandle& file) {
  file.Reset(CreateFileW(path.c_str(), access, share, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (file.Valid() && IsPlainFile(file.Get())) {
    std::wstring reached = FinalPath(file.Get());
    std::wstring named = LongFullPath(path);
    if (!reached.empty() && CompareStringOrdinal(reached.c_str(), -1, named.c_str(), -1, TRUE) == CSTR_EQUAL)
      return true;
  }
  file.Close();
  return false;
}

std::wstring Lowered(std::wstring text) {
  if (!text.empty()) CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
  return text;
}

void Copy(wchar_t* field, size_t capacity, const wchar_t* text) { wcsncpy_s(field, capacity, text, _TRUNCATE); }
#define STUB_SET_FIELD(record, field, text) Copy((record).field, sizeof((record).field) / sizeof(wchar_t), text)

// The fields in the order the event and the log name them.
struct CoreField {
  const wchar_t* name;
  const wchar_t* (*value)(const CoreData&);
};
const CoreField kCoreFields[] = {
    {L"productName", [](const CoreData& d) -> const wchar_t* { return d.productName; }},
    {L"appName", [](const CoreData& d) -> const wchar_t* { return d.appName; }},
    {L"buildNumber", [](const CoreData& d) -> const wchar_t* { return d.buildNumber; }},
    {L"language", [](const CoreData& d) -> const wchar_t* { return d.language; }},
    {L"sourceId", [](const CoreData& d) -> const wchar_t* { return d.sourceId; }},
    {L"operatingSystem", [](const CoreData& d) -> const wchar_t* { return d.operatingSystem; }},
    {L"bitness", [](const CoreData& d) -> const wchar_t* { return d.bitness; }},
    {L"osVersion", [](const CoreData& d) -> const wchar_t* { return d.osVersion; }},
    {L"hwid", [](const CoreData& d) -> const wchar_t* { return d.hwid; }},
};

// The sent tracking properties with their keys, in the order they are sent.
struct TrackedProperty {
  std::wstring TrackingProperties::*member;
  const wchar_t* key;
};
const TrackedProperty kTrackedProperties[] = {
    {&TrackingProperties::channel, L"install.channel"},
    {&TrackingProperties::msiBuildNumber, L"install.msi-build-number"},
    {&TrackingProperties::msiFileName, L"install.msi-filename"},
    {&TrackingProperties::application, L"install.application"},
    {&TrackingProperties::language, L"install.language"},
    {&TrackingProperties::stubVersion, L"install.stub-version"},
    {&TrackingProperties::license, L"install.license"},
    {&TrackingProperties::analyticsConsent, L"install.analytics"},
    {&TrackingProperties::deviceBits, L"device.bits"},
    {&TrackingProperties::deviceOs, L"device.os"},
    {&TrackingProperties::deviceOsVersion, L"device.os-version"},
    {&TrackingProperties::deviceLang, L"device.lang"},
};
// setTrackingProperty's indexes, as the page numbers them.
const TrackedProperty kSettableProperties[] = {
    {&TrackingProperties::channel, L"install.channel"},
    {&TrackingProperties::language, L"install.language"},
    {&TrackingProperties::msiFileName, L"install.msi-filename"},
    {&TrackingProperties::analyticsConsent, L"install.analytics"},
    {&TrackingProperties::license, L"install.license"},
};

std::wstring StringMember(const std::wstring& name, const std::wstring& value) {
  return L"\"" + JsonEscaped(name) + L"\":\"" + JsonEscaped(value) + L"\"";
}
std::wstring BoolMember(const wchar_t* name, bool value) {
  return L"\"" + std::wstring(name) + L"\":" + (value ? L"true" : L"false");
}
const wchar_t* BoolText(bool value) { return value ? L"true" : L"false"; }

void SetSystemFields(CoreData& data) {
  STUB_SET_FIELD(data, operatingSystem, L"Windows");
  using NativeSystemInfo = void(WINAPI*)(SYSTEM_INFO*);
  auto nativeInfo = reinterpret_cast<NativeSystemInfo>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetNativeSystemInfo"));
  SYSTEM_INFO info = {};
  bool wide = false;
  if (nativeInfo) {
    nativeInfo(&info);
    wide = info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
           info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64;
  }
  STUB_SET_FIELD(data, bitness, wide ? L"64" : L"32");
  using RtlGetVersionFunction = LONG(WINAPI*)(RTL_OSVERSIONINFOW*);
  auto getVersion =
      reinterpret_cast<RtlGetVersionFunction>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion"));
  RTL_OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  DWORD build = getVersion && getVersion(&version) == 0 ? version.dwBuildNumber : 0;
  DWORD revision = 0;
  DWORD size = sizeof(revision);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"UBR", RRF_RT_REG_DWORD,
                   nullptr, &revision, &size) != ERROR_SUCCESS)
    revision = 0;
  STUB_SET_FIELD(data, osVersion, FormatWide(L"%d.%d", static_cast<int>(build), static_cast<int>(revision)).c_str());
}

bool LogWanted(int level) {
  const AnalyticsSettings& settings = Settings();
  return settings.logEnabled && level <= settings.logThreshold;
}

void WriteLogLine(int level, const std::wstring& message) {
  std::wstring path = AnalyticsLogPath();
  if (path.empty()) return;
  SYSTEMTIME now;
  GetSystemTime(&now);
  std::string line = stubframework::debug::LogLinePrefix(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                                                         now.wSecond, now.wMilliseconds, level) +
                     stubframework::utils::WideToUtf8(message) + "\n";
  FileHandle file(INVALID_HANDLE_VALUE);
  if (!OpenPlainFile(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS, file)) return;
  DWORD written = 0;
  WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

struct EventRecord {
  stubframework::core::FrameworkCore* core;
  std::wstring event;
  std::wstring data;
};

DWORD WINAPI TrackingByAnalyticsSDKThreadFunc(void* parameter) {
  auto* record = static_cast<EventRecord*>(parameter);
  HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  FrameworkLogDebug(record->core, L"TrackingByAnalyticsSDKThreadFunc: event=\"%s\", properties=\"%s\"",
                    record->event.c_str(), record->data.c_str());
  if (trackData(record->event.c_str(), record->data.c_str()) != 0)
    FrameworkLogDebug(record->core, L"TrackingByAnalyticsSDKThreadFunc: tracking failed!");
  delete record;
  if (SUCCEEDED(com)) CoUninitialize();
  EventThreadEnded();
  return 0;
}

}  // namespace

AnalyticsSettings& Settings() {
  static AnalyticsSettings settings;
  return settings;
}

SettingPairs ParseSettings(const std::string& bytes) {
  std::wstring text = stubframework::utils::Utf8ToWide(bytes.substr(0, kSettingsBytes));
  SettingPairs pairs;
  size_t position = 0;
  while (text.size() - position > 3) {
    size_t end = text.find(L'\n', position);
    std::wstring line = text.substr(position, end == std::wstring::npos ? std::wstring::npos : end - position);
    position = end == std::wstring::npos ? text.size() : end + 1;
    size_t equals = line.find(L'=');
    if (line.size() > 2 && line[0] != L'#' && equals != std::wstring::npos && equals > 0 && equals + 1 < line.size())
      pairs.emplace_back(line.substr(0, equals), line.substr(equals + 1));
  }
  return pairs;
}

bool TakeSetting(SettingPairs& pairs, const wchar_t* name, std::wstring& value) {
  for (auto pair = pairs.begin(); pair != pairs.end(); ++pair) {
    if (pair->first.find(name) == std::wstring::npos) continue;
    value = pair->second;
    pairs.erase(pair);
    return true;
  }
  return false;
}

bool IsAcceptedContainer(const std::wstring& url) {
  static const wchar_t kScheme[] = L"https://";
  const size_t schemeLength = wcslen(kScheme);
  if (url.size() <= schemeLength || _wcsnicmp(url.c_str(), kScheme, schemeLength) != 0) return false;
  if (url[schemeLength] == L'/' || url[schemeLength] == L'\\') return false;
  for (wchar_t c : url)
    if (c <= L' ' || c == 0x7F) return false;
  return true;
}

void ApplySettings(const std::string& bytes, AnalyticsSettings& settings) {
  SettingPairs pairs = ParseSettings(bytes);
  std::wstring value;
  if (TakeSetting(pairs, L"LOGGING_ENABLED", value) && Lowered(value) == L"true") settings.loggingEnabled = true;
  if (TakeSetting(pairs, L"ALERTING_ENABLED", value) && Lowered(value) == L"true") settings.alertingEnabled = true;
  if (TakeSetting(pairs, L"TRACKING_ENVIRONMENT", value) && !value.empty())
    settings.trackingEnvironment = Lowered(value);
  // The page gets window.external of an elevated process: only a page over TLS replaces the build's.
  if (TakeSetting(pairs, L"ONLINE_CONTAINER", value) && IsAcceptedContainer(value)) settings.onlineContainer = value;
}

std::wstring SettingsFilePath(std::wstring& refused) {
  refused.clear();
  std::wstring candidates[2];
  std::wstring exe = stubframework::core::ModulePath();
  if (!exe.empty()) candidates[0] = exe.substr(0, exe.find_last_of(L'\\') + 1);
  std::wstring publisher = stubframework::utils::PublisherFolderPath();
  if (!publisher.empty()) candidates[1] = publisher + L"ProductAnalytics\\";
  for (const std::wstring& folder : candidates) {
    if (folder.empty()) continue;
    std::wstring path = folder + L"productanalytics.ini";
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
    // The settings choose the page the tracker loads: a folder a program of the user could write,
    // or replace through its parent, would hand it that choice.
    bool trusted = stubframework::utils::IsAdministratorsFolder(folder) &&
                   (folder != candidates[1] || stubframework::utils::IsAdministratorsFolder(publisher));
    if (trusted) return path;
    refused += (refused.empty() ? L"" : L", ") + path;
  }
  return std::wstring();
}

bool ReadSettingsFile(const std::wstring& path, std::string& bytes) {
  bytes.clear();
  FileHandle file(INVALID_HANDLE_VALUE);
  if (path.empty() || !OpenPlainFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, file)) return false;
  std::string buffer(kSettingsBytes, '\0');
  DWORD read = 0;
  if (!ReadFile(file.Get(), &buffer[0], static_cast<DWORD>(buffer.size()), &read, nullptr)) return false;
  bytes.assign(buffer.data(), read);
  return true;
}

std::wstring TrackingPropertiesText(const TrackingProperties& properties) {
  std::wstring text;
  for (const auto& property : kTrackedProperties) {
    const std::wstring& value = properties.*property.member;
    if (!value.empty()) text += L"|" + std::wstring(property.key) + L"=" + value;
  }
  return text;
}

std::vector<std::wstring> SplitTokens(const std::wstring& text, const std::wstring& delimiter) {
  std::vector<std::wstring> pieces;
  if (text.empty()) return pieces;
  if (delimiter.empty()) return {text};
  size_t position = text.find_first_not_of(delimiter);
  while (position != std::wstring::npos && position < text.size()) {
    size_t next = text.find(delimiter, position);
    std::wstring piece = text.substr(position, next == std::wstring::npos ? std::wstring::npos : next - position);
    if (!piece.empty()) pieces.push_back(piece);
    position = next == std::wstring::npos ? std::wstring::npos : next + delimiter.size();
  }
  return pieces;
}

bool ValidateEventData(const wchar_t* text) {
  if (!text || !*text) return true;
  for (const std::wstring& piece : SplitTokens(text, L"|")) {
    if (SplitTokens(piece, L"=").size() == 2) continue;
    AnalyticsLogError(L"Invalid eventData pattern: %ls", text);
    return false;
  }
  return true;
}

std::wstring JsonEscaped(const std::wstring& text) {
  std::wstring escaped;
  for (wchar_t c : text) {
    switch (c) {
      case L'"': escaped += L"\\\""; break;
      case L'\\': escaped += L"\\\\"; break;
      case L'\b': escaped += L"\\b"; break;
      case L'\f': escaped += L"\\f"; break;
      case L'\n': escaped += L"\\n"; break;
      case L'\r': escaped += L"\\r"; break;
      case L'\t': escaped += L"\\t"; break;
      default:
        if (c < 0x20)
          escaped += FormatWide(L"\\u%04x", static_cast<unsigned>(c));
        else
          escaped += c;
    }
  }
  return escaped;
}

std::wstring BuildEventJson(const AnalyticsSettings& settings, const CoreData& data, const std::wstring& eventName,
                            const std::wstring& eventData) {
  std::wstring json = L"{\n";
  json += StringMember(L"productId", settings.productId) + L",\n";
  json += StringMember(L"eventName", eventName) + L",\n";
  json += BoolMember(L"alertingEnabled", settings.alertingEnabled) + L",\n";
  json += BoolMember(L"loggingEnabled", settings.loggingEnabled) + L",\n";
  json += StringMember(L"trackingEnvironment", settings.trackingEnvironment) + L",\n";
  json += L"\"coreData\": {\n";
  const wchar_t* separator = L"";
  for (const auto& field : kCoreFields) {
    const wchar_t* value = field.value(data);
    if (!*value) continue;
    json += separator + StringMember(field.name, value);
    separator = L",\n";
  }
  json += L"\n},\n\"eventData\": {\n";
  separator = L"";
  for (const std::wstring& piece : SplitTokens(eventData, L"|")) {
    std::vector<std::wstring> parts = SplitTokens(piece, L"=");
    if (parts.size() != 2) continue;
    json += separator + StringMember(parts[0], parts[1]);
    separator = L",\n";
  }
  json += L"}\n}\n";
  return json;
}

std::wstring CoreDataText(const AnalyticsSettings& settings, const CoreData& data) {
  std::wstring text = L"productId=" + settings.productId;
  for (const auto& field : kCoreFields) text += L"|" + std::wstring(field.name) + L"=" + field.value(data);
  text += std::wstring(L"|alertingEnabled=") + BoolText(settings.alertingEnabled);
  text += std::wstring(L"|loggingEnabled=") + BoolText(settings.loggingEnabled);
  text += L"|trackingEnvironment=" + settings.trackingEnvironment;
  return text;
}

std::wstring AnalyticsLogPath() {
  std::wstring folder;
  if (!stubframework::utils::GetRunLogFolder(folder)) return std::wstring();
  SYSTEMTIME now;
  GetSystemTime(&now);
  return folder + FormatWide(L"productanalytics_%02d%02d%4d.log", now.wDay, now.wMonth, now.wYear);
}

#define STUB_ANALYTICS_LOG_AT(level)     \
  if (!LogWanted(level)) return;         \
  va_list args;                          \
  va_start(args, format);                \
  std::wstring message = FormatWideV(format, args); \
  va_end(args);                          \
  WriteLogLine(level, message)

void AnalyticsLogTrace(const wchar_t* format, ...) { STUB_ANALYTICS_LOG_AT(stubframework::debug::kLogTrace); }
void AnalyticsLogError(const wchar_t* format, ...) { STUB_ANALYTICS_LOG_AT(stubframework::debug::kLogError); }
#undef STUB_ANALYTICS_LOG_AT

void AnalyticsLogText(const std::wstring& text) {
  if (LogWanted(stubframework::debug::kLogTrace)) WriteLogLine(stubframework::debug::kLogTrace, text);
}

bool StartProductAnalytics(ProductAnalyticsState* state, const TrackingProperties* properties) {
  HRESULT com = CoInitializeEx(nullptr, COINIT_DISABLE_OLE1DDE);
  if (!state || state->initialised) {
    if (SUCCEEDED(com)) CoUninitialize();
    return true;
  }
  wchar_t hardwareId[1024] = {};
  int32_t capacity = 1024;
  bool haveId = stubframework::analytics::GetHardwareId(hardwareId, capacity);
  CoreData record = {};
  STUB_SET_FIELD(record, productName, L"Halvern");
  STUB_SET_FIELD(record, appName, L"Halvern");
  if (haveId && wcslen(hardwareId) < 128) STUB_SET_FIELD(record, hwid, hardwareId);
  int32_t result = initialize(&record);
  state->initialised = true;
  if (SUCCEEDED(com)) CoUninitialize();
  return result == 0;
}

int32_t initialize(const CoreData* record) {
  std::lock_guard<std::mutex> guard(g_sessionLock);
  AnalyticsSettings& settings = Settings();
  if (!settings.productId.empty()) return 1;
  if (!record) return 201;
  settings.productId = L"Halvern";
  if (!g_coreData) g_coreData = new (std::nothrow) CoreData();
  if (g_coreData) {
    *g_coreData = *record;
    SetSystemFields(*g_coreData);
  }
  std::string bytes;
  if (ReadSettingsFile(SettingsFilePath(settings.refusedSettings), bytes) && !bytes.empty())
    ApplySettings(bytes, settings);
  settings.logEnabled = settings.loggingEnabled;
  settings.logThreshold = stubframework::debug::kLogError;
  AnalyticsLogTrace(L"Call initialize");
  return 0;
}

int32_t trackData(const wchar_t* name, const wchar_t* data) {
  std::lock_guard<std::mutex> guard(g_sessionLock);
  const AnalyticsSettings& settings = Settings();
  if (settings.productId.empty() || !g_coreData) return 200;
  if (!name || !*name || !ValidateEventData(data)) return 201;
  std::wstring eventData = data ? data : L"";
  int32_t result = trackEventData(settings.onlineContainer, BuildEventJson(settings, *g_coreData, name, eventData));
  if (result == 0 && settings.loggingEnabled) {
    std::wstring text = std::wstring(name) + L":" + CoreDataText(settings, *g_coreData);
    if (!eventData.empty()) text += L"|" + eventData;
    AnalyticsLogTrace(L"trackData:\n %ls", text.c_str());
  }
  return result;
}

void TrackingByAnalyticsSDK(stubframework::core::FrameworkCore* core, ProductAnalyticsState* state,
                            const TrackingProperties* properties, const std::wstring& event, std::wstring data) {
  std::wstring propertiesText = properties ? TrackingPropertiesText(*properties) : std::wstring();
  if (!data.empty())
    data += propertiesText;
  else if (!propertiesText.empty())
    data = propertiesText.substr(1);
  // Set before the thread runs: the exit step may come before the thread does.
  if (state && _wcsicmp(event.c_str(), L"install.completed") == 0) state->completedSent = true;
  auto* record = new (std::nothrow) EventRecord{core, event, data};
  if (!record) return;
  {
    std::lock_guard<std::mutex> guard(g_eventThreadsLock);
    ++g_eventThreads;
  }
  stubframework::utils::KernelHandle thread(
      CreateThread(nullptr, 0, TrackingByAnalyticsSDKThreadFunc, record, 0, nullptr));
  if (thread.Valid()) return;
  delete record;
  EventThreadEnded();
}

void SetTrackingProperty(stubframework::core::FrameworkCore* core, TrackingProperties* properties, int index,
                         const std::wstring& value) {
  if (!properties || index < 0 || index >= static_cast<int>(sizeof(kSettableProperties) / sizeof(kSettableProperties[0])))
    return;
  const TrackedProperty& property = kSettableProperties[index];
  properties->*property.member = value;
  FrameworkLogDebug(core, L"EMSetTrackingProperty %s: %s", property.key, value.c_str());
}

bool JoinEventThreads(DWORD timeoutMs) {
  std::unique_lock<std::mutex> guard(g_eventThreadsLock);
  return g_eventThreadsDone.wait_for(guard, std::chrono::milliseconds(timeoutMs), [] { return g_eventThreads == 0; });
}

void FinishProductAnalytics(ProductAnalyticsState* state, const TrackingProperties* properties, bool abnormalEnd,
                            DWORD pauseMs) {
  // Their events are queued and their use of the core is over before the core goes.
  JoinEventThreads(kClosingPauseMs);
  if (state && !state->completedSent) {
    std::wstring data = abnormalEnd ? L"install.completed=NOK|install.fail-reason=UnknowError"
                                    : L"install.completed=CNX|install.fail-reason=UserCanceled";
    if (properties) data += TrackingPropertiesText(*properties);
    state->completedSent = true;
    trackData(L"install.completed", data.c_str());
  }
  Sleep(pauseMs);
}

bool EndAnalyticsSession() {
  std::lock_guard<std::mutex> guard(g_sessionLock);
  AnalyticsSettings& settings = Settings();
  if (settings.productId.empty()) return false;
  settings.productId.clear();
  delete g_coreData;
  g_coreData = nullptr;
  return true;
}

}  // namespace myexternalmethods
