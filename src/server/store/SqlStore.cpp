// The transactions, the construction and what the store knows without asking the database;
// migrations, range reads, history reads and saves each have a file of their own
// (SqlStoreMigrations.cpp, SqlStoreRanges.cpp, SqlStoreHistory.cpp, SqlStoreSaves.cpp).

#include "server/store/SqlStore.h"

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

#include "server/store/InventoryCheck.h"
#include "server/store/RecordChain.h"
#include "server/store/ReferenceData.h"
#include "server/store/SqlStoreTransactions.h"
#include "server/store/TimeText.h"

namespace fm::server {

// --- Errors -------------------------------------------------------------------------------

StoreError Translate(const SqlError& e) {
  switch (e.GetKind()) {
    case SqlError::Kind::Busy:
      return StoreError::Unavailable(
          "The forms inventory is busy with other saves; nothing was changed. Try again in a "
          "moment.");
    case SqlError::Kind::Connection:
      return StoreError::Unavailable(fmt::format(
          "The forms inventory cannot be reached; nothing was changed. ({})", e.what()));
    case SqlError::Kind::Retryable:
    case SqlError::Kind::Constraint:
      return StoreError::Conflict(fmt::format(
          "Another save changed the same ranges at the same time, so this one was not applied. "
          "Search again and repeat the change. ({})",
          e.what()));
    case SqlError::Kind::Other:
      break;
  }
  return StoreError::Internal(e.what());
}

bool WorthRetrying(const SqlError& e) {
  switch (e.GetKind()) {
    case SqlError::Kind::Retryable:
    case SqlError::Kind::Constraint:  // a concurrent save may have won a race our checks lost
    case SqlError::Kind::Connection:  // a fresh connection may work (the database restarted)
      return true;
    default:
      return false;
  }
}

void Backoff(int attempt) {
  thread_local std::minstd_rand random{std::random_device{}()};
  int base = 5 << std::min(attempt, 6);
  std::uniform_int_distribution<int> jitter(0, base);
  std::this_thread::sleep_for(std::chrono::milliseconds(base + jitter(random)));
}

// --- Transactions ------------------------------------------------------------------------

void SqlStore::ReadEach(std::string_view sql, const std::vector<SqlValue>& params,
                        const std::function<bool(const SqlRow&, std::size_t)>& each) {
  auto run = [&](SqlConnection& c) {
    std::size_t index = 0;  // from 0 again when the statement is run again
    c.QueryEach(sql, params, [&](const SqlRow& row) { return each(row, index++); });
    return 0;
  };
  // One statement reads one snapshot by itself: no transaction to begin and end.
  if (tShared.store == this) {
    run(*tShared.connection);
  } else {
    OnConnection(run);
  }
}

std::vector<SqlRow> SqlStore::ReadRows(std::string_view sql, const std::vector<SqlValue>& params) {
  std::vector<SqlRow> rows;
  ReadEach(sql, params, [&](const SqlRow& row, std::size_t index) {
    if (index == 0) rows.clear();
    rows.push_back(row);
    return true;
  });
  return rows;
}

void SqlStore::ReadTogether(const std::function<void()>& reads) {
  Read([&](SqlConnection&) {
    reads();
    return 0;
  });
}

void SqlStore::WriteWith(const WriteScope& scope, const std::function<void(SqlConnection&)>& body) {
  Write(scope, [&](SqlConnection& c) {
    body(c);
    return 0;
  });
}

// --- Construction -------------------------------------------------------------------------

SqlStore::SqlStore(Backend backend, StoreOptions options)
    : mBackend(std::move(backend)),
      mOptions(std::move(options)),
      mPool(mBackend.connect, mOptions.poolSize) {
  if (mOptions.migrate) Migrate();
  mReference = Read([](SqlConnection& c) {
    return std::make_unique<const ReferenceData>(ReferenceData::FromStore(c));
  });
  if (mReference->FormTypes().empty()) {
    throw StoreError::Internal(fmt::format(
        "the {} inventory has no form types: its schema was not created (run the migrations)",
        mBackend.name));
  }
}

SqlStore::~SqlStore() = default;

std::string SqlStore::Now() const {
  std::string now =
      mOptions.clock ? mOptions.clock() : UtcTimestamp(std::chrono::system_clock::now());
  // The custody history is read as of instants (what a station held at the start of a
  // month), which needs a save's stamp to be no earlier than those of the saves it builds
  // on. A system clock stepped back would break that; the stamps wait for it instead.
  std::lock_guard lock(mClockMutex);
  if (now < mLastStamp) return mLastStamp;
  mLastStamp = now;
  return now;
}

std::string SqlStore::BackendName() const { return mBackend.name; }

std::vector<FormTypeInfo> SqlStore::FormTypes() { return mReference->FormTypes(); }

const ReferenceData& SqlStore::Reference() const { return *mReference; }

InventoryCheck SqlStore::CheckInventory() {
  // The ranges and the history from one snapshot (Read's): a save landing between the two
  // reads would show as a range no history accounts for.
  return Read([](SqlConnection& c) { return fm::server::CheckInventory(c); });
}

ChainCheck SqlStore::CheckRecordChain(const ChainCheckOptions& options) {
  return Read([&](SqlConnection& c) { return CheckChain(c, options); });
}

ChainHead SqlStore::RecordChainHead() {
  return Read([](SqlConnection& c) { return ReadChainHead(c); });
}

}  // namespace fm::server
