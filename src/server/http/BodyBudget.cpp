#include "server/http/BodyBudget.h"

#include <utility>

namespace fm::server {

BodyReservation::~BodyReservation() { mBudget.Release(*this); }

std::size_t BodyReservation::Bytes() const {
  std::lock_guard lock(mBudget.mMutex);
  return mBytes;
}

void BodyReservation::Hold(std::size_t bytes) { mBudget.Change(*this, bytes); }

void BodyBudget::SetRunner(std::function<void(Job)> runner) {
  std::deque<Waiting> dropped;
  {
    std::lock_guard lock(mMutex);
    mRunner = std::move(runner);
    if (!mRunner) dropped.swap(mWaiting);
  }
  // Their reservations give back what they hold as they go (the lock is free again).
}

std::shared_ptr<BodyReservation> BodyBudget::TakeForBody(std::size_t bytes) {
  std::lock_guard lock(mMutex);
  if (!mWaiting.empty() || !Fits(bytes)) return nullptr;
  mHeld += bytes;
  ++mArriving;
  return std::shared_ptr<BodyReservation>(
      new BodyReservation(*this, bytes, BodyReservation::Stage::Arriving));
}

std::shared_ptr<BodyReservation> BodyBudget::TakeNothing() {
  return std::shared_ptr<BodyReservation>(
      new BodyReservation(*this, 0, BodyReservation::Stage::Waiting));
}

std::size_t BodyBudget::Held() const {
  std::lock_guard lock(mMutex);
  return mHeld;
}

void BodyBudget::Begin(BodyReservation& reservation, std::size_t bytes) {
  mHeld += bytes;
  ++mHandled;
  reservation.mBytes += bytes;
  reservation.mStage = BodyReservation::Stage::Handled;
}

void BodyBudget::Handle(const std::shared_ptr<BodyReservation>& reservation, std::size_t bytes,
                        Job start, Job refuse) {
  std::vector<Job> ready;
  std::vector<Waiting> done;
  {
    std::lock_guard lock(mMutex);
    if (reservation->mStage == BodyReservation::Stage::Arriving) --mArriving;
    reservation->mStage = BodyReservation::Stage::Waiting;
    // A request asking nothing more (one without a body) is never held up.
    if (bytes == 0 || (mWaiting.empty() && Fits(bytes))) {
      Begin(*reservation, bytes);
    } else {
      mWaiting.push_back({reservation, bytes, std::move(start), std::move(refuse)});
      start = nullptr;
    }
    // Also when it went ahead: a body has stopped arriving, which may leave the first
    // waiting request with nothing to wait for.
    Advance(ready, done);
  }
  if (start) start();
  Run(ready);
}

void BodyBudget::Advance(std::vector<Job>& ready, std::vector<Waiting>& done) {
  while (!mWaiting.empty()) {
    Waiting& next = mWaiting.front();
    if (Fits(next.bytes)) {
      Begin(*next.reservation, next.bytes);
      ready.push_back(std::move(next.start));
      done.push_back(std::move(next));
      mWaiting.pop_front();
    } else if (mHandled == 0 && mArriving == 0) {
      // Nothing comes back but what the waiting requests hold: the latest comer gives up its
      // part, at once, so that the first may fit.
      Waiting& last = mWaiting.back();
      mHeld -= last.reservation->mBytes;
      last.reservation->mBytes = 0;
      last.reservation->mStage = BodyReservation::Stage::Done;
      ready.push_back(std::move(last.refuse));
      done.push_back(std::move(last));
      mWaiting.pop_back();
    } else {
      return;
    }
  }
}

void BodyBudget::Run(std::vector<Job>& ready) {
  if (ready.empty()) return;
  std::function<void(Job)> runner;
  {
    std::lock_guard lock(mMutex);
    runner = mRunner;
  }
  if (!runner) return;
  for (auto& job : ready) runner(std::move(job));
}

void BodyBudget::Release(BodyReservation& reservation) {
  std::vector<Job> ready;
  std::vector<Waiting> done;
  {
    std::lock_guard lock(mMutex);
    mHeld -= reservation.mBytes;
    if (reservation.mStage == BodyReservation::Stage::Arriving) --mArriving;
    if (reservation.mStage == BodyReservation::Stage::Handled) --mHandled;
    Advance(ready, done);
  }
  Run(ready);
}

void BodyBudget::Change(BodyReservation& reservation, std::size_t bytes) {
  std::vector<Job> ready;
  std::vector<Waiting> done;
  {
    std::lock_guard lock(mMutex);
    mHeld = mHeld - reservation.mBytes + bytes;
    reservation.mBytes = bytes;
    Advance(ready, done);
  }
  Run(ready);
}

}  // namespace fm::server
