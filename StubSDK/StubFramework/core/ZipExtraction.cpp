#include "core/ZipExtraction.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cwchar>

#include "core/DeviceName.h"
#include "core/FrameworkCore.h"
#include "core/UniqueHandle.h"
#include "core/WorkingFolders.h"
#include "core/ZipReader.h"

namespace stubframework::zip {
namespace {

class FileSink : public ZipSink {
 public:
  FileSink(HANDLE file, ZipReporter* reporter) : file_(file), reporter_(reporter) {}
  // A short write (a volume filling up) is followed by another, whose failure gives the reason.
  bool Write(const void* data, uint32_t length) override {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    while (length > 0) {
      DWORD written = 0;
      BOOL ok = WriteFile(file_, bytes, length, &written, nullptr);
      if (!ok || written == 0) {
        if (reporter_) reporter_->OnError(ok ? ERROR_WRITE_FAULT : GetLastError());
        return false;
      }
      bytes += written;
      length -= written;
    }
    return true;
  }

 private:
  HANDLE file_;
  ZipReporter* reporter_;
};

// A relative name that stays inside the folder it is combined with: not rooted (which includes
// UNC names), no drive or stream (":"), no element made of dots beyond ".", no device name.
bool IsSafeRelativeName(const std::wstring& name) {
  if (name.empty() || name[0] == L'\\' || name.find(L':') != std::wstring::npos) return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find(L'\\', start);
    if (end == std::wstring::npos) end = name.size();
    std::wstring element = name.substr(start, end - start);
    if (!element.empty() && element != L"." && element.find_first_not_of(L". ") == std::wstring::npos)
      return false;
    if (utils::IsReservedDeviceName(element)) return false;
    start = end + 1;
  }
  return true;
}

// The absolute, normalised form of path, as the file system functions resolve it.
bool FullPath(const std::wstring& path, std::wstring& full) {
  wchar_t buffer[MAX_PATH];
  DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, buffer, nullptr);
  if (length == 0 || length >= MAX_PATH) return false;
  full.assign(buffer, length);
  return true;
}

// The path an entry extracts to; false when its name is unusable or leads outside destination.
bool EntryPath(const std::wstring& destination, const ZipEntry& entry, std::wstring& path) {
  const std::string& rawName = entry.name;
  if (rawName.empty() || rawName.find('\0') != std::string::npos) return false;
  // Names without the UTF-8 flag were written in the code page of the packing machine, which
  // is all a reader can assume for them. A name that does not fit is refused rather than cut
  // short, which could name another file.
  bool utf8 = (entry.flags & kFlagUtf8) != 0;
  wchar_t wide[MAX_PATH];
  int length = MultiByteToWideChar(utf8 ? CP_UTF8 : CP_ACP, utf8 ? MB_ERR_INVALID_CHARS : 0, rawName.data(),
                                   static_cast<int>(rawName.size()), wide, MAX_PATH - 1);
  if (length <= 0) return false;
  std::wstring name(wide, length);
  for (wchar_t& c : name)
    if (c == L'/') c = L'\\';
  if (!IsSafeRelativeName(name)) return false;

  std::wstring folder;
  if (!FullPath(destination, folder)) return false;
  if (folder.back() != L'\\') folder += L'\\';
  // Whatever the checks above missed, the resolved path must still lie in destination; it is
  // also the path that is opened, so what was checked is what gets written.
  std::wstring full;
  if (!FullPath(folder + name, full)) return false;
  if (full.size() < folder.size() ||
      CompareStringOrdinal(full.c_str(), static_cast<int>(folder.size()), folder.c_str(),
                           static_cast<int>(folder.size()), TRUE) != CSTR_EQUAL)
    return false;
  path = full;
  return true;
}

void CreateFolder(std::wstring path) {
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
}

bool ExtractEntry(const ZipReader& reader, size_t index, const std::wstring& destination,
                  ZipReporter* reporter) {
  std::wstring path;
  if (!EntryPath(destination, reader.Entry(index), path)) return false;
  if (reader.IsDirectory(index)) {
    CreateFolder(path);
    return true;
  }
  CreateFolder(path.substr(0, path.find_last_of(L'\\')));
  utils::FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return false;
  FileSink sink(file.Get(), reporter);
  if (reader.Extract(index, sink)) return true;
  file.Close();
  DeleteFileW(path.c_str());
  return false;
}

