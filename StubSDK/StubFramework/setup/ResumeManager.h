#pragma once
// The "\ResumeManager" record below the product key, which carries an installation's GUID and
// its launch-on-exit command across a restart. Only "guid" and "launchOnExit" are written by
// the stub; "folder" and the numbered "tempfolder" values come from elsewhere and are only read.
#include <string>
#include <vector>

namespace stubframework::core {
class StubParameters;
}

namespace stubframework::setup {

class ResumeManager {
 public:
  // With load, reads the record: "folder", then "guid", then the optional "launchOnExit" and
  // "tempfolder0", "tempfolder1", ... up to the first missing number. The record is loaded only
  // when both "folder" and "guid" were read; a value over 512 bytes counts as missing. Without
  // load, deletes the record (32-bit view), so that a fresh installation starts from nothing.
  ResumeManager(bool load, core::StubParameters* parameters);

  // Store one value in the record (32-bit view, creating the key) and in the member; true when
  // the registry took it.
  bool WriteGuid(const std::wstring& value);
  bool WriteLaunchOnExit(const std::wstring& value);

  std::wstring keyPath;
  std::wstring folder;
  std::wstring guid;
  std::wstring launchOnExit;
  std::vector<std::wstring> tempFolders;
  bool loaded = false;
};

}  // namespace stubframework::setup
