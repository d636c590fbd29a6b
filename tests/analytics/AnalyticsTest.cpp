// The installer web service client against the test service (scripts/installer-service.py over
// HTTPS on loopback): the exact bytes of every document it records, the error upload, the script
// methods, the token exchange, and the user's proxy setting.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "analytics/Analytics.h"
#include "analytics/MachineIdentity.h"
#include "analytics/ServiceDocuments.h"
#include "analytics/ServiceRequest.h"
#include "analytics/UrlTokenizer.h"
#include "core/FrameworkCore.h"
#include "core/Registry.h"
#include "core/TextFormat.h"
#include "core/UniqueHandle.h"
#include "core/WorkingFolders.h"
#include "core/ZipExtraction.h"
#include "downloader/BoundedWait.h"
#include "methods/ExternalMethods.h"
#include "methods/LanguageTable.h"
#include "support/TestCore.h"
#include "support/TestSupport.h"

using namespace stubframework;
using testsupport::ClearUserProxy;
using testsupport::kProxyDetect;
using testsupport::kProxyNamed;
using testsupport::kProxyScript;
using testsupport::SetUserProxy;
using utils::Utf8ToWide;
using utils::WideToUtf8;

namespace {

using testsupport::kProductSubkey;
// The product as every report names it.
const std::string kProductElements = "<productId>" + WideToUtf8(testsupport::kProductCode) +
                                     "</productId><productVersion>" + WideToUtf8(testsupport::kProductVersion) +
                                     "</productVersion>";

std::wstring WindowsPath(const std::string& linuxPath) {
  std::wstring path = L"Z:" + Utf8ToWide(linuxPath);
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

struct Recorded {
  int status = 0;
  std::string verb, target, body;
};

// The test service, followed through the files it keeps beside its database: requests.log gets
// one line per request once it is recorded, bodies/ the bytes of each body.
class InstallerService {
 public:
  InstallerService() {
    std::wstring file = testsupport::EnvironmentFolder(L"HALVERN_INSTALLER_SERVICE");
    if (file.empty()) return;
    file.pop_back();
    std::istringstream lines(testsupport::ReadFileBytes(file));
    for (std::string line; std::getline(lines, line);) {
      size_t equals = line.find('=');
      if (equals != std::string::npos) settings_[line.substr(0, equals)] = line.substr(equals + 1);
    }
  }
  bool Available() const { return settings_.count("requests_log") != 0; }
  std::wstring Path(const char* key) const { return WindowsPath(settings_.at(key)); }

  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    std::istringstream text(testsupport::ReadFileBytes(Path("requests_log")));
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
  }
  size_t Count() const { return LogLines().size(); }

  // The requests recorded after the first `first`, once there are `count` of them (a sent report
  // does not wait for its answer, so its record may come a moment later).
  std::vector<Recorded> Since(size_t first, size_t count) const {
    std::vector<std::string> lines;
    for (int i = 0; i < 200 && (lines = LogLines()).size() < first + count; ++i) Sleep(50);
    std::vector<Recorded> records;
    for (size_t i = first; i < lines.size(); ++i) {
      std::vector<std::string> fields;
      std::istringstream line(lines[i]);
      for (std::string field; std::getline(line, field, '\t');) fields.push_back(field);
      if (fields.size() < 5) continue;
      Recorded record;
      record.status = atoi(fields[2].c_str());
      record.verb = fields[3];
      record.target = fields[4];
      for (const char* extension : {".xml", ".zip", ".txt"}) {
        std::wstring body = Path("bodies") + L"\\" + Utf8ToWide(fields[0]) + Utf8ToWide(extension);
        if (testsupport::PathExists(body)) record.body = testsupport::ReadFileBytes(body);
      }
      records.push_back(record);
    }
    return records;
  }

  void Answer(const std::string& json) const { testsupport::WriteFileBytes(Path("answers"), json); }

 private:
  std::map<std::string, std::string> settings_;
};

// A framework core, a method object on it and the service; the product key, the answers and the
// proxy setting are reset around each test.
class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service_.Available()) << "HALVERN_INSTALLER_SERVICE is not set";
    testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kProductSubkey);
    ClearUserProxy();
    service_.Answer("{}");
    core_ = core::CreateFrameworkCore();
    ASSERT_NE(core_, nullptr);
    core_->parameters->externalProperties[L"propertyName1"] = L"propertyValue1";
    methods_ = new ExternalMethods(core_);
  }
  void TearDown() override {
    core::ReleaseFrameworkCore(core_);
    delete methods_;
    ClearUserProxy();
    service_.Answer("{\"country\": \"US\", \"isEmbargo\": false, \"tokenizedUrl\": \"{url}\"}");
    testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kProductSubkey);
  }

  HRESULT Call(ScriptMethod method, const std::vector<testsupport::ScriptArgument>& arguments, VARIANT* result) {
    return testsupport::CallScriptMethod(methods_, method, arguments, ExternalMethods::kFlagsMethod, result);
  }

  std::string LogText() { return testsupport::ReadFileBytes(core_->log->FilePath()); }

  core::StubParameters& Parameters() { return *core_->parameters; }

  InstallerService service_;
  core::FrameworkCore* core_ = nullptr;
  ExternalMethods* methods_ = nullptr;
};

