// The product analytics' own rules: the settings file and its refusals, the event data checks,
// the event JSON and the log text, and the tracking properties text.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "core/CommonFolders.h"
#include "product/MyExternalMethods.h"
#include "product/ProductAnalytics.h"
#include "support/TestCore.h"
#include "support/TestSupport.h"

using namespace myexternalmethods;

namespace {

CoreData SampleCoreData() {
  CoreData data = {};
  wcscpy(data.productName, L"Halvern");
  wcscpy(data.appName, L"Halvern");
  wcscpy(data.hwid, L"V20123456789ABCDEF0123456789ABCDEF");
  wcscpy(data.operatingSystem, L"Windows");
  wcscpy(data.bitness, L"64");
  wcscpy(data.osVersion, L"19045.3803");
  return data;
}

}  // namespace

TEST(AnalyticsSettingsFile, KeysAreFoundByContainmentAndValuesTakenAsWritten) {
  const std::wstring kDefault = kDefaultOnlineContainer;
  const struct {
    std::string text;
    bool logging, alerting;
    std::wstring environment, container;
  } cases[] = {
      {"LOGGING_ENABLED=TRUE\n# ONLINE_CONTAINER=https://commented.test/\n=x\n"
       "ONLINE_CONTAINER=https://track.example.test/page.html\n",
       true, false, L"production", L"https://track.example.test/page.html"},
      // A CR stays part of the value; the last line needs no line end.
      {"LOGGING_ENABLED=true\r\nALERTING_ENABLED=TRUE", false, true, L"production", kDefault},
      {"ALERTING_ENABLED=true\r\nLOGGING_ENABLED=true", true, false, L"production", kDefault},
      {"LOGGING_ENABLED= true\nTRACKING_ENVIRONMENT=Staging\n", false, false, L"staging", kDefault},
      {"MY_LOGGING_ENABLED_OLD=true\nLOGGING_ENABLED=false\nTRACKING_ENVIRONMENT=\n", true, false, L"production",
       kDefault},
      // Only a page over TLS replaces the build's own.
      {"ONLINE_CONTAINER=http://track.example.test/page.html\n", false, false, L"production", kDefault},
      {"ONLINE_CONTAINER=file:///C:/users/public/page.html\n", false, false, L"production", kDefault},
      {"ONLINE_CONTAINER=https:///C:/page.html\n", false, false, L"production", kDefault},
      {"ONLINE_CONTAINER=https://track.example.test/page.html\r\n", false, false, L"production", kDefault},
      {"ONLINE_CONTAINER=HTTPS://Track.Example.Test/\n", false, false, L"production", L"HTTPS://Track.Example.Test/"},
  };
  for (const auto& c : cases) {
    AnalyticsSettings settings;
    ApplySettings(c.text, settings);
    EXPECT_EQ(settings.loggingEnabled, c.logging) << c.text;
    EXPECT_EQ(settings.alertingEnabled, c.alerting) << c.text;
    EXPECT_EQ(settings.trackingEnvironment, c.environment) << c.text;
    EXPECT_EQ(settings.onlineContainer, c.container) << c.text;
  }
  SettingPairs pairs = ParseSettings("LOGGING_ENABLED=TRUE\n#a=b\n=x\nx=\nab\nk==v\nONLINE_CONTAINER=u\n");
  EXPECT_EQ(pairs, (SettingPairs{{L"LOGGING_ENABLED", L"TRUE"}, {L"k", L"=v"}, {L"ONLINE_CONTAINER", L"u"}}));
  // Parsing stops when three characters or fewer remain.
  EXPECT_TRUE(ParseSettings("xx\na=b").empty());
  EXPECT_EQ(ParseSettings("xx\na=bc").size(), 1u);
  std::wstring value;
  EXPECT_TRUE(TakeSetting(pairs, L"ENABLED", value));
  EXPECT_EQ(value, L"TRUE");
  EXPECT_FALSE(TakeSetting(pairs, L"LOGGING", value));
}