// Passes reports on and keeps this extraction's own last error: an error left from an earlier
// extraction in the run must not decide this one's result.
class PackageReporter : public ZipReporter {
 public:
  explicit PackageReporter(ZipReporter* next) : next_(next) {}
  void OnProgress(DWORD current, DWORD total) override {
    if (next_) next_->OnProgress(current, total);
  }
  void OnError(DWORD code) override {
    lastError = code;
    if (next_) next_->OnError(code);
  }
  DWORD lastError = 0;

 private:
  ZipReporter* next_;
};

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
  if (!folder.empty() && folder.back() == L'\\') return folder + name;
  return folder + L"\\" + name;
}

}  // namespace

bool ExtractZip(const ZipReader& reader, const std::wstring& destination, ZipReporter* reporter) {
  if (destination.empty()) return false;
  CreateFolder(destination);
  DWORD count = static_cast<DWORD>(reader.EntryCount());
  // Declared sizes bound what the entries write; refusing what cannot fit before writing keeps a
  // small archive from filling the volume.
  bool ok = true;
  ULARGE_INTEGER available;
  if (GetDiskFreeSpaceExW(destination.c_str(), &available, nullptr, nullptr) &&
      reader.TotalUncompressedSize() > available.QuadPart) {
    if (reporter) reporter->OnError(ERROR_DISK_FULL);
    ok = false;
  }
  for (DWORD i = 0; i < count && ok; ++i) {
    if (reporter) reporter->OnProgress(i, count);
    ok = ExtractEntry(reader, i, destination, reporter);
  }
  if (reporter) reporter->OnProgress(count, count);
  return ok;
}

bool ExtractZipFromHandle(HANDLE file, const std::wstring& destination, ZipReporter* reporter) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size)) return false;
  FileSource source(file, reporter);
  ZipReader reader;
  return reader.Open(&source, static_cast<uint64_t>(size.QuadPart)) && ExtractZip(reader, destination, reporter);
}

int UnzipPackage(core::FrameworkCore* core, const std::wstring& packagePath,
                 std::wstring& extractionFolder, std::wstring& setupFolder) {
  extractionFolder.clear();
  setupFolder.clear();
  if (_wcsicmp(PathFindExtensionW(packagePath.c_str()), L".zip") != 0) return kUnzipFailure;
  // Without a folder of its own the extraction would land in the current directory.
  if (!utils::CreateUniqueTempFolder(extractionFolder)) {
    extractionFolder.clear();
    return kUnzipFailure;
  }
  return UnzipPackageInto(core, packagePath, extractionFolder, setupFolder);
}

int UnzipPackageInto(core::FrameworkCore* core, const std::wstring& packagePath, const std::wstring& extractionFolder,
                     std::wstring& setupFolder) {
  setupFolder.clear();
  PackageReporter reporter(core ? core->external : nullptr);
  bool extracted = false;
  utils::FileHandle package(CreateFileW(packagePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (package.Valid()) extracted = ExtractZipFromHandle(package.Get(), extractionFolder, &reporter);
  package.Close();
  if (!extracted) {
    core::FrameworkLogDebug(core, L"Unzip failed, package_path: %s, unzip to: %s\n",
                            packagePath.c_str(), extractionFolder.c_str());
    return reporter.lastError == ERROR_DISK_FULL ? kUnzipDiskFull : kUnzipFailure;
  }
  if (!FindFileInTree(extractionFolder, L"setup.exe", setupFolder)) {
    core::FrameworkLogDebug(core, L"Can not find setup.exe, unzip path : %s", extractionFolder.c_str());
    return kUnzipFileNotExist;
  }
  return kUnzipNoError;
}

bool FindFileInTree(const std::wstring& folder, const std::wstring& name, std::wstring& found) {
  if (PathFileExistsW(JoinPath(folder, name).c_str())) {
    found = folder;
    return true;
  }
  WIN32_FIND_DATAW data;
  utils::FindHandle find(FindFirstFileW(JoinPath(folder, L"*").c_str(), &data));
  if (!find.Valid()) return false;
  bool result = false;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0) continue;
    result = FindFileInTree(JoinPath(folder, data.cFileName), name, found);
  } while (!result && FindNextFileW(find.Get(), &data));
  return result;
}

}  // namespace stubframework::zip
