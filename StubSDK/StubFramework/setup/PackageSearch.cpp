#include "setup/PackageSearch.h"

#include <cwchar>
#include <memory>

#include "core/FrameworkCore.h"
#include "core/UniqueHandle.h"
#include "htmlui/ScriptCallback.h"
#include "methods/ExternalMethods.h"
#include "setup/ScriptWorker.h"
#include "setup/WorkerSet.h"
#include "setup/Workflow.h"

namespace stubframework::setup {

std::atomic<bool> keepSearching{false};

namespace {

// folder ends with a separator.
bool SearchFolder(const std::wstring& folder, const std::wstring& relativePath, const std::wstring& name,
                  std::wstring& found) {
  WIN32_FIND_DATAW data;
  utils::FindHandle find(FindFirstFileW((folder + L"*").c_str(), &data));
  if (!find.Valid()) return false;
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
  } while (!ok && FindNextFileW(find.Get(), &data));
  return ok;
}

// The package search's worker: the search, its finding in "PackagePath", and the result.
class SearchWorker : public ScriptWorker {
 public:
  SearchWorker(ExternalMethods* owner, SearchRequest request)
      : ScriptWorker(owner, L"VerifyThreadFunc", FinalCall::Result), request_(std::move(request)) {}

 protected:
  Config_ErrorHandle Work(htmlui::ScriptCallback&, ProgressRecord&) override {
    core::FrameworkCore* core = Core();
    std::wstring found;
    bool ok = FindPackage(request_.directory, request_.relativePath, found);
    core->external->SetProperty(L"PackagePath", found);
    bool going = keepSearching;
    core::FrameworkLogDebug(core, L"VerifyThreadFunc parameters: %s - %s", request_.directory.c_str(),
                            request_.relativePath.c_str());
    core::FrameworkLogDebug(core, L"VerifyThreadFunc %d - %d ; common directory: %s", ok ? 1 : 0, going ? 1 : 0,
                            found.c_str());
    return !going ? Config_ErrorHandle::Cancelled : ok ? Config_ErrorHandle::NoError : Config_ErrorHandle::Failure;
  }

 private:
  SearchRequest request_;
};

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
  setup::SearchRequest request;
  request.directory = ArgumentText(params, 0);
  request.relativePath = ArgumentText(params, 1);
  // Set here, on the thread that cancels as well, so that a cancel right after the start is not
  // undone by the worker starting late.
  setup::keepSearching = true;
  return setup::ScriptWorker::Start(std::make_unique<setup::SearchWorker>(this, std::move(request)),
                                    L"EMVerifyFileInSpecialDirectory", Argument(params, 2).pdispVal);
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
