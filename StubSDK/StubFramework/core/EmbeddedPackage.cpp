#include "core/EmbeddedPackage.h"

#include <windows.h>

#include "core/PeImage.h"
#include "core/UniqueHandle.h"
#include "core/ZipExtraction.h"

namespace stubframework::core {

bool OpenPackage(zip::FileSource& source, zip::ZipReader& reader) {
  LARGE_INTEGER size;
  CertificateTable table;
  if (!GetFileSizeEx(source.File(), &size) ||
      !FindCertificateTable(source.File(), static_cast<uint64_t>(size.QuadPart), table))
    return false;
  return reader.Open(&source, table.size ? table.offset : static_cast<uint64_t>(size.QuadPart));
}

bool LoadEmbeddedPackage(debug::InstallerLog* log, const std::wstring& folder) {
  debug::LogDebug(log, L"Load Resource from pe.");
  wchar_t path[MAX_PATH] = {};
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  // A path that filled the buffer may have been cut short.
  if (length == 0 || length >= MAX_PATH) {
    debug::LogError(log, L"get current app full path failed!");
    return false;
  }
  return LoadPackageFromFile(log, path, folder);
}

bool LoadPackageFromFile(debug::InstallerLog* log, const std::wstring& path,
                         const std::wstring& folder) {
  bool loaded = false;
  utils::FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.Valid()) {
    zip::FileSource source(file.Get(), nullptr);
    zip::ZipReader reader;
    loaded = OpenPackage(source, reader) && zip::ExtractZip(reader, folder, nullptr);
  }
  if (loaded)
    debug::LogDebug(log, L"Load Resource from pe finished.");
  else
    debug::LogError(log, L"Load Resource from pe failed.");
  return loaded;
}

}  // namespace stubframework::core
