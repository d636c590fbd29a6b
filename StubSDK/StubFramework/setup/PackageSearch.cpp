#include "setup/PackageSearch.h"

#include <cwchar>
#include <memory>

#include "core/FrameworkCore.h"
#include "htmlui/ScriptCallback.h"
#include "methods/ExternalMethods.h"
#include "setup/CommandWorker.h"
#include "setup/ProgressReporter.h"
#include "setup/WorkerSet.h"
#include "setup/Workflow.h"

namespace stubframework::setup {

std::atomic<bool> keepSearching{false};

namespace {

// folder ends with a separator.
bool SearchFolder(const std::wstring& folder, const std::wstring& relativePath, const std::wstring& name,
                  std::wstring& found) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  bool ok = false;
  do {
    if (!keepSearching) break;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0) continue;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
      ok = SearchFolder(folder + data.cFileName + L"\\", relativePath, name, found);
    } else if (name == data.cFileName) {
      ok = PackageFolder(folder + data.cFileName, relativePath, found);
    }
  } while (!ok && FindNextFileW(find, &data));
  FindClose(find);
  return ok;
}

DWORD WINAPI VerifyThreadFunc(void* parameter) {
  std::unique_ptr<SearchRequest> request(static_cast<SearchRequest*>(parameter));
  core::FrameworkCore* core = request->owner->Core();
  MultithreadedApartment apartment;
  htmlui::ScriptCallback callback;
  HRESULT hr = callback.Attach(request->callbackStream);
  if (FAILED(hr)) {
    core::FrameworkLogError(core, L"VerifyThreadFunc CoGetInterfaceAndReleaseStream  failed with: %x",
                            static_cast<unsigned>(hr));
    return 0;
  }
  std::wstring found;
  bool ok = FindPackage(request->directory, request->relativePath, found);
  core->external->SetProperty(L"PackagePath", found);
  bool going = keepSearching;
  core::FrameworkLogDebug(core, L"VerifyThreadFunc parameters: %s - %s", request->directory.c_str(),
                          request->relativePath.c_str());
  core::FrameworkLogDebug(core, L"VerifyThreadFunc %d - %d ; common directory: %s", ok ? 1 : 0, going ? 1 : 0,
                          found.c_str());
  Config_ErrorHandle result =
      !going ? Config_ErrorHandle::Cancelled : ok ? Config_ErrorHandle::NoError : Config_ErrorHandle::Failure;
  if (!core->workers->Closing()) callback.Call({static_cast<int>(result)});
  return 0;
}

}  // namespace

bool PackageFolder(const std::wstring& full, const std::wstring& relativePath, std::wstring& found) {
  size_t start = relativePath.find_first_not_of(L'\\');
  if (start == std::wstring::npos) return false;
  size_t length = relativePath.size() - start;
  if (full.size() <= length) return false;
  size_t at = full.size() - length;
  if (full.compare(at, length, relativePath, start, length) != 0 || full[at - 1] != L'\\') return false;
  found = full.substr(0, at);
  return true;
}

bool FindPackage(const std::wstring& directory, const std::wstring& relativePath, std::wstring& found) {
  if (directory.empty()) return false;
  std::wstring name = relativePath.substr(relativePath.rfind(L'\\') + 1);
  if (name.empty()) return false;
  return SearchFolder(directory.back() == L'\\' ? directory : directory + L"\\", relativePath, name, found);
}

}  // namespace stubframework::setup

namespace stubframework {

HRESULT ExternalMethods::VerifyFileInSpecialDirectory(WORD flags, DISPPARAMS* params, VARIANT*) {
  core::FrameworkLogDebug(core_, L"EMVerifyFileInSpecialDirectory");
  HRESULT hr = CheckArguments(flags, kFlagsMethod, params, {VT_BSTR, VT_BSTR, VT_DISPATCH});
  if (FAILED(hr)) return hr;
  auto request = std::make_unique<setup::SearchRequest>();
  request->owner = this;
  request->directory = ArgumentText(params, 0);
  request->relativePath = ArgumentText(params, 1);
  // Set here, on the thread that cancels as well, so that a cancel right after the start is not
  // undone by the worker starting late.
  setup::keepSearching = true;
  hr = setup::StartScriptWorker(this, L"EMVerifyFileInSpecialDirectory", setup::VerifyThreadFunc, request.get(),
                                Argument(params, 2).pdispVal, &request->callbackStream);
  if (SUCCEEDED(hr)) request.release();
  return hr;
}

HRESULT ExternalMethods::CancelVerifyThread(WORD flags, DISPPARAMS* params, VARIANT*) {
  core::FrameworkLogDebug(core_, L"EMCancelVerifyThread");
  HRESULT hr = CheckCall(flags, kFlagsMethod, params, 0);
  if (FAILED(hr)) return hr;
  setup::keepSearching = false;
  core::FrameworkLogDebug(core_, L"EMCancelVerifyThread Finish");
  return S_OK;
}

}  // namespace stubframework
