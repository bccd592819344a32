#pragma once

#include <memory>

#include "platform/EventLoop.h"

namespace fm::qt {

// The platform's event loop on the Qt event loop of the user-interface thread: posted tasks
// are queued calls (QMetaObject::invokeMethod, queued), timers are single-shot QTimers,
// ProcessPendingEvents is QCoreApplication::processEvents and Sleep is QThread::msleep.
//
// Post, StartTimer and CancelTimer may be called from any thread; a timer started from a
// worker thread is created on the user-interface thread, and a cancel that overtakes its
// creation still cancels it. A task that throws is reported to the error reporter
// ("EventLoop.Task") and the loop goes on. Work posted after the loop was destroyed is
// dropped.
//
// Create on the user-interface thread, after the QApplication.
class QtEventLoop final : public EventLoop {
 public:
  QtEventLoop();
  ~QtEventLoop() override;
  QtEventLoop(const QtEventLoop&) = delete;
  QtEventLoop& operator=(const QtEventLoop&) = delete;

  void Post(Task task) override;
  void ProcessPendingEvents() override;
  void Sleep(std::chrono::milliseconds duration) override;
  TimerId StartTimer(std::chrono::milliseconds delay, Task task) override;
  void CancelTimer(TimerId id) override;

  // Timers started and neither run nor cancelled yet.
  std::size_t PendingTimerCount() const;

 private:
  struct Shared;
  std::shared_ptr<Shared> mShared;
};

}  // namespace fm::qt
