#include "platform/QueueEventLoop.h"

#include <algorithm>
#include <thread>

#include "platform/PlatformError.h"

namespace fm {

std::chrono::steady_clock::time_point SteadyClock::Now() const {
  return std::chrono::steady_clock::now();
}

void SteadyClock::Pass(std::chrono::milliseconds duration) {
  if (duration > std::chrono::milliseconds::zero()) std::this_thread::sleep_for(duration);
}

std::chrono::steady_clock::time_point ManualClock::Now() const {
  std::lock_guard lock(mMutex);
  return mNow;
}

void ManualClock::Pass(std::chrono::milliseconds duration) {
  // Time does not run backwards, not even in a test.
  if (duration <= std::chrono::milliseconds::zero()) return;
  std::lock_guard lock(mMutex);
  mNow += duration;
}

QueueEventLoop::QueueEventLoop(std::shared_ptr<Clock> clock) : mClock(std::move(clock)) {
  if (!mClock) throw PlatformError(PlatformError::kGeneric, "The event loop needs a clock");
}

void QueueEventLoop::Post(Task task) {
  if (!task) throw PlatformError(PlatformError::kGeneric, "Cannot post an empty task");
  {
    std::lock_guard lock(mMutex);
    mTasks.push_back(std::move(task));
  }
  mWake.notify_all();
}

void QueueEventLoop::ProcessPendingEvents() {
  std::size_t tasksToRun = 0;
  TimerId firstLaterTimer = 0;
  {
    std::lock_guard lock(mMutex);
    tasksToRun = mTasks.size();
    firstLaterTimer = mNextTimer;
  }
  const auto now = mClock->Now();

  // One task at a time, the lock released while it runs: a task may post, start or cancel
  // timers, or be joined by posts from other threads.
  for (; tasksToRun > 0; --tasksToRun) {
    Task task;
    {
      std::lock_guard lock(mMutex);
      if (mTasks.empty()) break;
      task = std::move(mTasks.front());
      mTasks.pop_front();
    }
    task();
  }

  // Timers are looked up afresh each time so that a timer cancelled by an earlier task or
  // timer of this same call does not run.
  for (;;) {
    Task task;
    {
      std::lock_guard lock(mMutex);
      auto it = std::find_if(mTimers.begin(), mTimers.upper_bound(now), [&](const auto& entry) {
        return entry.second.first < firstLaterTimer;
      });
      if (it == mTimers.upper_bound(now)) break;
      task = std::move(it->second.second);
      mTimers.erase(it);
    }
    task();
  }
}

void QueueEventLoop::Sleep(std::chrono::milliseconds duration) { mClock->Pass(duration); }

EventLoop::TimerId QueueEventLoop::StartTimer(std::chrono::milliseconds delay, Task task) {
  if (!task) throw PlatformError(PlatformError::kGeneric, "Cannot start a timer without a task");
  const auto due = mClock->Now() + std::max(delay, std::chrono::milliseconds::zero());
  TimerId id = 0;
  {
    std::lock_guard lock(mMutex);
    id = mNextTimer++;
    mTimers.emplace(due, std::make_pair(id, std::move(task)));
  }
  mWake.notify_all();
  return id;
}

void QueueEventLoop::CancelTimer(TimerId id) {
  std::lock_guard lock(mMutex);
  const auto it = std::find_if(mTimers.begin(), mTimers.end(),
                               [id](const auto& entry) { return entry.second.first == id; });
  if (it != mTimers.end()) mTimers.erase(it);
}

void QueueEventLoop::WaitAndProcess(std::chrono::milliseconds limit) {
  limit = std::max(limit, std::chrono::milliseconds::zero());
  if (dynamic_cast<SteadyClock*>(mClock.get()) != nullptr) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::unique_lock lock(mMutex);
    for (;;) {
      const auto now = std::chrono::steady_clock::now();
      if (!mTasks.empty()) break;
      if (!mTimers.empty() && mTimers.begin()->first <= now) break;
      if (now >= deadline) break;
      const auto wakeAt = mTimers.empty() ? deadline : std::min(deadline, mTimers.begin()->first);
      mWake.wait_until(lock, wakeAt);
    }
  } else {
    std::chrono::milliseconds advance = limit;
    {
      std::lock_guard lock(mMutex);
      if (!mTasks.empty()) {
        advance = std::chrono::milliseconds::zero();
      } else if (!mTimers.empty()) {
        const auto untilDue =
            std::chrono::ceil<std::chrono::milliseconds>(mTimers.begin()->first - mClock->Now());
        advance = std::clamp(untilDue, std::chrono::milliseconds::zero(), limit);
      }
    }
    mClock->Pass(advance);
  }
  ProcessPendingEvents();
}

std::size_t QueueEventLoop::PendingTaskCount() const {
  std::lock_guard lock(mMutex);
  return mTasks.size();
}

std::size_t QueueEventLoop::PendingTimerCount() const {
  std::lock_guard lock(mMutex);
  return mTimers.size();
}

}  // namespace fm
