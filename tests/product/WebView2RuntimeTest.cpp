// Authenticode checks and the WebView2 runtime's install: stand-ins for the bootstrapper, signed
// at test time by a throwaway certificate authority that the fixture trusts in the prefix's Root
// store before this program starts (Wine's chain engine does not see a root added later in the
// same process), served by the fault server on loopback, which logs every request.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>

#include "core/FrameworkCore.h"
#include "core/Signature.h"
#include "core/UniqueHandle.h"
#include "core/WorkingFolders.h"
#include "product/MyExternalMethods.h"
#include "product/WebView2Runtime.h"
#include "support/TestCore.h"
#include "support/TestSupport.h"

using namespace myexternalmethods;

namespace {

const wchar_t kClientSubkey[] =
    L"SOFTWARE\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";

std::wstring Fixture(const std::wstring& name) {
  std::wstring folder = testsupport::EnvironmentFolder(L"HALVERN_METHOD_FIXTURES");
  return folder.empty() ? folder : folder + name;
}

std::wstring Bootstrapper(const std::wstring& kind) {
  return Fixture(L"bootstrapper-" + kind + (sizeof(void*) == 8 ? L"-64.exe" : L"-32.exe"));
}

// A Linux path of the servers' files in Wine's Z: form.
std::wstring WindowsPath(const std::string& path) {
  std::wstring windows = L"Z:" + std::wstring(path.begin(), path.end());
  for (wchar_t& c : windows)
    if (c == L'/') c = L'\\';
  return windows;
}

// Bootstrapper files left in the temporary directory's folders.
int LeftBootstrappers() {
  std::wstring temp;
  if (!stubframework::utils::GetLongTempPath(temp)) return -1;
  int count = 0;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((temp + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      count += testsupport::PathExists(temp + found.cFileName + L"\\MicrosoftEdgeWebview2Setup.exe");
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return count;
}

class WebView2RuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Fixture(L"").empty()) << "HALVERN_METHOD_FIXTURES is not set";
    RemoveRuntime();
  }
  void TearDown() override { RemoveRuntime(); }
  static void RemoveRuntime() {
    testsupport::DeleteKeyTree(HKEY_LOCAL_MACHINE, kClientSubkey);
    testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kClientSubkey);
  }
  // Serves the file through the fault server under a tag of its own; false without servers.
  bool Serve(const std::wstring& file, const std::string& tag, std::wstring& url) {
    const char* list = getenv("HALVERN_TEST_SERVERS");
    std::string servers = list ? testsupport::ReadFileBytes(WindowsPath(list)) : std::string();
    std::string port, docroot;
    for (size_t begin = 0; begin < servers.size();) {
      size_t end = servers.find('\n', begin);
      std::string line = servers.substr(begin, end - begin);
      begin = end == std::string::npos ? servers.size() : end + 1;
      if (line.rfind("fault_port=", 0) == 0) port = line.substr(11);
      if (line.rfind("docroot=", 0) == 0) docroot = line.substr(8);
      if (line.rfind("requests_log=", 0) == 0) requestsLog_ = line.substr(13);
    }
    if (port.empty() || docroot.empty()) return false;
    std::wstring served = WindowsPath(docroot + "/" + tag + ".exe");
    if (!CopyFileW(file.c_str(), served.c_str(), FALSE)) return false;
    url = L"http://127.0.0.1:" + std::wstring(port.begin(), port.end()) + L"/" + std::wstring(tag.begin(), tag.end()) +
          L".exe?tag=" + std::wstring(tag.begin(), tag.end());
    return true;
  }
  int Requests(const std::string& tag) {
    std::string log = testsupport::ReadFileBytes(WindowsPath(requestsLog_));
    int count = 0;
    for (size_t at = 0; (at = log.find(tag + "\t", at)) != std::string::npos; at += tag.size())
      count += at == 0 || log[at - 1] == '\n';
    return count;
  }
  std::string Log() { return testsupport::ReadFileBytes(core_.log->FilePath()); }

  testsupport::TestCore test_{[](stubframework::core::FrameworkCore* core) { return new MyExternalMethods(core); }};
  stubframework::core::FrameworkCore& core_ = test_.core;
  std::string requestsLog_;
};

}  // namespace

TEST_F(WebView2RuntimeTest, SignaturesVerifyOnlyWhenIntactAndChainedToATrustedRoot) {
  const struct {
    const wchar_t* kind;
    LONG status;
  } cases[] = {
      {L"signed", ERROR_SUCCESS},
      {L"unsigned", TRUST_E_NOSIGNATURE},
      {L"changed", TRUST_E_BAD_DIGEST},
  };
  for (const auto& c : cases) {
    std::wstring path = Bootstrapper(c.kind);
    EXPECT_EQ(stubframework::core::VerifyFileSignature(path), c.status) << testing::PrintToString(path);
    stubframework::utils::FileHandle file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(stubframework::core::VerifyFileSignature(path, file.Get()), c.status) << "through the handle";
  }
  EXPECT_EQ(stubframework::core::VerifyFileSignature(Fixture(L"missing.exe")) == ERROR_SUCCESS, false);

}

