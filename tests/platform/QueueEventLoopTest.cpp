#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/PlatformError.h"
#include "platform/QueueEventLoop.h"

namespace fm {
namespace {

using namespace std::chrono_literals;

class QueueEventLoopTest : public ::testing::Test {
 protected:
  std::shared_ptr<ManualClock> mClock = std::make_shared<ManualClock>();
  QueueEventLoop mLoop{mClock};
  std::vector<std::string> mRan;

  EventLoop::Task Record(std::string name) {
    return [this, name = std::move(name)] { mRan.push_back(name); };
  }
};

TEST_F(QueueEventLoopTest, PostedTasksRunInOrderOnlyWhenEventsAreProcessedBeforeDueTimers) {
  mLoop.StartTimer(0ms, Record("timer"));
  mLoop.Post(Record("a"));
  mLoop.Post([this] {
    mRan.push_back("b");
    // Work posted while processing waits for the next call.
    mLoop.Post(Record("posted inside"));
    mLoop.StartTimer(0ms, Record("timer started inside"));
  });
  mLoop.Post(Record("c"));
  EXPECT_TRUE(mRan.empty());
  EXPECT_EQ(mLoop.PendingTaskCount(), 3u);
  mLoop.ProcessPendingEvents();
  EXPECT_EQ(mRan, (std::vector<std::string>{"a", "b", "c", "timer"}));
  EXPECT_EQ(mLoop.PendingTaskCount(), 1u);
  mLoop.ProcessPendingEvents();
  EXPECT_EQ(mRan, (std::vector<std::string>{"a", "b", "c", "timer", "posted inside",
                                            "timer started inside"}));
  EXPECT_EQ(mLoop.PendingTaskCount(), 0u);
}

TEST_F(QueueEventLoopTest, TimersRunWhenTheClockReachesThemInDueOrder) {
  mLoop.StartTimer(300ms, Record("late"));
  mLoop.StartTimer(100ms, Record("early"));
  mLoop.StartTimer(100ms, Record("early, started second"));
  mLoop.ProcessPendingEvents();
  EXPECT_TRUE(mRan.empty());

  mClock->Advance(99ms);
  mLoop.ProcessPendingEvents();
  EXPECT_TRUE(mRan.empty());

  mClock->Advance(1ms);  // exactly due
  mLoop.ProcessPendingEvents();
  EXPECT_EQ(mRan, (std::vector<std::string>{"early", "early, started second"}));

  mClock->Advance(1s);
  mLoop.ProcessPendingEvents();
  EXPECT_EQ(mRan.back(), "late");
  EXPECT_EQ(mLoop.PendingTimerCount(), 0u);
}

TEST_F(QueueEventLoopTest, CancelledTimersNeverRun) {
  const auto cancelled = mLoop.StartTimer(10ms, Record("cancelled"));
  const auto kept = mLoop.StartTimer(20ms, Record("kept"));
  mLoop.CancelTimer(cancelled);
  mLoop.CancelTimer(cancelled);  // twice: ignored
  mLoop.CancelTimer(9999);       // unknown: ignored
  // A reply that arrives in the same pass in which its time-out falls due cancels it.
  const auto timeout = mLoop.StartTimer(20ms, Record("time-out"));
  mLoop.Post([this, timeout] {
    mRan.push_back("reply");
    mLoop.CancelTimer(timeout);
  });
  mClock->Advance(1s);
  mLoop.ProcessPendingEvents();
  EXPECT_EQ(mRan, (std::vector<std::string>{"reply", "kept"}));
  mLoop.CancelTimer(kept);  // already run: ignored
}

TEST_F(QueueEventLoopTest, ATaskThatThrowsLeavesTheRestPendingAndEmptyTasksAreRefused) {
  mLoop.Post(Record("before"));
  mLoop.Post([] { throw std::runtime_error("task failed"); });
  mLoop.Post(Record("after"));
  EXPECT_THROW(mLoop.ProcessPendingEvents(), std::runtime_error);
  EXPECT_EQ(mRan, (std::vector<std::string>{"before"}));
  mLoop.ProcessPendingEvents();
  EXPECT_EQ(mRan, (std::vector<std::string>{"before", "after"}));
  EXPECT_THROW(mLoop.Post(EventLoop::Task{}), PlatformError);
  EXPECT_THROW(mLoop.StartTimer(1ms, EventLoop::Task{}), PlatformError);
}

TEST_F(QueueEventLoopTest, SleepRunsNothingAndWaitAndProcessAdvancesAManualClockToATimer) {
  mLoop.StartTimer(2s, Record("timer"));
  mLoop.Post(Record("task"));
  mLoop.Sleep(500ms);
  EXPECT_TRUE(mRan.empty());
  EXPECT_EQ(mClock->Now().time_since_epoch(), 500ms);
  mLoop.WaitAndProcess(10s);  // a task is pending: no time passes
  EXPECT_EQ(mClock->Now().time_since_epoch(), 500ms);
  mLoop.WaitAndProcess(500ms);  // the limit comes first
  EXPECT_EQ(mRan, (std::vector<std::string>{"task"}));
  mLoop.WaitAndProcess(10s);
  EXPECT_EQ(mRan, (std::vector<std::string>{"task", "timer"}));
  EXPECT_EQ(mClock->Now().time_since_epoch(), 2s);
  mClock->Pass(-5ms);  // the clock only moves forward
  EXPECT_EQ(mClock->Now().time_since_epoch(), 2s);
}

TEST(QueueEventLoopThreads, PostsFromOtherThreadsAllRunInEachThreadsOrder) {
  QueueEventLoop loop(std::make_shared<ManualClock>());
  constexpr int kThreads = 4;
  constexpr int kPerThread = 250;
  std::vector<std::vector<int>> seen(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&loop, &seen, t] {
      for (int i = 0; i < kPerThread; ++i) loop.Post([&seen, t, i] { seen[t].push_back(i); });
    });
  }
  // Processing runs on this thread while the others are still posting.
  std::size_t processed = 0;
  while (processed < kThreads * kPerThread) {
    loop.ProcessPendingEvents();
    processed = 0;
    for (const auto& s : seen) processed += s.size();
  }
  for (auto& thread : threads) thread.join();
  for (const auto& s : seen) {
    ASSERT_EQ(s.size(), static_cast<std::size_t>(kPerThread));
    for (int i = 0; i < kPerThread; ++i) EXPECT_EQ(s[i], i);
  }
}

TEST(QueueEventLoopThreads, WaitAndProcessWakesForAPostFromAnotherThreadOrATimer) {
  QueueEventLoop loop;  // steady clock
  std::atomic<bool> ran{false};
  std::thread poster([&] {
    std::this_thread::sleep_for(20ms);
    loop.Post([&] { ran = true; });
  });
  // The limit is only a safety net; the post ends the wait.
  for (int i = 0; i < 100 && !ran; ++i) loop.WaitAndProcess(10s);
  poster.join();
  EXPECT_TRUE(ran);

  ran = false;
  loop.StartTimer(5ms, [&] { ran = true; });
  for (int i = 0; i < 100 && !ran; ++i) loop.WaitAndProcess(10s);
  EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace fm
