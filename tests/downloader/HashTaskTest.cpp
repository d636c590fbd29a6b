// The ".meta" parser's validity rules and the block hashing task: digests of 1 MiB blocks checked
// against CryptoAPI's SHA-1 of the same bytes, from the file's position on, with cancel and
// empty-file cases.
#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>

#include <cstring>
#include <random>

#include "core/UniqueHandle.h"
#include "downloader/DownloadMetaSimple.h"
#include "downloader/HashTask.h"
#include "support/TestSupport.h"
#include "EngineTest.h"

using namespace downloader;
using enginetest::ComRef;

namespace {

std::string MetaBytes(int64_t length, size_t digests) {
  std::string bytes(8 + 20 * digests, '\x5A');
  memcpy(&bytes[0], &length, 8);
  return bytes;
}

TEST(DownloadMetaSimple, AcceptsExactlyOneDigestPerBlockOfANonNegativeLength) {
  struct Case {
    int64_t length;
    size_t bytes;
    bool valid;
  } cases[] = {
      {0, 8, true},         {0, 28, false},        {1, 28, true},         {1048576, 28, true},
      {1048576, 48, false}, {1048577, 48, true},   {1048577, 47, false},  {1048577, 49, false},
      {-1, 8, false},       {-1, 28, false},       {-20971520, 8, false}, {INT64_MIN, 8, false},
      {0x4000000LL * 1048576, 8, false},           {INT64_MAX, 8, false},
  };
  for (const Case& c : cases) {
    std::string bytes = MetaBytes(c.length, c.bytes >= 8 ? (c.bytes - 8) / 20 : 0);
    bytes.resize(c.bytes, '\x5A');
    DownloadMeta meta;
    EXPECT_EQ(CreateDownloadMetaSimple(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), meta), c.valid)
        << c.length << " with " << c.bytes << " bytes";
    if (c.valid) {
      EXPECT_EQ(meta.digests.size(), (c.bytes - 8) / 20);
    }
  }
  const uint8_t seven[7] = {};
  DownloadMeta meta;
  EXPECT_FALSE(CreateDownloadMetaSimple(seven, sizeof(seven), meta));
}

std::string CryptoApiSha1(const std::string& data) {
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  BYTE digest[20] = {};
  DWORD size = sizeof(digest);
  if (CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
    if (CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash)) {
      CryptHashData(hash, reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()), 0);
      CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0);
      CryptDestroyHash(hash);
    }
    CryptReleaseContext(provider, 0);
  }
  return std::string(reinterpret_cast<char*>(digest), sizeof(digest));
}

class HashRecorder : public IHashCallback {
 public:
  static HashRecorder* Create() { return details::Object<HashRecorder>::Create(); }
  void OnHash(const uint8_t (&digest)[20]) override {
    digests.emplace_back(reinterpret_cast<const char*>(digest), 20);
    if (task && digests.size() == cancelAfter) task->Cancel();
  }
  void OnComplete(HashResult r) override {
    result = r;
    ++completions;
    SetEvent(done_.Get());
  }
  bool WaitDone() const { return WaitForSingleObject(done_.Get(), 30000) == WAIT_OBJECT_0; }

  std::vector<std::string> digests;
  ITask* task = nullptr;
  size_t cancelAfter = 0;
  HashResult result = HashFailed;
  int completions = 0;

 protected:
  HashRecorder() : done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  virtual ~HashRecorder() = default;

 private:
  template <class T>
  friend class details::Object;
  stubframework::utils::KernelHandle done_;
};

// The engine fixture checks that every object is gone again: a hash task gives back its
// self-reference on the pool thread just after its completion.
class HashTaskTest : public enginetest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    path_ = scratch_.File(L"hash_task_test.bin");
  }

  // Hashes the file from offset on; the recorder cancels after cancelAfter blocks when not 0.
  void Hash(HashRecorder* recorder, const std::string& content, int64_t offset, size_t cancelAfter = 0) {
    EXPECT_TRUE(testsupport::WriteFileBytes(path_, content));
    stubframework::utils::FileHandle file(
        CreateFileW(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER position;
    position.QuadPart = offset;
    SetFilePointerEx(file.Get(), position, nullptr, FILE_BEGIN);
    ComRef<ITask> task(CreateHashTask(file.Get(), recorder));
    recorder->task = task.Get();
    recorder->cancelAfter = cancelAfter;
    task->Start();
    task->Start();  // a second start does nothing
    EXPECT_TRUE(recorder->WaitDone());
    task->Cancel();  // after the end: nothing
    recorder->task = nullptr;
    task.Reset();
  }

  testsupport::ScratchFolder scratch_;
  std::wstring path_;
};

TEST_F(HashTaskTest, DigestsEachMebibyteBlockFromThePositionOnAndStopsWhenCancelled) {
  std::string content(3 * 1048576 + 1000, '\0');
  std::mt19937 random(7);
  for (char& c : content) c = static_cast<char>(random());
  struct Case {
    int64_t offset;
    size_t cancelAfter;
    size_t blocks;
    HashResult result;
  } cases[] = {{0, 0, 4, HashComplete}, {1048576, 0, 3, HashComplete}, {3 * 1048576 + 1000, 0, 0, HashComplete},
               {0, 2, 2, HashCancelled}};
  for (const Case& c : cases) {
    ComRef<HashRecorder> recorder(HashRecorder::Create());
    Hash(recorder.Get(), content, c.offset, c.cancelAfter);
    EXPECT_EQ(recorder->result, c.result) << c.offset;
    EXPECT_EQ(recorder->completions, 1);
    ASSERT_EQ(recorder->digests.size(), c.blocks) << c.offset;
    for (size_t i = 0; i < c.blocks; ++i) {
      size_t start = static_cast<size_t>(c.offset) + i * 1048576;
      EXPECT_EQ(recorder->digests[i], CryptoApiSha1(content.substr(start, 1048576))) << "block at " << start;
    }
  }
  // A task released without ever starting gives its callback back too.
  ComRef<HashRecorder> unused(HashRecorder::Create());
  {
    stubframework::utils::FileHandle file(
        CreateFileW(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    CreateHashTask(file.Get(), unused.Get())->Release();
  }

  ComRef<HashRecorder> empty(HashRecorder::Create());
  Hash(empty.Get(), std::string(), 0);
  EXPECT_EQ(empty->result, HashComplete);
  EXPECT_TRUE(empty->digests.empty());
}

TEST(HashTaskCreation, RefusesAMissingFileOrCallback) {
  EXPECT_EQ(CreateHashTask(INVALID_HANDLE_VALUE, nullptr), nullptr);
  EXPECT_EQ(CreateHashTask(nullptr, nullptr), nullptr);
}

}  // namespace
