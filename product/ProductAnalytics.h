#pragma once
// The product analytics events: named events with key=value data, turned into JSON texts that
// carry the product's and the computer's description and handed to the tracking thread. Settings
// come from an optional "productanalytics.ini"; a log of their own is kept when it enables one.
#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace stubframework::core {
struct FrameworkCore;
}

namespace myexternalmethods {

struct TrackingProperties;

// Created by the entry point, referenced by the product's method object.
struct ProductAnalyticsState {
  bool initialised = false;
  // An "install.completed" event (any letter case) has been handed over.
  bool completedSent = false;
};

// The description of the product and the computer sent with every event.
struct CoreData {
  wchar_t productName[128];
  wchar_t appName[128];
  wchar_t buildNumber[128];
  wchar_t language[3];
  wchar_t sourceId[128];
  wchar_t hwid[128];
  wchar_t operatingSystem[128];
  wchar_t bitness[128];
  wchar_t osVersion[128];
};

// The page that receives the events when the settings file names none.
extern const wchar_t kDefaultOnlineContainer[];

struct AnalyticsSettings {
  std::wstring productId;  // empty until initialize
  bool loggingEnabled = false;
  bool alertingEnabled = false;
  std::wstring trackingEnvironment = L"production";
  std::wstring onlineContainer = kDefaultOnlineContainer;
  bool logEnabled = false;
  int32_t logThreshold = 0;
  std::wstring refusedSettings;  // settings files not read, for the installer log
};

// The process-wide settings.
AnalyticsSettings& Settings();

using SettingPairs = std::vector<std::pair<std::wstring, std::wstring>>;
// The key=value lines of a settings text (UTF-8, at most the first 4095 bytes count).
SettingPairs ParseSettings(const std::string& bytes);
// The first remaining pair whose key contains name; the pair is removed.
bool TakeSetting(SettingPairs& pairs, const wchar_t* name, std::wstring& value);
// Applies LOGGING_ENABLED, ALERTING_ENABLED, TRACKING_ENVIRONMENT and ONLINE_CONTAINER.
void ApplySettings(const std::string& bytes, AnalyticsSettings& settings);
// Whether a page address may be loaded into a control that script can drive the stub through.
bool IsAcceptedContainer(const std::wstring& url);
// "productanalytics.ini" beside the executable, else the all-users one in the publisher folder's
// "ProductAnalytics"; each only when its folder passes IsAdministratorsFolder. refused lists the
// files that exist in a folder that does not.
std::wstring SettingsFilePath(std::wstring& refused);
// At most 4095 bytes of the file; false when it cannot be read or is not a plain file of one name.
bool ReadSettingsFile(const std::wstring& path, std::string& bytes);

// "|key=value" for every non-empty sent property.
std::wstring TrackingPropertiesText(const TrackingProperties& properties);
std::vector<std::wstring> SplitTokens(const std::wstring& text, const std::wstring& delimiter);
bool ValidateEventData(const wchar_t* text);
// text with what a JSON string cannot hold as it is escaped.
std::wstring JsonEscaped(const std::wstring& text);
std::wstring BuildEventJson(const AnalyticsSettings& settings, const CoreData& data, const std::wstring& eventName,
                            const std::wstring& eventData);
std::wstring CoreDataText(const AnalyticsSettings& settings, const CoreData& data);

// The analytics log of today among the run's logs.
std::wstring AnalyticsLogPath();
void AnalyticsLogTrace(const wchar_t* format, ...);
void AnalyticsLogError(const wchar_t* format, ...);
// The text written as it is, not used as a format.
void AnalyticsLogText(const std::wstring& text);

bool StartProductAnalytics(ProductAnalyticsState* state, const TrackingProperties* properties);
// 1 when already initialised, 201 without a record, 0 after initialising.
int32_t initialize(const CoreData* record);
// 200 when not initialised, 201 for a missing name or invalid data, else trackEventData's result.
int32_t trackData(const wchar_t* name, const wchar_t* data);

// trackingByAnalyticsSDK after its argument checks: the event goes out on a thread of its own.
void TrackingByAnalyticsSDK(stubframework::core::FrameworkCore* core, ProductAnalyticsState* state,
                            const TrackingProperties* properties, const std::wstring& event, std::wstring data);
// setTrackingProperty after its argument checks.
void SetTrackingProperty(stubframework::core::FrameworkCore* core, TrackingProperties* properties, int index,
                         const std::wstring& value);
// Waits up to timeoutMs for the event threads; true when none is left.
bool JoinEventThreads(DWORD timeoutMs);

constexpr DWORD kClosingPauseMs = 5000;
// Sends "install.completed" when the page sent none, waits for the event threads, then pauses so
// that the tracking thread can deliver what is queued.
void FinishProductAnalytics(ProductAnalyticsState* state, const TrackingProperties* properties, bool abnormalEnd,
                            DWORD pauseMs = kClosingPauseMs);

// The release's part of the events: clears productId and frees the core data, so that later events
// are refused. True when productId was set.
bool EndAnalyticsSession();

}  // namespace myexternalmethods
