#pragma once

#include <algorithm>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace fm::server {

class BodyBudget;

// What one request holds of a BodyBudget, given back when it is destroyed.
class BodyReservation {
 public:
  ~BodyReservation();
  BodyReservation(const BodyReservation&) = delete;
  BodyReservation& operator=(const BodyReservation&) = delete;

  std::size_t Bytes() const;
  // From now on holds `bytes`, more or less than before: a chunked body once its size is
  // known, a reply once made. More is taken whatever the limit (a reply exists already).
  void Hold(std::size_t bytes);

 private:
  friend class BodyBudget;
  enum class Stage { Arriving, Waiting, Handled, Done };
  BodyReservation(BodyBudget& budget, std::size_t bytes, Stage stage)
      : mBudget(budget), mBytes(bytes), mStage(stage) {}

  BodyBudget& mBudget;
  // Guarded by the budget's mutex.
  std::size_t mBytes;
  Stage mStage;
};

// The memory requests hold at once, with a limit: a body while it arrives (its declared
// length), then while it is handled the body and what reading and answering it take, then
// its reply until written. A body that would pass the limit is not taken. A request whose
// handling does not fit waits, first come first served, until requests handled before it
// give back enough; and while one waits no body is taken, so that what comes back goes to
// it. Waiting requests are refused, the latest comer first, only when nothing can come back
// any more: no request is being handled or answered, and no body is arriving (all that is
// held waits). So bodies and their handling stay within the limit whatever clients send.
// Only replies take the budget past it: a reply is counted once made, and a request without
// a body (a history, a report) is never held up.
//
// Thread safety: every member may be called from any thread; a reservation is used by one
// thread at a time (the one its request is on).
class BodyBudget {
 public:
  using Job = std::function<void()>;

  explicit BodyBudget(std::size_t limit) : mLimit(limit) {}
  ~BodyBudget() { SetRunner(nullptr); }
  BodyBudget(const BodyBudget&) = delete;
  BodyBudget& operator=(const BodyBudget&) = delete;

  // Where the start or refusal of a request that waited runs (the handler pool). Null: the
  // waiting requests are dropped, their jobs destroyed, and later ones too.
  void SetRunner(std::function<void(Job)> runner);

  // A body of `bytes` about to be received; null (nothing taken) when it would pass the
  // limit or requests received before it wait for room.
  std::shared_ptr<BodyReservation> TakeForBody(std::size_t bytes);
  // A request without a body: it holds nothing until it is handled.
  std::shared_ptr<BodyReservation> TakeNothing();

  // The request of `reservation` is in, to be handled with `bytes` more. `start` runs here
  // and now when they fit and no request waits (or when they are none), else on the runner
  // once they fit; `refuse` runs on the runner instead when they cannot (the reservation
  // then holds nothing).
  void Handle(const std::shared_ptr<BodyReservation>& reservation, std::size_t bytes, Job start,
              Job refuse);

  std::size_t Limit() const { return mLimit; }
  std::size_t Held() const;

 private:
  friend class BodyReservation;
  struct Waiting {
    std::shared_ptr<BodyReservation> reservation;
    std::size_t bytes;
    Job start;
    Job refuse;
  };

  bool Fits(std::size_t bytes) const { return bytes <= mLimit - std::min(mHeld, mLimit); }
  void Begin(BodyReservation& reservation, std::size_t bytes);
  // Under the lock: the waiting requests that can go now, started first come first served,
  // or refused. The entries taken off the queue go to `done`, to be destroyed once the lock
  // is released.
  void Advance(std::vector<Job>& ready, std::vector<Waiting>& done);
  // Without the lock.
  void Run(std::vector<Job>& ready);
  void Release(BodyReservation& reservation);
  void Change(BodyReservation& reservation, std::size_t bytes);

  const std::size_t mLimit;
  mutable std::mutex mMutex;  // guards the members below and those of the reservations
  std::size_t mHeld = 0;
  std::size_t mArriving = 0;  // bodies being received
  std::size_t mHandled = 0;   // requests handled or answered, which will give back theirs
  std::deque<Waiting> mWaiting;
  std::function<void(Job)> mRunner;
};

}  // namespace fm::server
