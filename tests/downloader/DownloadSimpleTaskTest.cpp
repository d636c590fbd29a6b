// The resumable verified download against the test servers: what it fetches (from the fault
// server's request log), what the local file holds afterwards, the progress it reports and how
// it ends, for a missing, complete, partly valid or changed local file and for broken metadata
// and broken servers. The served files and their ".meta" files come from scripts/test-servers.sh,
// which makes every ".meta" with scripts/halvern-meta.py.
#include <algorithm>
#include <cstring>

#include "EngineTest.h"
#include "core/UniqueHandle.h"
#include "downloader/DownloadSimpleTask.h"
#include "downloader/ResultCodes.h"
#include "downloader/VerifyFileWithMeta.h"
#include "support/TestSupport.h"

using namespace downloader;
using namespace enginetest;

namespace {

// Ten blocks, the last one short.
const int64_t kSize = 10 * kBlockSize - 1000;

class DownloadRecorder : public IDownloadCallback {
 public:
  static DownloadRecorder* Create() { return details::Object<DownloadRecorder>::Create(); }
  void OnProgress(int64_t current, int64_t total) override {
    progress.push_back(current);
    this->total = total;
    if (task && cancelAtProgress && progress.size() == cancelAtProgress) task->Cancel();
  }
  void OnComplete(long r) override {
    result = r;
    ++completions;
    SetEvent(done_.Get());
  }
  bool WaitDone() const { return WaitForSingleObject(done_.Get(), 120000) == WAIT_OBJECT_0; }

  std::vector<int64_t> progress;
  int64_t total = -1;
  long result = 1;
  int completions = 0;
  size_t cancelAtProgress = 0;  // cancels the task at this progress report when not 0
  ITask* task = nullptr;

 protected:
  DownloadRecorder() : done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  virtual ~DownloadRecorder() = default;

 private:
  template <class T>
  friend class details::Object;
  stubframework::utils::KernelHandle done_;
};

class DownloadSimpleTaskTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    path_ = scratch_.File(L"download.bin");
    served_ = ServedFile(L"data10m.bin");
    ASSERT_EQ(static_cast<int64_t>(served_.size()), kSize);
  }

  // Runs one download of the file URL with the metadata URL into path_ and waits for its end.
  void Download(DownloadRecorder* recorder, const std::wstring& url, const std::wstring& metaUrl) {
    ComRef<ITask> task(CreateDownloadSimpleTask(url.c_str(), metaUrl.c_str(), path_.c_str(), recorder, logger_));
    ASSERT_NE(task.Get(), nullptr);
    recorder->task = task.Get();
    task->Start();
    ASSERT_TRUE(recorder->WaitDone());
    recorder->task = nullptr;
    EXPECT_EQ(recorder->completions, 1);
  }

  // The file URL and the metadata URL on the fault server, each with a tag of its own.
  std::wstring FileUrl(const std::string& tag, const std::wstring& faults = L"") {
    return FaultUrl(L"/data10m.bin?tag=" + Widen(tag) + faults);
  }
  std::wstring MetaUrl(const std::wstring& name = L"data10m.bin.meta") {
    return FaultUrl(L"/" + name + L"?tag=" + Widen(NewTag()));
  }

  std::string WithBlockChanged(int64_t block) const {
    std::string copy = served_;
    copy[static_cast<size_t>(block * kBlockSize + 77)] ^= 0x5A;
    return copy;
  }

  std::string Local() const { return testsupport::ReadFileBytes(path_); }

  testsupport::ScratchFolder scratch_;
  std::wstring path_;
  std::string served_;
};

