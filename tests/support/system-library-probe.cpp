// Calls one function of each system library that is no known DLL, linked as the stub is, and
// checks that the call is what loads the library, from the system folder. The order puts each
// library after those that Wine's copies of the others import. Exit code: 0 when every library was
// loaded so; 10 + i when library i was loaded before its call (an import of the program's own);
// 20 + i when its call left it unloaded or loaded from elsewhere.
#include <windows.h>
#include <bcrypt.h>
#include <msi.h>
#include <urlmon.h>
#include <wincrypt.h>
#include <wininet.h>

#include <cwchar>
#include <initializer_list>

// winhttp.h and wininet.h cannot be included together.
extern "C" BOOL WINAPI WinHttpCheckPlatform();

namespace {

void CallVersion() {
  DWORD handle = 0;
  GetFileVersionInfoSizeW(L"kernel32.dll", &handle);
}

void CallBcrypt() {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA1_ALGORITHM, nullptr, 0) == 0)
    BCryptCloseAlgorithmProvider(algorithm, 0);
}

void CallWinhttp() { WinHttpCheckPlatform(); }

void CallWininet() {
  DWORD flags = 0;
  InternetGetConnectedState(&flags, 0);
}

void CallCrypt32() {
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  if (store) CertCloseStore(store, 0);
}

void CallUrlmon() {
  char agent[512];
  DWORD size = sizeof(agent);
  ObtainUserAgentString(0, agent, &size);
}

void CallMsi() { MsiCloseHandle(0); }

const struct {
  const wchar_t* name;
  void (*call)();
} kLibraries[] = {
    {L"version.dll", CallVersion}, {L"bcrypt.dll", CallBcrypt},   {L"winhttp.dll", CallWinhttp},
    {L"wininet.dll", CallWininet}, {L"crypt32.dll", CallCrypt32}, {L"urlmon.dll", CallUrlmon},
    {L"msi.dll", CallMsi},
};

// A 32-bit program on 64-bit Windows may see its system libraries in either folder.
bool InSystemFolder(const wchar_t* path) {
  wchar_t folder[MAX_PATH] = {};
  for (auto get : {GetSystemDirectoryW, GetSystemWow64DirectoryW}) {
    UINT length = get(folder, MAX_PATH);
    if (length > 0 && length < MAX_PATH && _wcsnicmp(path, folder, length) == 0 && path[length] == L'\\' &&
        !wcschr(path + length + 1, L'\\'))
      return true;
  }
  return false;
}

}  // namespace

int wmain() {
  for (int i = 0; i < static_cast<int>(sizeof(kLibraries) / sizeof(kLibraries[0])); ++i) {
    if (GetModuleHandleW(kLibraries[i].name)) return 10 + i;
    kLibraries[i].call();
    HMODULE module = GetModuleHandleW(kLibraries[i].name);
    wchar_t path[MAX_PATH] = {};
    if (!module || !GetModuleFileNameW(module, path, MAX_PATH) || !InSystemFolder(path)) return 20 + i;
  }
  return 0;
}
