#pragma once

#include <spdlog/spdlog.h>

#include "server/store/RecordChain.h"
#include "server/store/SqlError.h"
#include "server/store/SqlStore.h"
#include "server/store/StoreError.h"

// How SqlStore runs its reads and writes (SqlStore.h says what they promise), for its sources
// (SqlStore*.cpp) only.
namespace fm::server {

// The StoreError a caller sees for what the database reported.
StoreError Translate(const SqlError& e);
// Whether a failure may pass when the transaction runs again, on a fresh connection.
bool WorthRetrying(const SqlError& e);
// The pause before attempt `attempt` + 1: growing and jittered, so racing writers part.
void Backoff(int attempt);

// The connection and snapshot of the read this thread is in, and for which store.
struct SharedRead {
  const SqlStore* store = nullptr;
  SqlConnection* connection = nullptr;
};
inline thread_local SharedRead tShared;

template <typename Body>
auto SqlStore::Write(const WriteScope& scope, Body&& body) {
  const bool postgres = mBackend.name == "postgresql";
  for (int attempt = 0;; ++attempt) {
    bool deferredLinks = false;
    try {
      auto lease = mPool.Acquire();
      // What this attempt writes is linked to the record chain before it commits; an attempt
      // run again starts its list afresh.
      ChainPending pending;
      const ChainPendingScope linking(pending);
      try {
        lease->BeginWrite(scope.formTypes, mRecordChain);
        auto result = body(*lease);
        std::optional<ChainHead> moved;
        std::optional<DeferredLinks> deferred;
        if (mRecordChain) {
          std::optional<ChainHead> known;
          bool alone = false;
          {
            const std::lock_guard lock(mChainMutex);
            known = mChainHead;
            alone = mChainAlone;
          }
          if (postgres && known && alone) deferred = DeferLinks(*lease, pending, *known);
          if (deferred) {
            if (!deferred->statement.empty()) moved = deferred->to;
          } else {
            bool afterKnown = false;
            moved = AppendLinks(*lease, pending, known, postgres, &afterKnown);
            if (afterKnown) {
              const std::lock_guard lock(mChainMutex);
              mChainAlone = true;
            }
          }
        }
        const std::vector<std::string> alerts = CompareWithMinimums(*lease, scope);
        if (deferred && !deferred->statement.empty()) {
          deferredLinks = true;
          lease->CommitAfter(deferred->statement);
        } else {
          lease->Commit();
        }
        if (moved) {
          const std::lock_guard lock(mChainMutex);
          mChainHead = moved;
        }
        for (const auto& alert : alerts) spdlog::warn("request {}: {}", scope.requestId, alert);
        return result;
      } catch (...) {
        lease->Rollback();
        throw;
      }
    } catch (const SqlError& e) {
      if (deferredLinks && e.State() == kDeferredLinksMoved && attempt < mOptions.maxRetries) {
        // Another server linked since this one's last write: nothing committed, and the
        // write goes again at once, reading the head.
        const std::lock_guard lock(mChainMutex);
        mChainAlone = false;
        continue;
      }
      if (WorthRetrying(e) && attempt < mOptions.maxRetries) {
        // With the form-type locks, writers of one form type no longer collide; what still
        // does (saves of different form types whose reads and writes the database could not
        // tell apart, a broken connection) is worth seeing.
        spdlog::warn("request {}: {} store: running the write again ({} of at most {}) after: {}",
                     scope.requestId, mBackend.name, attempt + 1, mOptions.maxRetries, e.what());
        Backoff(attempt);
        continue;
      }
      throw Translate(e);
    }
  }
}

template <typename Body>
auto SqlStore::OnConnection(Body&& body) {
  for (int attempt = 0;; ++attempt) {
    try {
      auto lease = mPool.Acquire();
      return body(*lease);
    } catch (const SqlError& e) {
      if (WorthRetrying(e) && attempt < mOptions.maxRetries) {
        Backoff(attempt);
        continue;
      }
      throw Translate(e);
    }
  }
}

template <typename Body>
auto SqlStore::Read(Body&& body) {
  // Inside a read of this store already: its connection and snapshot, and its retry of the
  // whole.
  if (tShared.store == this) return body(*tShared.connection);
  return OnConnection([&](SqlConnection& c) {
    // SQLite takes the snapshot at the first statement, PostgreSQL (REPEATABLE READ) too:
    // every statement of the body sees the same commits, and no writer waits for it.
    c.Begin(SqlConnection::Transaction::Read);
    const SharedRead outer = tShared;
    tShared = {this, &c};
    try {
      auto result = body(c);
      tShared = outer;
      c.Commit();
      return result;
    } catch (...) {
      tShared = outer;
      c.Rollback();
      throw;
    }
  });
}

}  // namespace fm::server
