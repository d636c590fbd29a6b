// The tracking thread for real, with a scripted page in place of the HTML dialog: what the page
// receives, in which passes, how the end of the process waits for its acknowledgements, its
// messages, the events of each process, and the exit step's closing event.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/ComValue.h"
#include "core/UniqueHandle.h"
#include "product/MyExternalMethods.h"
#include "product/ProductAnalytics.h"
#include "product/TrackingThread.h"
#include "support/TestSupport.h"

using namespace myexternalmethods;

namespace {

constexpr UINT kPumpedMessage = WM_APP + 1;
constexpr UINT kAcknowledgeMessage = WM_APP + 2;

enum class Acknowledge { kInsideTrackEvent, kPosted, kNever };

// What the scripted page does and what it saw; shared by the test and the tracking thread.
struct PageScript {
  bool openFails = false;
  Acknowledge acknowledge = Acknowledge::kPosted;
  std::atomic<DWORD> threadId{0};
  std::atomic<int> pumps{0};
  std::mutex lock;
  struct Call {
    std::wstring text;
    int pumpsBefore;
  };
  std::vector<Call> calls;
  size_t CallCount() {
    std::lock_guard<std::mutex> guard(lock);
    return calls.size();
  }
};

VARIANT Text(const wchar_t* text) {
  VARIANT value;
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocString(text);
  return value;
}

class ScriptedPage : public TrackerPage {
 public:
  explicit ScriptedPage(PageScript& script) : script_(script) {}
  ~ScriptedPage() override {
    if (window_) DestroyWindow(window_);
  }

  bool Open(const std::wstring&, bool) override {
    if (script_.openFails) return false;
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.lpszClassName = L"ScriptedTrackerPage";
    RegisterClassW(&windowClass);
    window_ = CreateWindowW(L"ScriptedTrackerPage", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    script_.threadId = GetCurrentThreadId();
    return window_ != nullptr;
  }

  // Records the event and posts a message, whose dispatch shows that the loop pumped in between.
  HRESULT CallJScriptFunct(const VARIANT& argument, VARIANT* result) override {
    {
      std::lock_guard<std::mutex> guard(script_.lock);
      script_.calls.push_back({argument.bstrVal, script_.pumps.load()});
    }
    PostMessageW(window_, kPumpedMessage, 0, 0);
    if (script_.acknowledge == Acknowledge::kInsideTrackEvent) Acknowledge();
    if (script_.acknowledge == Acknowledge::kPosted) PostMessageW(window_, kAcknowledgeMessage, 0, 0);
    *result = Text(L"handled");
    return S_OK;
  }

  void Acknowledge() {
    stubframework::utils::Variant message;
    *message.Out() = Text(L"eventTracked");
    PostJSMessage(*message);
  }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* page = reinterpret_cast<ScriptedPage*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (page && message == kPumpedMessage) ++page->script_.pumps;
    if (page && message == kAcknowledgeMessage) page->Acknowledge();
    return DefWindowProcW(window, message, wParam, lParam);
  }

  PageScript& script_;
  HWND window_ = nullptr;
};

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = 10000) {
  for (DWORD waited = 0; waited < timeoutMs; waited += 10, Sleep(10))
    if (condition()) return true;
  return condition();
}

std::wstring EventName(const std::wstring& json) {
  size_t start = json.find(L"\"eventName\":\"") + 13;
  return json.substr(start, json.find(L'"', start) - start);
}

std::wstring EventData(const std::wstring& json) {
  size_t start = json.find(L"\"eventData\": {\n") + 15;
  return json.substr(start, json.rfind(L"}\n}\n") - start);
}

class TrackingThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetTrackerPageFactory([this] { return std::make_unique<ScriptedPage>(script_); });
    Start();
  }
  void TearDown() override {
    releaseTrackEvent(&state_);
    SetTrackerPageFactory(nullptr);
    Settings() = AnalyticsSettings();
  }

  void Start() {
    CoreData record = {};
    wcscpy(record.productName, L"Halvern");
    ASSERT_EQ(initialize(&record), 0);
    state_ = ProductAnalyticsState();
    state_.initialised = true;
  }
  // The page's document has completed.
  void LoadPage() {
    ASSERT_TRUE(WaitFor([this] { return script_.threadId != 0; }));
    ASSERT_TRUE(PostThreadMessageW(script_.threadId, kPageLoadedMessage, 0, 0));
  }
  // How long the release took, in milliseconds.
  DWORD TimedRelease() {
    ULONGLONG start = GetTickCount64();
    releaseTrackEvent(&state_);
    return static_cast<DWORD>(GetTickCount64() - start);
  }
  std::vector<PageScript::Call> Calls() {
    std::lock_guard<std::mutex> guard(script_.lock);
    return script_.calls;
  }

  PageScript script_;
  ProductAnalyticsState state_;
};

}  // namespace

TEST_F(TrackingThreadTest, EventsQueuedBeforeThePageLoadedArriveInOrderOnePerPass) {
  for (const wchar_t* name : {L"e1", L"e2", L"e3"}) ASSERT_EQ(trackData(name, L"k=v"), 0);
  ASSERT_TRUE(WaitFor([this] { return script_.threadId != 0; }));
  Sleep(3 * kTrackPassWaitMs);
  EXPECT_EQ(script_.CallCount(), 0u);
  LoadPage();
  ASSERT_TRUE(WaitFor([this] { return script_.CallCount() == 3; }));
  std::vector<PageScript::Call> calls = Calls();
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(EventName(calls[i].text), L"e" + std::to_wstring(i + 1));
    if (i > 0) {
      EXPECT_GT(calls[i].pumpsBefore, calls[i - 1].pumpsBefore) << "event " << i + 1 << " in the same pass";
    }
  }
}

TEST_F(TrackingThreadTest, TheEndWaitsForAcknowledgementsForAtMostTheDrainingPeriod) {
  const struct {
    Acknowledge acknowledge;
    bool drainsFully;
  } cases[] = {{Acknowledge::kInsideTrackEvent, false}, {Acknowledge::kPosted, false}, {Acknowledge::kNever, true}};
  for (const auto& c : cases) {
    script_.acknowledge = c.acknowledge;
    script_.calls.clear();
    script_.threadId = 0;
    for (const wchar_t* name : {L"a", L"b"}) ASSERT_EQ(trackData(name, L""), 0);
    LoadPage();
    ASSERT_TRUE(WaitFor([this] { return script_.CallCount() == 2; }));
    DWORD took = TimedRelease();
    if (c.drainsFully) {
      EXPECT_GE(took, kTrackDrainMs - 100);
      EXPECT_LT(took, 2 * kTrackDrainMs);
    } else {
      EXPECT_LT(took, kTrackDrainMs / 2) << static_cast<int>(c.acknowledge);
    }
    Start();
  }
}

TEST_F(TrackingThreadTest, APageThatCannotOpenOrNeverLoadsEndsTheThreadWithinTheBoundedWaits) {
  script_.openFails = true;
  ASSERT_EQ(trackData(L"lost", L""), 0);
  {
    stubframework::utils::KernelHandle exited(
        OpenEventW(SYNCHRONIZE, FALSE, TrackThreadEventName(true, GetCurrentProcessId()).c_str()));
    ASSERT_TRUE(exited.Valid());
    EXPECT_EQ(WaitForSingleObject(exited.Get(), kTrackDrainMs), WAIT_OBJECT_0);
  }
  EXPECT_LT(TimedRelease(), kTrackDrainMs / 2);
  // The real dialog: under Wine the web-browser control navigates but its document never completes.
  Start();
  SetTrackerPageFactory(nullptr);
  ASSERT_EQ(trackData(L"lost", L""), 0);
  {
    stubframework::utils::KernelHandle exited(
        OpenEventW(SYNCHRONIZE, FALSE, TrackThreadEventName(true, GetCurrentProcessId()).c_str()));
    ASSERT_TRUE(exited.Valid());
    EXPECT_LT(TimedRelease(), kTrackDrainMs + kTrackDrainMs / 2);
    EXPECT_EQ(WaitForSingleObject(exited.Get(), 0), WAIT_OBJECT_0);
  }
  EXPECT_EQ(script_.CallCount(), 0u);
}