TEST(AnalyticsSettingsFile, OnlyAPlainFileOfOneNameIsReadAndOnly4095BytesOfIt) {
  testsupport::ScratchFolder folder;
  const std::wstring file = folder.File(L"productanalytics.ini");
  ASSERT_TRUE(testsupport::WriteFileBytes(file, "LOGGING_ENABLED=true\n" + std::string(5000, '#')));
  std::string bytes;
  ASSERT_TRUE(ReadSettingsFile(file, bytes));
  EXPECT_EQ(bytes.size(), 4095u);
  EXPECT_EQ(bytes.compare(0, 21, "LOGGING_ENABLED=true\n"), 0);
  const std::wstring link = folder.File(L"link.ini");
  ASSERT_TRUE(testsupport::MakeFolderLink(file, link));
  EXPECT_FALSE(ReadSettingsFile(link, bytes));
  EXPECT_TRUE(bytes.empty());
  EXPECT_TRUE(testsupport::RemoveFolderLink(link));
  ASSERT_TRUE(CreateHardLinkW(link.c_str(), file.c_str(), nullptr));
  EXPECT_FALSE(ReadSettingsFile(file, bytes));
  EXPECT_FALSE(ReadSettingsFile(folder.File(L"missing.ini"), bytes));
}

// The settings choose the page the tracker loads: a settings file in a folder that programs of the
// user may write, as every folder is under Wine, is refused and named for the log.
TEST(AnalyticsSettingsFile, IsIgnoredInAFolderThatOthersThanAdministratorsMayWrite) {
  const std::wstring common = stubframework::utils::PublisherFolderPath() + L"ProductAnalytics\\";
  ASSERT_EQ(common.find(L"\\Velmora\\ProductAnalytics\\"), common.size() - 26) << common;
  SHCreateDirectoryExW(nullptr, common.c_str(), nullptr);
  const std::wstring files[] = {testsupport::ProgramFolder() + L"productanalytics.ini", common + L"productanalytics.ini"};
  for (const std::wstring& file : files) ASSERT_TRUE(testsupport::WriteFileBytes(file, "ONLINE_CONTAINER=x\n"));
  std::wstring refused = L"unchanged";
  EXPECT_EQ(SettingsFilePath(refused), L"");
  EXPECT_EQ(refused, files[0] + L", " + files[1]);
  for (const std::wstring& file : files) DeleteFileW(file.c_str());
  EXPECT_EQ(SettingsFilePath(refused), L"");
  EXPECT_EQ(refused, L"");
}

TEST(AnalyticsEventData, PiecesMustSplitIntoExactlyTwoParts) {
  EXPECT_EQ(SplitTokens(L"||a|b||c", L"|"), (std::vector<std::wstring>{L"a", L"b", L"c"}));
  EXPECT_EQ(SplitTokens(L"a::b", L"::"), (std::vector<std::wstring>{L"a", L"b"}));
  EXPECT_EQ(SplitTokens(L"|||", L"|"), std::vector<std::wstring>());
  EXPECT_EQ(SplitTokens(L"", L"|"), std::vector<std::wstring>());
  EXPECT_EQ(SplitTokens(L"a|b", L""), std::vector<std::wstring>{L"a|b"});
  const struct {
    const wchar_t* data;
    bool valid;
  } cases[] = {{nullptr, true}, {L"", true},      {L"a=b|c=d", true}, {L"a==b", true}, {L"|a=b|", true},
               {L"a=b=c", false}, {L"a=", false}, {L"=a", false},     {L"a", false},    {L"a=b|c", false}};
  for (const auto& c : cases) EXPECT_EQ(ValidateEventData(c.data), c.valid) << (c.data ? c.data : L"(null)");
}

