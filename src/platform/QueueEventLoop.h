#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "platform/EventLoop.h"

namespace fm {

// A clock the event loop reads; tests use a manual one so time-outs are deterministic.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::chrono::steady_clock::time_point Now() const = 0;
  // Lets `duration` pass: a real clock sleeps the thread, a manual clock advances.
  virtual void Pass(std::chrono::milliseconds duration) = 0;
};

class SteadyClock final : public Clock {
 public:
  std::chrono::steady_clock::time_point Now() const override;
  void Pass(std::chrono::milliseconds duration) override;
};

class ManualClock final : public Clock {
 public:
  std::chrono::steady_clock::time_point Now() const override;
  void Pass(std::chrono::milliseconds duration) override;
  void Advance(std::chrono::milliseconds duration) { Pass(duration); }

 private:
  mutable std::mutex mMutex;
  std::chrono::steady_clock::time_point mNow{};
};

// The event loop of a program without a windowing toolkit, and of the tests: a queue of
// posted tasks and a list of timers, run when the user-interface thread processes pending
// events. With a ManualClock nothing happens by itself: tests post, advance and process.
class QueueEventLoop final : public EventLoop {
 public:
  explicit QueueEventLoop(std::shared_ptr<Clock> clock = std::make_shared<SteadyClock>());

  // Posting an empty task throws PlatformError. ProcessPendingEvents runs the tasks posted
  // before the call, in order, then the timers due by the clock at the start of the call,
  // in order of their due time; work posted or started while it runs waits for the next
  // call. A task that throws ends the call with its exception; what has not run yet stays
  // pending.

  void Post(Task task) override;
  void ProcessPendingEvents() override;
  void Sleep(std::chrono::milliseconds duration) override;
  TimerId StartTimer(std::chrono::milliseconds delay, Task task) override;
  void CancelTimer(TimerId id) override;

  // Blocks until a task is posted or a timer falls due, or `limit` passes (real clock),
  // then processes pending events. For command-line programs that wait for a reply. With a
  // ManualClock nothing can arrive while it waits: the clock is advanced to the earliest
  // timer (at most by `limit`) instead.
  void WaitAndProcess(std::chrono::milliseconds limit);

  std::size_t PendingTaskCount() const;
  std::size_t PendingTimerCount() const;
  Clock& GetClock() { return *mClock; }

 private:
  std::shared_ptr<Clock> mClock;
  mutable std::mutex mMutex;
  std::condition_variable mWake;  // a post or a new timer ends a WaitAndProcess wait
  std::deque<Task> mTasks;
  std::multimap<std::chrono::steady_clock::time_point, std::pair<TimerId, Task>> mTimers;
  TimerId mNextTimer = 1;
};

}  // namespace fm
