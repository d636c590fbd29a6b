#pragma once
// Downloads one file verified block by block against its ".meta" file, resuming where the valid
// data on disk ends: fetch the metadata, give the local file its final length, hash it from the
// first unverified block, fetch from the first bad block to the end in one ranged request, and
// hash again from that block. The local file is never deleted.
#include <windows.h>

#include <cstdint>

#include "core/ComRef.h"
#include "core/UniqueHandle.h"
#include "downloader/DownloadMetaSimple.h"
#include "downloader/RequestChain.h"
#include "downloader/Task.h"
#include "downloader/TaskLock.h"
#include "downloader/Text.h"

namespace downloader {

// A download whose data keeps failing verification at the block it started from is given up
// after this many attempts in a row, with kResultDataError.
constexpr int kMaxDownloadsWithoutProgress = 3;
// HRESULT_FROM_WIN32(ERROR_CRC): the served data does not match its published digests.
constexpr long kResultDataError = static_cast<long>(0x80070017);

class DownloadSimpleTask : public ITask, public TaskLock<DownloadSimpleTask, long> {
 public:
  void Start() override;
  void Cancel() override;

 protected:
  DownloadSimpleTask(IDownloadCallback* callback, ILogger* logger);
  virtual ~DownloadSimpleTask();

 private:
  friend class details::Object<DownloadSimpleTask>;
  friend class TaskLock<DownloadSimpleTask, long>;
  friend class DownloadMetaCallback;
  friend class DownloadHashCallback;
  friend class DownloadFileCallback;
  friend ITask* CreateDownloadSimpleTask(const wchar_t* url, const wchar_t* metaUrl, const wchar_t* path,
                                         IDownloadCallback* callback, ILogger* logger);

  bool StartMeta();
  void OnMetaComplete(HttpToMemResult&& result);
  bool PrepareStart();
  bool StartHash();
  void OnHash(const uint8_t (&digest)[20]);
  void OnHashComplete(HashResult result);
  bool StartDownload();
  void OnDownloadProgress(int64_t offset, int64_t length);
  void OnDownloadComplete(long result);
  bool SeekToBlock(const wchar_t* where);
  void ReportProgress();
  // The close action: cancels the sub-task now running, whose completion then ends the task.
  void Close();
  void CompleteFinally();

  WideText url_;
  WideText metaUrl_;
  WideText path_;
  stubframework::utils::ComRef<IDownloadCallback> callback_;
  CurrentRequest current_;
  DownloadMeta meta_;
  stubframework::utils::FileHandle file_;
  int64_t block_ = 0;  // the first block not verified yet
  int64_t progress_ = 0;
  int64_t total_ = 0;
  stubframework::utils::ComRef<ILogger> logger_;
  int64_t downloadBlock_ = -1;  // where the last download started
  int downloadsWithoutProgress_ = 0;
};

// Null when a string, the callback or the logger is null, or memory runs out.
ITask* CreateDownloadSimpleTask(const wchar_t* url, const wchar_t* metaUrl, const wchar_t* path,
                                IDownloadCallback* callback, ILogger* logger);

}  // namespace downloader
