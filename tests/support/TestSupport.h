#pragma once
// Helpers shared by the test programs.
#include <windows.h>

#include <string>

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

}  // namespace testsupport