// The report every run starts with, for the values of this prefix, written out element by
// element.
std::string ExpectedReport(core::StubParameters& parameters, const std::string& token, const std::string& status,
                           const std::string& machineId) {
  return "<HVDLMAnalytics><requestToken>" + token + "</requestToken><country>" + WideToUtf8(parameters.country) +
         "</country><mainApp>" + kProductElements +
         "<channelId>test</channelId><installLanguage>English</installLanguage><status>" +
         status +
         "</status><externalProperties><property><name>propertyName1</name><value>propertyValue1</value>"
         "</property></externalProperties></mainApp><error></error><userEnvironment><OS>" +
         WideToUtf8(parameters.osName) + "</OS><language>" +
         WideToUtf8(methods::kLanguages[parameters.uiLanguage].name) + "</language><architecture>" +
         WideToUtf8(parameters.architecture) + "</architecture><defaultBrowser>" +
         WideToUtf8(parameters.defaultBrowser) + "</defaultBrowser></userEnvironment><HVDLMVersion>1.0</HVDLMVersion>"
         "<machineId>" + machineId + "</machineId></HVDLMAnalytics>";
}

}  // namespace

// The stub with its UI package damaged: the start report, the end report of the error and the
// log upload, in that order, each recorded byte for byte.
TEST_F(ServiceTest, ARunWhosePackageFailsSendsStartEndAndTheLogInOrder) {
  // The stub is the only instance while it runs; its facts are those of this prefix.
  core::ReleaseFrameworkCore(core_);
  core_ = nullptr;
  core::StubParameters parameters;
  std::string stub = testsupport::ReadFileBytes(testsupport::ProgramFolder() + L"HalvernSetup.exe");
  ASSERT_GT(stub.size(), 4096u);
  // The package's end record goes: the archive can no longer be found.
  stub.replace(stub.size() - 64, 64, 64, '\0');
  testsupport::ScratchFolder folder;
  std::wstring damaged = folder.File(L"HalvernSetup.exe");
  ASSERT_TRUE(testsupport::WriteFileBytes(damaged, stub));
  size_t first = service_.Count();

  testsupport::ProcessResult run = testsupport::RunAndWait(damaged, L"\"" + damaged + L"\" run=1", 60000);
  ASSERT_TRUE(run.finished);
  // Reports of earlier runs may still be arriving: this run's are the ones with its token.
  std::vector<Recorded> recorded;
  auto upload = [](const Recorded& r) { return r.verb == "PUT"; };
  for (size_t n = 3; n < 10; ++n)
    if (std::any_of((recorded = service_.Since(first, n)).begin(), recorded.end(), upload)) break;
  auto put = std::find_if(recorded.begin(), recorded.end(), upload);
  ASSERT_NE(put, recorded.end());
  std::smatch query;
  ASSERT_TRUE(std::regex_match(put->target, query,
                               std::regex(R"(/v1/reportError\?token=([0-9A-F-]{36})&machineId=([0-9a-f]{64}))")))
      << put->target;
  std::string token = query[1], machineId = query[2];
  std::vector<Recorded> records;
  for (const Recorded& r : recorded)
    if (upload(r) || r.body.find("<requestToken>" + token + "<") != std::string::npos) records.push_back(r);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].verb + records[1].verb + records[2].verb, "POSTPOSTPUT");
  EXPECT_EQ(records[0].target, "/v1/logAnalytics");
  EXPECT_EQ(records[1].target, "/v1/logAnalytics");
  EXPECT_EQ(records[0].body, ExpectedReport(parameters, token, "started", machineId));
  EXPECT_EQ(records[1].body, ExpectedReport(parameters, token, "error occurred", machineId));
  for (const Recorded& record : records) EXPECT_EQ(record.status, 200) << record.target;

  // log.zip holds the installer log alone, under its own name.
  std::wstring zipPath = folder.File(L"log.zip");
  ASSERT_TRUE(testsupport::WriteFileBytes(zipPath, records[2].body));
  testsupport::ScratchFolder unzipped;
  {
    utils::FileHandle zip(
        CreateFileW(zipPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(zip.Valid());
    ASSERT_TRUE(zip::ExtractZipFromHandle(zip.Get(), unzipped.Path(), nullptr));
  }
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((unzipped.Path() + L"installer_log_*.txt").c_str(), &found);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(FindNextFileW(find, &found));
  FindClose(find);
  std::string log = testsupport::ReadFileBytes(unzipped.File(found.cFileName));
  EXPECT_TRUE(std::regex_search(log, std::regex(R"(^\[\d{8} \d\d:\d\d:\d\d [ \d]{2}\d (TRACE|ERROR|DEBUG)\] )")))
      << log.substr(0, 200);
  EXPECT_NE(log.find("DEBUG] Property uninstallOption: "), std::string::npos);
}

TEST_F(ServiceTest, EndReportsCarryTheWordOfTheSettledStatus) {
  struct Case {
    int status;
    const char* word;
  } cases[] = {{0, "canceled"}, {71, "modify completed"}, {74, ""}, {93, "remove canceled"}, {6, "stub failed"}};
  for (const Case& c : cases) {
    Parameters().status = c.status;
    size_t first = service_.Count();
    EXPECT_TRUE(core_->analytics->ReportEnd());
    std::vector<Recorded> records = service_.Since(first, 1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].body, ExpectedReport(Parameters(), WideToUtf8(Parameters().requestToken), c.word,
                                              WideToUtf8(analytics::ReportedMachineId(Parameters()))))
        << c.status;
  }
  // The final entry: the start report alone, then the end report with the upload for an error.
  Parameters().status = 2;
  std::wstring folder;
  ASSERT_TRUE(utils::CreateUniqueTempFolder(folder));
  ASSERT_TRUE(testsupport::WriteFileBytes(folder + L"setup.log", "installer log"));
  ASSERT_EQ(core::AddReportAttachment(core_, (folder + L"setup.log").c_str()), 0);
  size_t first = service_.Count();
  EXPECT_EQ(core_->analytics->ReportFinal(false), 0);
  EXPECT_EQ(core_->analytics->ReportFinal(true), 0);
  std::vector<Recorded> records = service_.Since(first, 3);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_NE(records[0].body.find("<status>started</status>"), std::string::npos);
  EXPECT_NE(records[1].body.find("<status>error occurred</status>"), std::string::npos);
  EXPECT_EQ(records[2].verb, "PUT");
}

