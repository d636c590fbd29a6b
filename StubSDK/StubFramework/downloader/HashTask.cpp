#include "downloader/HashTask.h"

#include <cstdlib>

#include "downloader/DownloadMetaSimple.h"
#include "downloader/Sha1.h"

namespace downloader {

HashTask::HashTask(HANDLE file, IHashCallback* callback)
    : file_(file), callback_(stubframework::utils::ComRef<IHashCallback>::Share(callback)) {
  InitializeCriticalSection(&lock_);
}

// A task that never ran still holds its callback, released with the member.
HashTask::~HashTask() { DeleteCriticalSection(&lock_); }

ITask* CreateHashTask(HANDLE file, IHashCallback* callback) {
  if (!file || file == INVALID_HANDLE_VALUE || !callback) return nullptr;
  return details::Object<HashTask>::Create(file, callback);
}

void HashTask::Start() {
  EnterCriticalSection(&lock_);
  bool start = hashState_ == kIdle;
  if (start) hashState_ = kRunning;
  LeaveCriticalSection(&lock_);
  if (!start) return;
  AddRef();
  if (!QueueUserWorkItem(&HashTask::Work, this, WT_EXECUTELONGFUNCTION)) {
    callback_->OnComplete(HashFailed);
    callback_.Reset();
    Release();
  }
}

void HashTask::Cancel() {
  EnterCriticalSection(&lock_);
  if (hashState_ == kRunning) hashState_ = kCancelRequested;
  LeaveCriticalSection(&lock_);
}

bool HashTask::CancelRequested() {
  EnterCriticalSection(&lock_);
  bool cancel = hashState_ == kCancelRequested;
  LeaveCriticalSection(&lock_);
  return cancel;
}

DWORD WINAPI HashTask::Work(void* context) {
  HashTask* task = static_cast<HashTask*>(context);
  HashResult result = task->HashBlocks();
  task->callback_->OnComplete(result);
  task->callback_.Reset();
  task->Release();
  return 0;
}

HashResult HashTask::HashBlocks() {
  uint8_t* buffer = static_cast<uint8_t*>(malloc(kBlockSize));
  if (!buffer) return HashFailed;
  HashResult result = HashComplete;
  for (;;) {
    if (CancelRequested()) {
      result = HashCancelled;
      break;
    }
    DWORD read = 0;
    if (!ReadFile(file_, buffer, static_cast<DWORD>(kBlockSize), &read, nullptr)) {
      result = HashFailed;
      break;
    }
    if (read == 0) break;
    uint8_t digest[20];
    if (!ComputeSha1(buffer, read, digest)) {
      result = HashFailed;
      break;
    }
    callback_->OnHash(digest);
  }
  free(buffer);
  return result;
}

}  // namespace downloader