TEST_F(TrackingThreadTest, PageMessagesAcknowledgeExactlyOrAreLoggedLiterally) {
  Settings().logEnabled = true;
  Settings().logThreshold = 2;
  const std::wstring marker = L"JS DEBUG: 100% done %s %d " + std::to_wstring(GetTickCount64());
  ScriptedPage page(script_);
  page.AddPendingAcknowledgement(2);
  const struct {
    std::wstring message;
    int pending;
  } cases[] = {{L"eventtracked", 2}, {L"eventTracked ", 2}, {L"eventTracked", 1}, {L"eventTracked", 0},
               {L"eventTracked", 0}, {marker, 0},          {L"js debug: " + marker, 0}};
  for (const auto& c : cases) {
    stubframework::utils::Variant message;
    *message.Out() = Text(c.message.c_str());
    page.PostJSMessage(*message);
    EXPECT_EQ(page.PendingAcknowledgements(), c.pending) << c.message;
  }
  VARIANT number;
  number.vt = VT_I4;
  number.lVal = 7;
  page.PostJSMessage(number);
  page.AddPendingAcknowledgement(1);
  EXPECT_EQ(page.PendingAcknowledgements(), 1);
  std::string log = testsupport::ReadFileBytes(AnalyticsLogPath());
  std::string literal(marker.begin(), marker.end());
  EXPECT_NE(log.find(" TRACE] " + literal + "\n"), std::string::npos);
  EXPECT_EQ(log.find("js debug: " + literal), std::string::npos);
}