// Values go into the documents as XML text: a receiver reads them back exactly, and nothing in
// them can add elements.
TEST_F(ServiceTest, ValuesWithMarkupCharactersAreSentEscaped) {
  Parameters().externalProperties[L"a&b"] = L"<x>R&D</x>";
  Parameters().installLanguage = L"Fran\u00e7ais <b>";
  std::string report = WideToUtf8(analytics::BuildAnalyticsDocument(Parameters(), true));
  EXPECT_NE(report.find("<installLanguage>Fran\xc3\xa7" "ais &lt;b&gt;</installLanguage>"), std::string::npos);
  EXPECT_NE(report.find("<property><name>a&amp;b</name><value>&lt;x&gt;R&amp;D&lt;/x&gt;</value></property>"
                        "<property><name>propertyName1</name>"),
            std::string::npos)
      << report;
  size_t first = service_.Count();
  EXPECT_TRUE(core_->analytics->ReportStart());
  std::vector<Recorded> records = service_.Since(first, 1);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].status, 200);
  EXPECT_EQ(records[0].body, report);
  EXPECT_EQ(analytics::XmlText(L"\"quoted\" 'text' & <tag>"), L"\"quoted\" 'text' &amp; &lt;tag&gt;");
}

// The error report zips and sends away, as administrator, only files of the run's working root.
TEST_F(ServiceTest, AttachmentsAreCheckedAndAnEmptyListSendsNothing) {
  testsupport::ScratchFolder folder;
  std::wstring runFolder;
  ASSERT_TRUE(utils::CreateUniqueTempFolder(runFolder));
  std::wstring existing = runFolder + L"setup.log", elsewhere = folder.File(L"setup.log");
  std::wstring climbing = runFolder + L"..\\..\\..\\..\\" + elsewhere.substr(3);
  ASSERT_TRUE(testsupport::WriteFileBytes(existing, "log"));
  ASSERT_TRUE(testsupport::WriteFileBytes(elsewhere, "someone else's"));
  struct Case {
    core::FrameworkCore* core;
    const wchar_t* path;
    int expected;
  } cases[] = {{nullptr, nullptr, 201},          {core_, nullptr, 201}, {nullptr, existing.c_str(), 200},
               {core_, L"C:\\no\\such.log", 202}, {core_, elsewhere.c_str(), 202}, {core_, climbing.c_str(), 202}};
  for (const Case& c : cases) EXPECT_EQ(core::AddReportAttachment(c.core, c.path), c.expected) << c.expected;
  EXPECT_TRUE(core_->analytics->Attachments().empty());

  std::wstring temp;
  ASSERT_TRUE(utils::GetLongTempPath(temp));
  auto folders = [&temp] {
    size_t count = 0;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((temp + L"*").c_str(), &data);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &data)) ++count;
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    return count;
  };
  size_t before = folders(), first = service_.Count();
  EXPECT_FALSE(core_->analytics->ReportError());
  EXPECT_EQ(folders(), before);
  EXPECT_EQ(service_.Count(), first);

  // Workers add while the list is read: every path arrives once.
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t)
    workers.emplace_back([&] {
      for (int i = 0; i < 500; ++i) core::AddReportAttachment(core_, existing.c_str());
    });
  for (int i = 0; i < 100; ++i) core_->analytics->Attachments();
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(core_->analytics->Attachments().size(), 2000u);
}