// A publisher is its key: the same signer in both architectures' files, none for an unsigned
// file, another for another publisher; a file runs only when intact, trusted and signed by a
// pinned key.
TEST_F(WebView2RuntimeTest, OnlyIntactFilesOfAPinnedPublisherKeyPass) {
  using stubframework::core::SignedByPinnedPublisher;
  using stubframework::core::SignerKeyHash;
  const std::wstring signer = SignerKeyHash(Bootstrapper(L"signed"));
  ASSERT_EQ(signer.size(), 64u);
  EXPECT_EQ(SignerKeyHash(Fixture(L"bootstrapper-signed-32.exe")), SignerKeyHash(Fixture(L"bootstrapper-signed-64.exe")));
  EXPECT_EQ(SignerKeyHash(Bootstrapper(L"changed")), signer);
  EXPECT_NE(SignerKeyHash(Bootstrapper(L"other")), signer);
  EXPECT_EQ(SignerKeyHash(Bootstrapper(L"unsigned")), L"");
  const std::wstring pins[] = {L"00" + signer.substr(2), signer};
  const struct {
    const wchar_t* kind;
    size_t pinCount;
    bool passes;
    const wchar_t* why;
  } cases[] = {
      {L"signed", 2, true, L"signed by the pinned publisher "},
      {L"signed", 1, false, L"which is not pinned"},
      {L"other", 2, false, L"which is not pinned"},
      {L"selfsigned", 2, false, L""},  // Windows finds no trusted root, Wine's check no pin: both refuse
      {L"changed", 2, false, L"not intact and trusted"},
      {L"unsigned", 2, false, L"not intact and trusted"},
      {L"unsigned", 0, true, L"no publisher is pinned in this build"},
  };
  for (const auto& c : cases) {
    std::wstring why;
    EXPECT_EQ(SignedByPinnedPublisher(Bootstrapper(c.kind), nullptr, pins, c.pinCount, why), c.passes) << c.kind;
    EXPECT_NE(why.find(c.why), std::wstring::npos) << c.kind << ": " << testing::PrintToString(why);
  }
}

TEST_F(WebView2RuntimeTest, RunsOnlyAVerifiedBootstrapperFetchedPastTheCacheAndDeletesIt) {
  const struct {
    const wchar_t* kind;
    const char* tag;
    bool installed;
  } cases[] = {
      {L"unsigned", "wv2-unsigned", false},
      {L"unsigned", "wv2-unsigned", false},  // again: fetched anew, not from the cache
      {L"changed", "wv2-changed", false},
      {L"signed", "wv2-signed", true},
  };
  int left = LeftBootstrappers();
  int expectedRequests = 0;
  for (const auto& c : cases) {
    std::wstring url;
    ASSERT_TRUE(Serve(Bootstrapper(c.kind), c.tag, url)) << "HALVERN_TEST_SERVERS";
    EXPECT_EQ(EnsureWebView2Runtime(&core_, url), c.installed) << c.tag;
    EXPECT_EQ(InstalledWebView2Version(), c.installed ? L"120.0.2210.91" : L"") << c.tag;
    expectedRequests = std::string(c.tag) == "wv2-unsigned" ? expectedRequests + 1 : 1;
    EXPECT_EQ(Requests(c.tag), expectedRequests) << c.tag;
    EXPECT_EQ(LeftBootstrappers(), left) << c.tag;
  }
  EXPECT_NE(Log().find("WebView2 bootstrapper refused: its signature does not verify (0x800b0100)"), std::string::npos);

  // Present now: no request at all, and the method answers true.
  std::wstring url;
  ASSERT_TRUE(Serve(Bootstrapper(L"signed"), "wv2-present", url));
  EXPECT_TRUE(EnsureWebView2Runtime(&core_, url));
  EXPECT_EQ(Requests("wv2-present"), 0);
  {
    MyExternalMethods& methods = *static_cast<MyExternalMethods*>(test_.methods);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT result;
    result.vt = VT_EMPTY;
    EXPECT_EQ(methods.DownloadAndInstallWV2RT(DISPATCH_METHOD, &none, &result), S_OK);
    EXPECT_EQ(result.vt, VT_BOOL);
    EXPECT_EQ(result.boolVal, VARIANT_TRUE);
    EXPECT_EQ(methods.DownloadAndInstallWV2RT(DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none, &result),
              DISP_E_MEMBERNOTFOUND);
  }

  // A registration left by an uninstalled runtime does not count; the user's own does.
  stubframework::utils::RegistryKey key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kClientSubkey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Out(), nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(key.Get(), L"pv", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"121.0.1.2"), sizeof(L"121.0.1.2"));
  testsupport::DeleteKeyTree(HKEY_LOCAL_MACHINE, kClientSubkey);
  EXPECT_EQ(InstalledWebView2Version(), L"121.0.1.2");
  RegSetValueExW(key.Get(), L"pv", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"0.0.0.0"), sizeof(L"0.0.0.0"));
  EXPECT_EQ(InstalledWebView2Version(), L"");
}
