#pragma once
// Progress and error reports of ZIP extraction.
#include <windows.h>

namespace stubframework::zip {

class ZipReporter {
 public:
  // Called before each entry with its index and the entry count, and once at the end with the
  // count twice.
  virtual void OnProgress(DWORD current, DWORD total) = 0;
  // A Windows error code from reading or writing (ERROR_DISK_FULL, ...).
  virtual void OnError(DWORD code) = 0;

 protected:
  ~ZipReporter() = default;
};

}  // namespace stubframework::zip