TEST(AnalyticsEventJson, IsWrittenByteForByteWithValuesEscapedAsJsonNeeds) {
  AnalyticsSettings settings;
  settings.productId = L"Halvern";
  const CoreData sample = SampleCoreData();
  const std::wstring kHead =
      L"{\n\"productId\":\"Halvern\",\n\"eventName\":\"install.completed\",\n\"alertingEnabled\":false,\n"
      L"\"loggingEnabled\":false,\n\"trackingEnvironment\":\"production\",\n";
  const std::wstring kCore =
      L"\"coreData\": {\n\"productName\":\"Halvern\",\n\"appName\":\"Halvern\",\n\"operatingSystem\":\"Windows\",\n"
      L"\"bitness\":\"64\",\n\"osVersion\":\"19045.3803\",\n\"hwid\":\"V20123456789ABCDEF0123456789ABCDEF\"\n},\n";
  const struct {
    std::wstring data;
    bool emptyCore;
    std::wstring tail;
  } cases[] = {
      {L"install.completed=OK", false, L"\"eventData\": {\n\"install.completed\":\"OK\"}\n}\n"},
      {L"a=b|c=d", false, L"\"eventData\": {\n\"a\":\"b\",\n\"c\":\"d\"}\n}\n"},
      {L"", true, L"\"eventData\": {\n}\n}\n"},
      {L"msi=C:\\a \"b\".msi|t=x\ty\x01", false,
       L"\"eventData\": {\n\"msi\":\"C:\\\\a \\\"b\\\".msi\",\n\"t\":\"x\\ty\\u0001\"}\n}\n"},
  };
  for (const auto& c : cases) {
    CoreData data = c.emptyCore ? CoreData{} : sample;
    EXPECT_EQ(BuildEventJson(settings, data, L"install.completed", c.data),
              kHead + (c.emptyCore ? L"\"coreData\": {\n\n},\n" : kCore) + c.tail)
        << c.data;
  }
  settings.alertingEnabled = true;
  settings.trackingEnvironment = L"stag\"ing";
  EXPECT_NE(BuildEventJson(settings, sample, L"e", L"").find(L"\"alertingEnabled\":true,\n\"loggingEnabled\":false,\n"
                                                             L"\"trackingEnvironment\":\"stag\\\"ing\",\n"),
            std::wstring::npos);
  EXPECT_EQ(CoreDataText(settings, sample),
            L"productId=Halvern|productName=Halvern|appName=Halvern|buildNumber=|language=|sourceId="
            L"|operatingSystem=Windows|bitness=64|osVersion=19045.3803|hwid=V20123456789ABCDEF0123456789ABCDEF"
            L"|alertingEnabled=true|loggingEnabled=false|trackingEnvironment=stag\"ing");
}

TEST(AnalyticsTrackingProperties, AreSentInOrderWhenSetAndSetByThePagesIndexes) {
  TrackingProperties properties;
  properties.application = L"Halvern";
  properties.stubVersion = testsupport::kProductVersion;
  properties.reserved1 = L"never";
  properties.deviceBits = L"64";
  properties.deviceLang = L"en";
  EXPECT_EQ(TrackingPropertiesText(properties),
            L"|install.application=Halvern|install.stub-version=" + testsupport::kProductVersion +
                L"|device.bits=64|device.lang=en");
  const struct {
    int index;
    std::wstring TrackingProperties::*member;
  } cases[] = {{0, &TrackingProperties::channel},
               {1, &TrackingProperties::language},
               {2, &TrackingProperties::msiFileName},
               {3, &TrackingProperties::analyticsConsent},
               {4, &TrackingProperties::license}};
  for (const auto& c : cases) {
    SetTrackingProperty(nullptr, &properties, c.index, L"v" + std::to_wstring(c.index));
    EXPECT_EQ(properties.*c.member, L"v" + std::to_wstring(c.index));
  }
  TrackingProperties before = properties;
  for (int ignored : {-1, 5, 8}) SetTrackingProperty(nullptr, &properties, ignored, L"x");
  EXPECT_EQ(TrackingPropertiesText(properties), TrackingPropertiesText(before));
  EXPECT_EQ(TrackingPropertiesText(properties),
            L"|install.channel=v0|install.msi-filename=v2|install.application=Halvern|install.language=v1"
            L"|install.stub-version=" + testsupport::kProductVersion +
                L"|install.license=v4|install.analytics=v3|device.bits=64|device.lang=en");
}