// The report is sent from a thread of its own, which the release of the core waits for; a
// failed one leaves its ERROR line.
TEST_F(ServiceTest, TrackUserActivityReportsFromItsOwnThreadAndIsAwaitedAtTheEnd) {
  size_t first = service_.Count();
  ASSERT_EQ(Call(&ExternalMethods::TrackUserActivity, {L"Offers_Installed & <more>"}, nullptr), S_OK);
  ASSERT_TRUE(core_->analytics->WaitForActivities(30000));
  std::vector<Recorded> records = service_.Since(first, 1);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].target, "/v1/logUserActivity");
  EXPECT_EQ(records[0].body, "<UserActivity><token>" + WideToUtf8(Parameters().requestToken) +
                                 "</token>" + kProductElements +
                                 "<activity>Offers_Installed &amp; &lt;more&gt;</activity></UserActivity>");
  EXPECT_EQ(LogText().find("failed!"), std::string::npos);
  EXPECT_EQ(Call(&ExternalMethods::TrackUserActivity, {}, nullptr), DISP_E_BADPARAMCOUNT);

  // With the service out of reach the report is lost, and logged.
  SetUserProxy(kProxyNamed, "127.0.0.1:1", "");
  ASSERT_EQ(Call(&ExternalMethods::TrackUserActivity, {L"Welcome_Close"}, nullptr), S_OK);
  ASSERT_TRUE(core_->analytics->WaitForActivities(30000));
  EXPECT_NE(LogText().find("ERROR] TrackUserActivityTreadFunc track activity:Welcome_Close failed!"),
            std::string::npos);

  // Through a proxy that holds the connection unanswered: the method has returned while the
  // report is under way, and the core is released only after the proxy let it go.
  testsupport::SilentServer proxy;
  SetUserProxy(kProxyNamed, proxy.Address(), "");
  ASSERT_EQ(Call(&ExternalMethods::TrackUserActivity, {L"Welcome_Next"}, nullptr), S_OK);
  ASSERT_TRUE(proxy.AwaitConnection());
  EXPECT_FALSE(core_->analytics->WaitForActivities(0));
  volatile bool letGo = false;
  std::thread releaser([&] {
    Sleep(200);
    letGo = true;
    proxy.Release();
  });
  core::ReleaseFrameworkCore(core_);
  EXPECT_TRUE(letGo);
  releaser.join();
  core_ = core::CreateFrameworkCore();
}

