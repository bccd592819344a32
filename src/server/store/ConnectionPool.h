#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "server/store/SqlConnection.h"

namespace fm::server {

// Hands out database connections to concurrent callers, at most `capacity` open at once;
// a caller finding all in use waits for one. Connections are opened on demand; one that
// has failed (not Healthy) is closed when it comes back instead of being reused.
//
// Thread-safe. Acquire throws what the factory throws.
class ConnectionPool {
 public:
  using Factory = std::function<std::unique_ptr<SqlConnection>()>;

  // A connection on loan; returns it to the pool when destroyed.
  class Lease {
   public:
    Lease(ConnectionPool* pool, std::unique_ptr<SqlConnection> connection)
        : mPool(pool), mConnection(std::move(connection)) {}
    ~Lease();
    Lease(Lease&& other) noexcept = default;
    Lease& operator=(Lease&&) = delete;
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;

    SqlConnection& operator*() const { return *mConnection; }
    SqlConnection* operator->() const { return mConnection.get(); }

   private:
    ConnectionPool* mPool;
    std::unique_ptr<SqlConnection> mConnection;
  };

  ConnectionPool(Factory factory, std::size_t capacity);

  Lease Acquire();

 private:
  void Return(std::unique_ptr<SqlConnection> connection);

  const Factory mFactory;
  const std::size_t mCapacity;
  std::mutex mMutex;
  std::condition_variable mAvailable;
  // State below is protected by mMutex.
  std::vector<std::unique_ptr<SqlConnection>> mIdle;
  std::size_t mOpen = 0;  // idle plus on loan
};

}  // namespace fm::server