TEST_F(DownloadSimpleTaskTest, FetchesFromTheFirstBadBlockToTheEndAndVerifiesWhatItWrote) {
  struct Case {
    const char* name;
    bool localExists;
    int64_t badBlock;  // -1: the local file is complete and valid
    const char* range;  // the one file request, or nullptr for none
    const wchar_t* faults;
  } cases[] = {
      {"no local file", false, 0, "bytes=0-10484759", L""},
      {"no local file, a plain 200", false, 0, "bytes=0-10484759", L"&ignore_range=1"},
      {"complete valid file", true, -1, nullptr, L""},
      {"valid up to block 3", true, 3, "bytes=3145728-10484759", L""},
      {"bad last block", true, 9, "bytes=9437184-10484759", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteFileW(path_.c_str());
    if (c.localExists) {
      ASSERT_TRUE(testsupport::WriteFileBytes(path_, c.badBlock < 0 ? served_ : WithBlockChanged(c.badBlock)));
    }
    ComRef<DownloadRecorder> recorder(DownloadRecorder::Create());
    std::string tag = NewTag();
    ASSERT_NO_FATAL_FAILURE(Download(recorder.Get(), FileUrl(tag, c.faults), MetaUrl()));
    EXPECT_EQ(recorder->result, kResultOk);
    EXPECT_TRUE(Local() == served_);
    std::vector<ServerRequest> requests = RequestsWithTag(tag);
    if (c.range) {
      ASSERT_EQ(requests.size(), 1u);
      EXPECT_EQ(requests[0].range, c.range);
    } else {
      EXPECT_TRUE(requests.empty());
      EXPECT_TRUE(LogHas("Hash success."));
      // 0, then one step per verified block.
      std::vector<int64_t> expected{0};
      for (int64_t block = 1; block <= 10; ++block) expected.push_back(std::min(block * kBlockSize, kSize));
      EXPECT_EQ(recorder->progress, expected);
    }
    EXPECT_EQ(recorder->total, kSize);
    EXPECT_EQ(recorder->progress.back(), kSize);
  }
  EXPECT_TRUE(LogHas("Start hash from block 3."));
  EXPECT_TRUE(LogHas("Hash mismatch found for block 3."));
}

TEST_F(DownloadSimpleTaskTest, AnInterruptedDownloadResumesFromItsFirstBadBlock) {
  // The connection ends 120 bytes into block 5 and the server then fails until the run gives up.
  ComRef<DownloadRecorder> first(DownloadRecorder::Create());
  ASSERT_NO_FATAL_FAILURE(Download(first.Get(), FileUrl(NewTag(), L"&cut.0=5243000&status.1=503&status.2=503&status.3=503"), MetaUrl()));
  EXPECT_LT(first->result, 0);
  std::string kept = Local();
  ASSERT_EQ(static_cast<int64_t>(kept.size()), kSize);  // the file keeps its full length
  size_t firstBad = static_cast<size_t>(std::mismatch(kept.begin(), kept.end(), served_.begin()).first - kept.begin());
  EXPECT_GE(firstBad, 5243000u);
  int64_t resumeAt = static_cast<int64_t>(firstBad) / kBlockSize * kBlockSize;

  ComRef<DownloadRecorder> second(DownloadRecorder::Create());
  std::string tag = NewTag();
  ASSERT_NO_FATAL_FAILURE(Download(second.Get(), FileUrl(tag), MetaUrl()));
  EXPECT_EQ(second->result, kResultOk);
  EXPECT_TRUE(Local() == served_);
  std::vector<ServerRequest> requests = RequestsWithTag(tag);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].range, "bytes=" + std::to_string(resumeAt) + "-10484759");
}

TEST_F(DownloadSimpleTaskTest, DataThatKeepsFailingAtTheSameBlockEndsAfterTheBound) {
  std::wstring corrupt = L"corrupt-" + Widen(NewTag()) + L".bin";
  ASSERT_TRUE(testsupport::WriteFileBytes(servers_.docroot + corrupt, WithBlockChanged(4)));
  ASSERT_TRUE(testsupport::WriteFileBytes(path_, WithBlockChanged(4)));
  ComRef<DownloadRecorder> recorder(DownloadRecorder::Create());
  std::string tag = NewTag();
  ASSERT_NO_FATAL_FAILURE(Download(recorder.Get(), FileUrl(tag, L"&serve=" + corrupt), MetaUrl()));
  DeleteFileW((servers_.docroot + corrupt).c_str());
  EXPECT_EQ(recorder->result, kResultDataError);
  EXPECT_EQ(RequestsWithTag(tag).size(), static_cast<size_t>(kMaxDownloadsWithoutProgress));
  EXPECT_TRUE(LogHas("Block 4 failed verification after 3 downloads in a row."));
}

