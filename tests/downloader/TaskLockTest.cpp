#include <gtest/gtest.h>

#include "downloader/Buffer.h"
#include "downloader/TaskLock.h"

using namespace downloader;

namespace {

// The protocol alone: the close action only counts its runs.
class ProbeTask : public TaskLock<ProbeTask, long> {
 public:
  using TaskLock::BeginStart;
  using TaskLock::FinalResult;
  using TaskLock::Finish;
  using TaskLock::Leave;
  using TaskLock::TryEnter;
  void Close() { ++closes; }
  int closes = 0;
};

TEST(TaskLock, FinishBeforeStartIsIgnoredAndTheTaskStartsNormally) {
  ProbeTask task;
  EXPECT_FALSE(task.TryEnter());
  task.Finish(1);
  EXPECT_EQ(task.closes, 0);
  ASSERT_TRUE(task.BeginStart());
  EXPECT_TRUE(task.TryEnter());
  task.Leave();
  task.Finish(2);
  EXPECT_EQ(task.closes, 0);  // Start is still inside
  task.Leave();
  EXPECT_EQ(task.closes, 1);
  EXPECT_EQ(task.FinalResult(), 2);
}

TEST(TaskLock, TheFirstFinishWins) {
  ProbeTask task;
  ASSERT_TRUE(task.BeginStart());
  task.Leave();
  task.Finish(7);
  task.Finish(8);
  EXPECT_EQ(task.FinalResult(), 7);
  EXPECT_EQ(task.closes, 1);
}

TEST(TaskLock, FinishWhileACallbackRunsDefersTheCloseToItsLeave) {
  ProbeTask task;
  ASSERT_TRUE(task.BeginStart());
  task.Leave();
  ASSERT_TRUE(task.TryEnter());
  ASSERT_TRUE(task.TryEnter());
  task.Finish(3);
  EXPECT_FALSE(task.TryEnter());  // no new entry once finishing
  task.Leave();
  EXPECT_EQ(task.closes, 0);
  task.Leave();
  EXPECT_EQ(task.closes, 1);
}

TEST(TaskLock, ASecondStartDoesNothing) {
  ProbeTask task;
  EXPECT_TRUE(task.BeginStart());
  EXPECT_FALSE(task.BeginStart());
}

TEST(Buffer, SetSizeGivesAFreshBlockAndSetLengthStaysInsideIt) {
  Buffer buffer;
  ASSERT_TRUE(buffer.SetSize(100));
  EXPECT_NE(buffer.data, nullptr);
  EXPECT_EQ(buffer.size, 100u);
  buffer.SetLength(10);
  EXPECT_EQ(buffer.size, 10u);
  EXPECT_EQ(buffer.Capacity(), 100u);
  buffer.SetLength(1000);
  EXPECT_EQ(buffer.size, 100u);
  ASSERT_TRUE(buffer.SetSize(0));
  EXPECT_EQ(buffer.data, nullptr);
  EXPECT_EQ(buffer.size, 0u);
}

TEST(Buffer, FailedAllocationLeavesAnEmptyBuffer) {
  Buffer buffer;
  ASSERT_TRUE(buffer.SetSize(16));
  EXPECT_FALSE(buffer.SetSize(SIZE_MAX));
  EXPECT_EQ(buffer.data, nullptr);
  EXPECT_EQ(buffer.size, 0u);
  EXPECT_EQ(buffer.Capacity(), 0u);
}

TEST(Buffer, MovingHandsTheBlockOver) {
  Buffer from;
  ASSERT_TRUE(from.SetSize(8));
  uint8_t* block = from.data;
  Buffer to(std::move(from));
  EXPECT_EQ(to.data, block);
  EXPECT_EQ(to.size, 8u);
  EXPECT_EQ(from.data, nullptr);
  EXPECT_EQ(from.size, 0u);
}

}  // namespace
