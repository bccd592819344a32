#include "qt/shell/QtEventLoop.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "platform/ErrorTrap.h"
#include "platform/PlatformError.h"

namespace fm::qt {

// Shared with the queued calls in flight, so that a call arriving after the loop is gone
// finds it gone.
struct QtEventLoop::Shared {
  std::mutex mutex;
  QObject* context = nullptr;  // lives on the user-interface thread; null once destroyed
  std::atomic<TimerId> nextTimer{1};
  std::unordered_set<TimerId> pending;          // started, not yet run nor cancelled
  std::unordered_map<TimerId, QTimer*> timers;  // user-interface thread only

  // Runs `call` on the user-interface thread: at once when already there, else queued.
  void OnUiThread(std::function<void()> call) {
    {
      std::lock_guard lock(mutex);
      if (context == nullptr) return;
      if (QThread::currentThread() != context->thread()) {
        // Under the lock: the loop cannot be destroyed between the check and the call.
        QMetaObject::invokeMethod(context, std::move(call), Qt::QueuedConnection);
        return;
      }
    }
    // Already on the user-interface thread; not under the lock, which the call takes.
    call();
  }

  bool Claim(TimerId id) {
    std::lock_guard lock(mutex);
    return pending.erase(id) != 0;
  }
};

namespace {
void RunTask(const EventLoop::Task& task) {
  Trap("EventLoop.Task", [&] { task(); });
}
}  // namespace

QtEventLoop::QtEventLoop() : mShared(std::make_shared<Shared>()) {
  if (QCoreApplication::instance() == nullptr) {
    throw PlatformError(PlatformError::kGeneric,
                        "The Qt event loop needs the application object: create the "
                        "QApplication first");
  }
  mShared->context = new QObject();
}

QtEventLoop::~QtEventLoop() {
  QObject* context = nullptr;
  {
    std::lock_guard lock(mShared->mutex);
    context = mShared->context;
    mShared->context = nullptr;
    mShared->pending.clear();
  }
  // Its timers and the queued calls addressed to it go with it.
  delete context;
}

void QtEventLoop::Post(Task task) {
  if (!task) throw PlatformError(PlatformError::kGeneric, "Cannot post an empty task");
  std::lock_guard lock(mShared->mutex);
  if (mShared->context == nullptr) return;
  QMetaObject::invokeMethod(
      mShared->context, [task = std::move(task)] { RunTask(task); }, Qt::QueuedConnection);
}

void QtEventLoop::ProcessPendingEvents() {
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtEventLoop::Sleep(std::chrono::milliseconds duration) {
  if (duration.count() > 0) QThread::msleep(static_cast<unsigned long>(duration.count()));
}

EventLoop::TimerId QtEventLoop::StartTimer(std::chrono::milliseconds delay, Task task) {
  if (!task) throw PlatformError(PlatformError::kGeneric, "Cannot start a timer without a task");
  const TimerId id = mShared->nextTimer++;
  {
    std::lock_guard lock(mShared->mutex);
    if (mShared->context == nullptr) return id;
    mShared->pending.insert(id);
  }
  const int milliseconds = static_cast<int>(std::max<std::int64_t>(0, delay.count()));
  std::weak_ptr<Shared> weak = mShared;
  mShared->OnUiThread([weak, id, milliseconds, task = std::move(task)]() mutable {
    auto shared = weak.lock();
    if (!shared) return;
    QObject* context = nullptr;
    {
      std::lock_guard lock(shared->mutex);
      // Cancelled before it could even be created.
      if (shared->pending.count(id) == 0 || shared->context == nullptr) return;
      context = shared->context;
    }
    auto* timer = new QTimer(context);
    timer->setSingleShot(true);
    shared->timers[id] = timer;
    QObject::connect(timer, &QTimer::timeout, context, [weak, id, timer, task = std::move(task)] {
      auto owner = weak.lock();
      if (!owner) return;
      owner->timers.erase(id);
      timer->deleteLater();
      if (owner->Claim(id)) RunTask(task);
    });
    timer->start(milliseconds);
  });
  return id;
}

void QtEventLoop::CancelTimer(TimerId id) {
  if (!mShared->Claim(id)) return;
  std::weak_ptr<Shared> weak = mShared;
  mShared->OnUiThread([weak, id] {
    auto shared = weak.lock();
    if (!shared) return;
    const auto it = shared->timers.find(id);
    if (it == shared->timers.end()) return;
    it->second->stop();
    it->second->deleteLater();
    shared->timers.erase(it);
  });
}

std::size_t QtEventLoop::PendingTimerCount() const {
  std::lock_guard lock(mShared->mutex);
  return mShared->pending.size();
}

}  // namespace fm::qt
