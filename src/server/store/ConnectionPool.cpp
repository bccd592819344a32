#include "server/store/ConnectionPool.h"

#include <algorithm>

namespace fm::server {

ConnectionPool::Lease::~Lease() {
  if (mPool && mConnection) mPool->Return(std::move(mConnection));
}

ConnectionPool::ConnectionPool(Factory factory, std::size_t capacity)
    : mFactory(std::move(factory)), mCapacity(std::max<std::size_t>(capacity, 1)) {}

ConnectionPool::Lease ConnectionPool::Acquire() {
  std::unique_lock lock(mMutex);
  mAvailable.wait(lock, [&] { return !mIdle.empty() || mOpen < mCapacity; });
  if (!mIdle.empty()) {
    auto connection = std::move(mIdle.back());
    mIdle.pop_back();
    return Lease(this, std::move(connection));
  }
  ++mOpen;
  lock.unlock();
  // Connecting can take a while; other callers need not wait for it.
  try {
    return Lease(this, mFactory());
  } catch (...) {
    std::lock_guard relock(mMutex);
    --mOpen;
    mAvailable.notify_one();
    throw;
  }
}

void ConnectionPool::Return(std::unique_ptr<SqlConnection> connection) {
  connection->Rollback();  // a lease must never hand on an open transaction
  std::lock_guard lock(mMutex);
  if (connection->Healthy()) {
    mIdle.push_back(std::move(connection));
  } else {
    --mOpen;
  }
  mAvailable.notify_one();
}

}  // namespace fm::server