TEST_F(DownloadSimpleTaskTest, MetadataAndServerFailuresEndTheTaskWithTheirCodes) {
  auto meta = [](int64_t length, size_t digests) {
    std::string bytes(8 + 20 * digests, '\x11');
    memcpy(&bytes[0], &length, 8);
    return bytes;
  };
  struct Case {
    const char* name;
    std::string metaBody;  // written into the docroot; empty: the served data10m.bin.meta
    std::wstring fileFaults;
    bool localExists;
    long result;
    bool filePrepared;  // the local file was opened and given the metadata's length
  } cases[] = {
      {"short meta", std::string(7, '\0'), L"", false, kResultFail, false},
      {"meta one digest too long", meta(kSize, 11), L"", false, kResultFail, false},
      {"negative length", meta(-1, 1), L"", false, kResultFail, false},
      {"huge block count", meta(0x4000000LL * kBlockSize, 0), L"", false, kResultFail, false},
      {"200 to a range", "", L"&ignore_range=1", true, kResultBadResponse, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteFileW(path_.c_str());
    if (c.localExists) {
      ASSERT_TRUE(testsupport::WriteFileBytes(path_, WithBlockChanged(2)));
    }
    std::wstring metaName = L"data10m.bin.meta";
    if (!c.metaBody.empty()) {
      metaName = L"broken-" + Widen(NewTag()) + L".meta";
      ASSERT_TRUE(testsupport::WriteFileBytes(servers_.docroot + metaName, c.metaBody));
    }
    ComRef<DownloadRecorder> recorder(DownloadRecorder::Create());
    std::string tag = NewTag();
    ASSERT_NO_FATAL_FAILURE(Download(recorder.Get(), FileUrl(tag, c.fileFaults), MetaUrl(metaName)));
    if (!c.metaBody.empty()) DeleteFileW((servers_.docroot + metaName).c_str());
    EXPECT_EQ(recorder->result, c.result);
    EXPECT_EQ(testsupport::PathExists(path_), c.filePrepared);
    EXPECT_EQ(RequestsWithTag(tag).empty(), !c.filePrepared);
  }
  EXPECT_TRUE(LogHas("CreateDownloadMetaSimple failed."));

  // A metadata length 0 cuts the local file to nothing, without a file request.
  ASSERT_TRUE(testsupport::WriteFileBytes(path_, std::string(1000, 'x')));
  ComRef<DownloadRecorder> empty(DownloadRecorder::Create());
  std::string tag = NewTag();
  ASSERT_NO_FATAL_FAILURE(Download(empty.Get(), FileUrl(tag), MetaUrl(L"empty.bin.meta")));
  EXPECT_EQ(empty->result, kResultOk);
  EXPECT_TRUE(testsupport::PathExists(path_));
  EXPECT_TRUE(Local().empty());
  EXPECT_TRUE(RequestsWithTag(tag).empty());
}

TEST_F(DownloadSimpleTaskTest, CancelEndsWithAbortInEveryState) {
  struct Case {
    const char* name;
    bool localValid;
    std::wstring metaFaults;
    std::wstring fileFaults;
    size_t cancelAtProgress;  // 0: right after Start
  } cases[] = {
      {"fetching metadata", false, L"&delay=2", L"", 0},
      {"hashing", true, L"", L"", 2},
      {"downloading", false, L"", L"&chunk=65536&pause=0.05", 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteFileW(path_.c_str());
    if (c.localValid) {
      ASSERT_TRUE(testsupport::WriteFileBytes(path_, served_));
    }
    ComRef<DownloadRecorder> recorder(DownloadRecorder::Create());
    recorder->cancelAtProgress = c.cancelAtProgress;
    std::string tag = NewTag();
    std::wstring metaUrl = MetaUrl() + c.metaFaults;
    ComRef<ITask> task(CreateDownloadSimpleTask(FileUrl(tag, c.fileFaults).c_str(), metaUrl.c_str(), path_.c_str(),
                                             recorder.Get(), logger_));
    recorder->task = task.Get();
    task->Start();
    if (c.cancelAtProgress == 0) task->Cancel();
    ASSERT_TRUE(recorder->WaitDone());
    recorder->task = nullptr;
    EXPECT_EQ(recorder->result, kResultAbort);
    EXPECT_EQ(recorder->completions, 1);
    EXPECT_LT(recorder->progress.size(), 11u);
  }
  EXPECT_TRUE(LogHas("DownloadSimpleTask::Cancel> Cancel."));
}

}  // namespace

namespace {

class VerifyFileWithMetaTest : public DownloadSimpleTaskTest {};

TEST_F(VerifyFileWithMetaTest, AFileMatchesOnlyWithTheSameLengthAndEveryBlock) {
  std::string oneBlockShort = served_.substr(0, static_cast<size_t>(9 * kBlockSize));
  struct Case {
    const char* name;
    std::string local;
    bool equal;
  } cases[] = {
      {"the same file", served_, true},
      {"one byte changed", WithBlockChanged(7), false},
      {"a copy one block shorter", oneBlockShort, false},
      {"one byte longer", served_ + "x", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(testsupport::WriteFileBytes(path_, c.local));
    EXPECT_EQ(stubframework::utils::VerifyFileWithMeta(path_, MetaUrl()), c.equal);
  }
  // A short metadata file that a shorter local copy would match block for block.
  std::wstring shortMeta = L"short-" + Widen(NewTag()) + L".meta";
  std::string meta = ServedFile(L"data10m.bin.meta");
  int64_t shortLength = 9 * kBlockSize;
  memcpy(&meta[0], &shortLength, 8);
  ASSERT_TRUE(testsupport::WriteFileBytes(servers_.docroot + shortMeta, meta.substr(0, 8 + 20 * 9)));
  ASSERT_TRUE(testsupport::WriteFileBytes(path_, served_));
  EXPECT_FALSE(stubframework::utils::VerifyFileWithMeta(path_, MetaUrl(shortMeta)));
  DeleteFileW((servers_.docroot + shortMeta).c_str());

  EXPECT_FALSE(stubframework::utils::VerifyFileWithMeta(scratch_.File(L"missing.bin"), MetaUrl()));

  // A metadata URL that redirects is followed, not taken for unreachable.
  ASSERT_TRUE(testsupport::WriteFileBytes(path_, WithBlockChanged(7)));
  EXPECT_FALSE(stubframework::utils::VerifyFileWithMeta(
      path_, FaultUrl(L"/moved.meta?status=302&location=" + NginxUrl(L"/data10m.bin.meta"))));
}

TEST_F(VerifyFileWithMetaTest, AnUnreachableMetaUrlCountsAsAMatch) {
  ASSERT_TRUE(testsupport::WriteFileBytes(path_, "anything"));
  std::string tag = NewTag();
  EXPECT_TRUE(stubframework::utils::VerifyFileWithMeta(path_, FaultUrl(L"/missing.meta?tag=" + Widen(tag))));
  EXPECT_EQ(RequestsWithTag(tag).size(), 1u);  // the probe only
  EXPECT_TRUE(stubframework::utils::VerifyFileWithMeta(path_, L"http://127.0.0.1:1/none.meta"));
  // A metadata file that answers but does not parse is a difference.
  EXPECT_FALSE(stubframework::utils::VerifyFileWithMeta(path_, FaultUrl(L"/data1000.bin")));
}

}  // namespace

namespace {

std::string ReadRange(const std::wstring& path, int64_t offset, DWORD size) {
  std::string bytes(size, '\0');
  stubframework::utils::FileHandle file(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  LARGE_INTEGER position;
  position.QuadPart = offset;
  DWORD read = 0;
  if (!file.Valid() || !SetFilePointerEx(file.Get(), position, nullptr, FILE_BEGIN) ||
      !ReadFile(file.Get(), &bytes[0], size, &read, nullptr))
    read = 0;
  bytes.resize(read);
  return bytes;
}

TEST_F(DownloadSimpleTaskTest, BlocksPastFourGibibytesAreHashedAndFetchedAtTheirOwnOffsets) {
  // huge.bin is 4 GiB of zeros and two blocks of data. The local file is 4 GiB + 2 MiB of zeros
  // (sparse): the first 4096 blocks verify, and the rest comes in one range from 4 GiB on.
  const int64_t fourGiB = 4096 * kBlockSize;
  LARGE_INTEGER end;
  end.QuadPart = fourGiB + 2 * kBlockSize;
  {
    stubframework::utils::FileHandle file(
        CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(SetFilePointerEx(file.Get(), end, nullptr, FILE_BEGIN) && SetEndOfFile(file.Get()));
  }
  ComRef<DownloadRecorder> recorder(DownloadRecorder::Create());
  ASSERT_NO_FATAL_FAILURE(Download(recorder.Get(), NginxUrl(L"/huge.bin"), NginxUrl(L"/huge.bin.meta")));
  EXPECT_EQ(recorder->result, kResultOk);
  EXPECT_TRUE(LogHas("Hash mismatch found for block 4096."));
  EXPECT_TRUE(LogHas("Start hash from block 4096."));
  EXPECT_EQ(recorder->total, end.QuadPart);
  EXPECT_TRUE(ReadRange(path_, fourGiB, 2 << 20) == ReadRange(servers_.docroot + L"huge.bin", fourGiB, 2 << 20));
  EXPECT_EQ(ReadRange(path_, fourGiB - 4096, 4096), std::string(4096, '\0'));
}

}  // namespace