TEST_F(ServiceTest, IsInEmbargoedCountryIsTrueOnlyForTheExactAnswerTrue) {
  std::string big(1024 * 1024, ' ');
  struct Case {
    std::string answers;
    bool refusedProxy;
    bool expected;
    const wchar_t* country;
  } cases[] = {
      {R"({"country": "CU", "isEmbargo": "true"})", false, true, L"CU"},
      {R"({"country": "DE", "isEmbargo": "True"})", false, false, L"DE"},
      {R"({"country": "DE", "isEmbargo": " true "})", false, false, L"DE"},
      {R"({"embargoAnswer": "no tags here"})", false, false, L""},
      {R"({"embargoAnswer": ")" + big + R"(<country>CU</country><isEmbargo>true</isEmbargo>"})", false, false, L""},
      {R"({"country": "CU", "isEmbargo": "true"})", true, false, L""},
  };
  for (const Case& c : cases) {
    service_.Answer(c.answers);
    if (c.refusedProxy) SetUserProxy(kProxyNamed, "127.0.0.1:1", "");
    core_->external->SetProperty(L"Country", L"before");
    size_t first = service_.Count();
    VARIANT result = {};
    ASSERT_EQ(Call(&ExternalMethods::IsInEmbargoedCountry, {}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_BOOL);
    EXPECT_EQ(result.boolVal == VARIANT_TRUE, c.expected) << c.answers.substr(0, 60);
    EXPECT_EQ(core_->external->GetProperty(L"Country"), c.country) << c.answers.substr(0, 60);
    if (!c.refusedProxy) {
      std::vector<Recorded> records = service_.Since(first, 1);
      ASSERT_EQ(records.size(), 1u);
      EXPECT_EQ(records[0].body, "<RegionRestrictions><token>" + WideToUtf8(Parameters().requestToken) +
                                     "</token>" + kProductElements + "<channel>test</channel><os>" +
                                     WideToUtf8(Parameters().osName) +
                                     "</os><machineId>" + WideToUtf8(analytics::ReportedMachineId(Parameters())) +
                                     "</machineId></RegionRestrictions>");
    }
    ClearUserProxy();
  }
  EXPECT_NE(LogText().find("DEBUG] EMIsInEmbargoedCountry:Result: True Country: DE"), std::string::npos);
}

// A proxy named by the user is used; one that is only detected or comes from a configuration
// script is not.
TEST_F(ServiceTest, ReportsUseOnlyAProxyTheUserNamed) {
  struct Case {
    DWORD flags;
    const char* proxy;
    const char* script;
    bool sent;
  } cases[] = {{kProxyNamed, "127.0.0.1:1", "", false},
               {kProxyDetect, "", "", true},
               {kProxyScript, "", "http://127.0.0.1:1/proxy.pac", true},
               {kProxyDetect | kProxyScript, "", "http://127.0.0.1:1/proxy.pac", true}};
  for (const Case& c : cases) {
    SetUserProxy(c.flags, c.proxy, c.script);
    size_t first = service_.Count();
    EXPECT_EQ(core_->analytics->ReportStart(), c.sent) << c.flags;
    if (c.sent) {
      EXPECT_EQ(service_.Since(first, 1).size(), 1u) << c.flags;
    }
  }
}

// A service that accepts and never answers keeps no request waiting beyond its time-outs, nor the
// token exchange beyond its deadline: each ends within 15 s, failed, as if the service were away.
// The reports go through the user's proxy, here the silent server, the token exchange straight to
// it over HTTPS (the handshake is never answered) and over HTTP (the answer never comes).
TEST_F(ServiceTest, EveryRequestEndsWithinItsTimeOutsWhenTheServiceNeverAnswers) {
  const DWORD kBoundMs = 15000;
  testsupport::SilentServer silent;
  SetUserProxy(kProxyNamed, silent.Address(), "");
  std::string answer;
  VARIANT embargo = {};
  const std::wstring token = Utf8ToWide(silent.Address()) + L"/v1/token";
  struct Case {
    const char* name;
    std::function<bool()> call;
  } cases[] = {
      {"end report", [&] { return core_->analytics->ReportEnd(); }},
      {"embargo query",
       [&] { return Call(&ExternalMethods::IsInEmbargoedCountry, {}, &embargo) == S_OK && embargo.boolVal; }},
      {"token exchange over https", [&] { return analytics::PostAndRead(L"https://" + token, "x", answer, false); }},
      {"token exchange over http", [&] { return analytics::PostAndRead(L"http://" + token, "x", answer, false); }},
  };
  for (const Case& c : cases) {
    bool result = true;
    ULONGLONG start = GetTickCount64();
    EXPECT_TRUE(downloader::RunBounded([&] { result = c.call(); }, kBoundMs)) << c.name;
    printf("%s: %llu ms\n", c.name, GetTickCount64() - start);
    EXPECT_FALSE(result) << c.name;
  }
  EXPECT_TRUE(silent.AwaitConnection(0));
}

TEST_F(ServiceTest, TokenizeUrlTakesTheQuotedValueLiterallyAndOtherwiseKeepsTheUrl) {
  const std::wstring source = L"http://127.0.0.1:8080/files/package.bin";
  std::string big(1024 * 1024, 'x');
  struct Case {
    std::string answers;
    std::wstring expected;  // empty: the exchange fails
  } cases[] = {
      {R"({"tokenizedUrl": "{url}?token=a1"})", source + L"?token=a1"},
      {R"({"tokenAnswer": "{\"tokenizedUrl\":\"https:\\/\\/cdn.example\\/p?t=1\"}"})", L"https:\\/\\/cdn.example\\/p?t=1"},
      {R"({"tokenAnswer": "{\"tokenizedUrl\": \"caf\u00e9\"}"})", L"caf\u00e9"},
      {R"({"tokenizedUrl": null})", L""},
      {R"({"tokenAnswer": "{\"tokenizedUrl\": null, \"mirror\": \"http://127.0.0.1:1/other.bin\"}"})", L""},
      {R"({"tokenAnswer": "{\"tokenizedUrl\": \"\"}"})", L""},
      {R"({})", L""},
      {R"({"tokenAnswer": "{\"tokenizedUrl\": \")" + big + R"(\"}"})", L""},
  };
  for (const Case& c : cases) {
    service_.Answer(c.answers);
    std::wstring url = source;
    size_t first = service_.Count();
    EXPECT_EQ(analytics::TokenizeUrl(url), !c.expected.empty()) << c.answers.substr(0, 80);
    EXPECT_EQ(url, c.expected.empty() ? source : c.expected) << c.answers.substr(0, 80);
    std::vector<Recorded> records = service_.Since(first, 1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].target, "/v1/token");
    EXPECT_EQ(records[0].body, WideToUtf8(source));
    EXPECT_EQ(records[0].status, 200);
  }
  std::wstring empty;
  EXPECT_FALSE(analytics::TokenizeUrl(empty));
  EXPECT_EQ(analytics::TokenEndpoint(), L"https://localhost:" + std::to_wstring(analytics::ServicePort()) + L"/v1/token");

  // The answer's rules alone, and requests the tokenizer refuses before sending anything.
  struct Extract {
    const wchar_t* text;
    const wchar_t* expected;
  } extracts[] = {{L"{\"tokenizedUrl\":\t\"a\"}", L"a"}, {L"{\"tokenizedUrl\":\"a\\\"b\"}", L"a\\"},
                  {L"{\"tokenizedUrl\":\"open", L""},    {L"{\"tokenizedUrl\":\"", L""},
                  {L"{\"tokenizedUrl\":1,\"x\":\"y\"}", L""}, {L"{\"tokenizedurl\":\"a\"}", L""}};
  for (const Extract& e : extracts) EXPECT_EQ(analytics::ExtractTokenizedUrl(e.text), e.expected) << e.text;
  std::string answer = "left";
  for (const wchar_t* url : {L"ftp://localhost/v1/token", L"not a url", L"https://localhost:1/v1/token"})
    EXPECT_FALSE(analytics::PostAndRead(url, "x", answer, false)) << url;
  EXPECT_TRUE(answer.empty());
}
