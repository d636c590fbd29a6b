#pragma once
// Helpers shared by the test programs.
#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/MessagePump.h"
#include "core/UniqueHandle.h"

namespace testsupport {

// A fresh folder under the temporary directory, deleted with its content on destruction.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  // With trailing backslash.
  const std::wstring& Path() const { return path_; }
  std::wstring File(const std::wstring& name) const { return path_ + name; }

 private:
  std::wstring path_;
};

std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool PathExists(const std::wstring& path);

// The names in folder (with trailing backslash) that match pattern, "." and ".." left out.
std::vector<std::wstring> FolderEntries(const std::wstring& folder, const std::wstring& pattern);

// An ASCII or UTF-8 text of a log as a wide string.
std::wstring Wide(const std::string& text);

// The folder of the running test program, with trailing backslash (HalvernSetup.exe lies there).
std::wstring ProgramFolder();
// A folder named by an environment variable, in Windows form with a trailing backslash (Linux
// paths go through Z:); empty when the variable is not set.
std::wstring EnvironmentFolder(const wchar_t* name);
// The source tree (HALVERN_SOURCE_DIR).
inline std::wstring SourceFolder() { return EnvironmentFolder(L"HALVERN_SOURCE_DIR"); }

struct ProcessResult {
  bool started = false;
  bool finished = false;
  DWORD exitCode = 0;
};

// Starts application with the command line and waits up to timeoutMs for it to end. With
// pumpMessages the calling thread keeps serving its windows while it waits.
ProcessResult RunAndWait(const std::wstring& application, const std::wstring& commandLine,
                         DWORD timeoutMs, bool pumpMessages = false);

// Copies the planted stand-ins of the named system libraries (PlantedLibraries.h) from the
// build's "planted" folder into folder; false when one is missing.
bool PlantLibraries(const std::wstring& folder, const std::vector<std::wstring>& names);

// Wine's load order for the named libraries in the programs of that file name that this process
// starts, until destroyed: "native,builtin" looks beside the program first, as Windows does for a
// library that is no known DLL ("name=n,b" in WINEDLLOVERRIDES); "" leaves them unloadable. Wine
// takes WINEDLLOVERRIDES from its own start, never from the environment a program passes on, so
// this goes through its per-program registry settings, which come after the test environment's
// own overrides.
class DllOverrides {
 public:
  DllOverrides(const std::wstring& program, const std::vector<std::wstring>& names, const std::wstring& mode);
  ~DllOverrides();
  DllOverrides(const DllOverrides&) = delete;
  DllOverrides& operator=(const DllOverrides&) = delete;

 private:
  std::wstring key_;
};

// Registry helpers for fixtures: remove a whole key tree (both views), read a REG_SZ value.
void DeleteKeyTree(HKEY root, const std::wstring& subkey);
bool ReadStringValue(HKEY root, const std::wstring& subkey, const std::wstring& name,
                     std::wstring& value);

// Makes link a symbolic link to the folder target, from the Linux side: Wine cannot make links
// itself, and shows such a link as a folder with FILE_ATTRIBUTE_REPARSE_POINT, the way Windows
// shows a junction. RemoveFolderLink removes the link alone (Wine cannot). Both return once the
// change is visible, false when it did not become so.
bool MakeFolderLink(const std::wstring& target, const std::wstring& link);
bool RemoveFolderLink(const std::wstring& link);

// The user's proxy setting as the system's settings dialog stores it, which WinHTTP reads for the
// user's Internet Explorer configuration: flags of these, the proxy ("host:port") and the
// configuration script's URL.
constexpr DWORD kProxyNamed = 2, kProxyScript = 4, kProxyDetect = 8;
bool SetUserProxy(DWORD flags, const std::string& proxy, const std::string& autoConfigUrl);
void ClearUserProxy();

// A server on a loopback port that accepts every connection and never answers, as a service or a
// proxy that has hung. The connections are held until Release or the end, then closed.
class SilentServer {
 public:
  SilentServer();
  ~SilentServer();
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;

  int Port() const { return port_; }
  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
  // True once a connection came within ms.
  bool AwaitConnection(DWORD ms = 30000) const { return WaitForSingleObject(accepted_.Get(), ms) == WAIT_OBJECT_0; }
  // Closes what is held, and every connection from now on at once.
  void Release();

 private:
  static DWORD WINAPI Accept(void* server);

  uintptr_t listener_;
  int port_ = 0;
  stubframework::utils::KernelHandle accepted_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  CRITICAL_SECTION lock_;
  bool released_ = false;
  std::vector<uintptr_t> held_;
  stubframework::utils::KernelHandle thread_;
};

// A script function as a worker sees it: records the VT_I4 arguments of every call. Calls with
// the first argument 10 (Running) are progress reports, every other one is a final call.
class RecordingCallback : public IDispatch {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid != IID_IUnknown && iid != IID_IDispatch) return *object = nullptr, E_NOINTERFACE;
    *object = this;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return *count = 0, S_OK; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    std::vector<int> values;
    for (UINT i = params->cArgs; i > 0; --i) values.push_back(params->rgvarg[i - 1].lVal);
    calls.push_back(values);
    return S_OK;
  }
  std::vector<int> Final() const {
    for (const auto& call : calls)
      if (!call.empty() && call[0] != kRunning) return call;
    return {};
  }
  int Finals() const {
    int count = 0;
    for (const auto& call : calls) count += !call.empty() && call[0] != kRunning;
    return count;
  }
  // Serves the calling thread's messages (where marshalled calls arrive) until a final call came
  // or timeoutMs passed.
  void AwaitFinal(DWORD timeoutMs) {
    stubframework::core::PumpMessagesUntil([this] { return Finals() > 0; }, timeoutMs, 10);
  }
  std::vector<std::vector<int>> calls;

 private:
  static constexpr int kRunning = 10;
};

}  // namespace testsupport
