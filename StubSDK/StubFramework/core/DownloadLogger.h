#pragma once
// The download engine's logger: writes engine messages to the installer log at TRACE.
#include "core/InstallerLog.h"
#include "downloader/Object.h"

namespace stubframework::debug {

class DownloadLogger : public downloader::ILogger {
 public:
  // log may be null; then nothing is written. The logger does not own it.
  static downloader::ILogger* Create(InstallerLog* log);

  void Log(const wchar_t* where, const wchar_t* format, ...) override;

 protected:
  explicit DownloadLogger(InstallerLog* log) : log_(log) {}
  virtual ~DownloadLogger() = default;

 private:
  template <class T>
  friend class downloader::details::Object;
  InstallerLog* log_;
};

}  // namespace stubframework::debug
