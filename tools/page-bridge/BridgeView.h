#pragma once
// The page bridge's view of the pages: instead of the HTML document, the main window's pages are
// served over HTTP on 127.0.0.1 to a browser, whose window.external becomes a proxy of the real
// external object. Every request carries the run's random token in its path. A call from the page
// runs on the user-interface thread as the HTML engine would make it there (name lookup, then
// InvokeEx with the call site's flags); a page function handed to a method becomes a callback
// object whose calls reach the page and return once the page's function has run, while the
// thread keeps serving the calls the page makes meanwhile.
#include <winsock2.h>  // before windows.h, which would bring the old sockets header
#include <windows.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "page-bridge/HttpServer.h"
#include "page-bridge/Json.h"
#include "core/MainWindow.h"

namespace stubframework::core {
class HtmlExternal;
}

namespace pagebridge {

// What a script sees when it calls a function of a page that has gone (the engine's "Can't
// execute code from a freed script").
constexpr HRESULT kFreedScript = static_cast<HRESULT>(0x800A01BD);
// How long a page's poll for callbacks is held open when none comes.
constexpr DWORD kPollHoldMs = 20000;

struct BridgeOptions {
  std::wstring packageFolder;  // served instead of the run's resource folder when not empty
  std::string script;          // the browser side, sent ahead of every page's own scripts
  unsigned short port = 0;     // 0: any free port
  bool answerBoxes = false;    // unattended runs: message boxes are answered OK after a second
};

class BridgeView : public stubframework::core::PageView, public HttpHandler {
 public:
  explicit BridgeView(BridgeOptions options);

  // The address of the entry page, token included; empty before the window opened.
  std::string PageUrl();

  bool Open(HWND window, const wchar_t* pagePath, stubframework::core::HtmlExternal* external) override;
  void Close() override;
  HttpResponse Handle(const HttpRequest& request) override;

  // A callback object's call, on the user-interface thread.
  HRESULT CallPage(int generation, int function, DISPPARAMS* params);
  // Runs one page request on the user-interface thread (the bridge's message window).
  void Perform(struct PendingCall* call);

 private:
  struct PageEvent {
    int id;
    int generation;
    int function;
    std::string arguments;  // JSON array
    bool delivered = false;
    bool finished = false;
    HRESULT result = S_OK;
  };

  // Prints the entry page's address, and writes it to the file HALVERN_BRIDGE_URL_FILE names.
  void Announce();
  HttpResponse Static(const std::string& relative);
  HttpResponse Hello(const JsonValue& body);
  HttpResponse Poll(const JsonValue& body);
  HttpResponse Call(const std::string& body);
  std::string Status();
  std::string WindowState();
  // Ends every event of generations before current (all of them when closing): delivered ones
  // count as run, the others as calls into a freed page. Called with the lock held.
  void RetireEvents(int current);
  std::string Invoke(const JsonValue& request);
  bool ToVariant(const JsonValue& value, int generation, VARIANT& out);
  std::string FromVariant(const VARIANT& value, int generation);

  BridgeOptions options_;
  std::string token_;
  std::wstring folder_;  // with a trailing backslash
  HttpServer server_;
  bool serverStarted_ = false;
  stubframework::core::HtmlExternal* external_ = nullptr;
  HWND messageWindow_ = nullptr;
  HANDLE closedEvent_ = nullptr;  // set when the window has gone: waiting calls give up
  HANDLE wakeEvent_ = nullptr;    // an event finished: the waiting callback looks again
  int callDepth_ = 0;             // page calls running on the user-interface thread

  std::mutex lock_;
  std::condition_variable eventQueued_;
  HWND window_ = nullptr;
  bool open_ = false;
  bool closed_ = false;  // the window was open and has gone
  int generation_ = 0;
  int eventSerial_ = 0;
  std::wstring page_;
  std::vector<std::wstring> boxes_;
  std::deque<std::shared_ptr<PageEvent>> queue_;
  std::map<int, std::shared_ptr<PageEvent>> inFlight_;
};

// A page request waiting for the user-interface thread; the waiting connection and the thread
// each hold a reference.
struct PendingCall {
  std::string request;
  std::string response;
  HANDLE done = nullptr;
  LONG references = 2;
  void Release();
};

// The page's path below the served folder from a request path, in Windows form; false for
// anything that could leave the folder or name no plain file (.., drive letters, backslashes,
// NULs, bad escapes).
bool ResolvePagePath(const std::string& requestPath, std::wstring& relative);
// page with the bridge's script tag put before its first script: right after the <head> tag, else
// after <html>, else at the start.
std::string InjectScript(const std::string& page, const std::string& tag);

}  // namespace pagebridge
