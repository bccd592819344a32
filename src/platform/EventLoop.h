#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace fm {

// The user-interface thread's event loop. `Post` may be called from any thread; everything
// else only from the user-interface thread. Posted work runs in the order posted.
class EventLoop {
 public:
  using Task = std::function<void()>;
  using TimerId = std::uint64_t;

  virtual ~EventLoop() = default;

  virtual void Post(Task task) = 0;
  // Runs every task posted (and every timer due) before the call; returns without waiting.
  virtual void ProcessPendingEvents() = 0;
  // Blocks the user-interface thread (the close-after-save wait).
  virtual void Sleep(std::chrono::milliseconds duration) = 0;
  // Runs `task` once on the user-interface thread after `delay`. Thread-safe.
  virtual TimerId StartTimer(std::chrono::milliseconds delay, Task task) = 0;
  // A timer already run or cancelled is ignored. Thread-safe.
  virtual void CancelTimer(TimerId id) = 0;
};

}  // namespace fm