TEST_F(TrackingThreadTest, EachProcessUsesItsOwnPairOfEvents) {
  ASSERT_EQ(trackData(L"parent", L""), 0);
  LoadPage();
  const DWORD self = GetCurrentProcessId();
  EXPECT_EQ(TrackThreadEventName(false, self), L"Local\\TrackThreadExit" + std::to_wstring(self));
  EXPECT_EQ(TrackThreadEventName(true, self), L"Local\\TrackThreadExited" + std::to_wstring(self));
  stubframework::utils::KernelHandle exit(OpenEventW(SYNCHRONIZE, FALSE, TrackThreadEventName(false, self).c_str()));
  ASSERT_TRUE(exit.Valid());
  SetEnvironmentVariableW(L"HALVERN_TRACK_PARENT", std::to_wstring(self).c_str());
  testsupport::ProcessResult child = testsupport::RunAndWait(
      testsupport::ProgramFolder() + L"product_tests.exe",
      L"product_tests.exe --gtest_also_run_disabled_tests "
      L"--gtest_filter=TrackingThreadTest.DISABLED_ChildProcessStartsAndEndsItsOwnThread",
      60000);
  SetEnvironmentVariableW(L"HALVERN_TRACK_PARENT", nullptr);
  EXPECT_TRUE(child.finished);
  EXPECT_EQ(child.exitCode, 0u);
  // The child's end did not ask this process's thread to end.
  EXPECT_EQ(WaitForSingleObject(exit.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

// Run by EachProcessUsesItsOwnPairOfEvents as a second process.
TEST_F(TrackingThreadTest, DISABLED_ChildProcessStartsAndEndsItsOwnThread) {
  wchar_t parent[32] = {};
  ASSERT_GT(GetEnvironmentVariableW(L"HALVERN_TRACK_PARENT", parent, 32), 0u);
  const DWORD parentId = wcstoul(parent, nullptr, 10);
  ASSERT_NE(parentId, GetCurrentProcessId());
  ASSERT_EQ(trackData(L"child", L""), 0);
  LoadPage();
  ASSERT_TRUE(WaitFor([this] { return script_.CallCount() == 1; }));
  stubframework::utils::KernelHandle own(
      OpenEventW(SYNCHRONIZE, FALSE, TrackThreadEventName(true, GetCurrentProcessId()).c_str()));
  ASSERT_TRUE(own.Valid());
  releaseTrackEvent(&state_);
  EXPECT_EQ(WaitForSingleObject(own.Get(), 0), WAIT_OBJECT_0);
  stubframework::utils::KernelHandle parentExited(
      OpenEventW(SYNCHRONIZE, FALSE, TrackThreadEventName(true, parentId).c_str()));
  ASSERT_TRUE(parentExited.Valid());
  EXPECT_EQ(WaitForSingleObject(parentExited.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST_F(TrackingThreadTest, TrackDataRefusesWhatThePageCouldNotUse) {
  const struct {
    const wchar_t* name;
    const wchar_t* data;
    int32_t result;
  } cases[] = {{nullptr, L"", 201}, {L"", L"", 201},     {L"e", L"a=b=c", 201},
               {L"e", L"a=", 201},  {L"e", L"a|b=c", 201}, {L"e", L"a==b", 0}};
  for (const auto& c : cases) EXPECT_EQ(trackData(c.name, c.data), c.result) << (c.data ? c.data : L"");
  LoadPage();
  ASSERT_TRUE(WaitFor([this] { return script_.CallCount() == 1; }));
  EXPECT_EQ(EventData(Calls()[0].text), L"\"a\":\"b\"");
  EXPECT_EQ(initialize(nullptr), 1);
  releaseTrackEvent(&state_);
  EXPECT_FALSE(state_.initialised);
  EXPECT_EQ(trackData(L"e", L""), 200);
  EXPECT_EQ(initialize(nullptr), 201);
}

TEST_F(TrackingThreadTest, TheExitStepClosesTheRunUnlessThePageDid) {
  TrackingProperties properties;
  properties.application = L"Halvern";
  properties.deviceLang = L"en";
  const std::wstring kProperties = L"|install.application=Halvern|device.lang=en";
  const struct {
    const wchar_t* pageEvent;  // sent through trackingByAnalyticsSDK right before the exit step
    const wchar_t* pageData;
    bool abnormalEnd;
    std::vector<std::wstring> received;  // names and data of what the page gets
  } cases[] = {
      {L"INSTALL.COMPLETED", L"install.completed=OK", false,
       {L"INSTALL.COMPLETED", L"install.completed=OK" + kProperties}},
      {L"install.start", L"", false,
       {L"install.start", kProperties.substr(1), L"install.completed",
        L"install.completed=CNX|install.fail-reason=UserCanceled" + kProperties}},
      {nullptr, nullptr, true,
       {L"install.completed", L"install.completed=NOK|install.fail-reason=UnknowError" + kProperties}},
  };
  for (const auto& c : cases) {
    script_.calls.clear();
    script_.threadId = 0;
    if (c.pageEvent) TrackingByAnalyticsSDK(nullptr, &state_, &properties, c.pageEvent, c.pageData);
    FinishProductAnalytics(&state_, &properties, c.abnormalEnd, 0);
    EXPECT_TRUE(state_.completedSent);
    LoadPage();
    ASSERT_TRUE(WaitFor([&] { return script_.CallCount() == c.received.size() / 2; }));
    Sleep(3 * kTrackPassWaitMs);
    std::vector<std::wstring> received;
    for (const auto& call : Calls()) {
      received.push_back(EventName(call.text));
      std::wstring data;
      // The eventData members back as key=value pairs.
      std::wstring members = EventData(call.text);
      for (size_t at = 0; (at = members.find(L'"', at)) != std::wstring::npos;) {
        size_t keyEnd = members.find(L'"', at + 1);
        size_t valueStart = members.find(L'"', keyEnd + 1);
        size_t valueEnd = members.find(L'"', valueStart + 1);
        data += (data.empty() ? L"" : L"|") + members.substr(at + 1, keyEnd - at - 1) + L"=" +
                members.substr(valueStart + 1, valueEnd - valueStart - 1);
        at = valueEnd + 1;
      }
      received.push_back(data);
    }
    EXPECT_EQ(received, c.received) << (c.pageEvent ? c.pageEvent : L"(none)");
    releaseTrackEvent(&state_);
    Start();
  }
}
