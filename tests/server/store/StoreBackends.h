#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "server/store/Store.h"

namespace fm::server {
struct HistoryOptions;
}

// The two store backends as GoogleTest type parameters: every typed suite over
// `StoreBackends` runs once on SQLite (a file in a temporary directory) and once on
// PostgreSQL (a schema of its own in the database of FM_TEST_PG_URL, dropped afterwards).
//
// PostgreSQL tests skip when FM_TEST_PG_URL is unset or the server does not answer, except
// when CI=true: there they fail, so a CI run cannot pass without testing PostgreSQL.
namespace fm::server::testing {

struct SqliteBackend {
  static constexpr const char* kName = "SQLite";
  // Answers false (with the reason) when the backend cannot be used.
  bool Prepare(std::string* why);
  std::string Address() const;
  void Cleanup();
  // Runs SQL on the database file outside the store. Answers the error text, empty on
  // success.
  std::string ExecuteDirectly(const std::string& sql) const;

  std::filesystem::path mDirectory;
};

struct PostgresBackend {
  static constexpr const char* kName = "PostgreSQL";
  bool Prepare(std::string* why);
  std::string Address() const;
  void Cleanup();
  // Runs SQL on the test schema outside the store (to prove what the database refuses).
  // Answers the error text, empty on success.
  std::string ExecuteDirectly(const std::string& sql) const;

  std::string mBaseUrl;
  std::string mSchema;
};

// A range as loaded: every form remaining; the quarterly type in the first quarter of 2024.
FormRange Stock(std::string type, std::int64_t from, std::int64_t to, std::int64_t registry = 0,
                std::string status = "A", std::string troop = "A", std::string district = "1");

// `who` saving under the request id `requestId`.
SaveContext As(const SaveContext& who, std::string requestId);

// A change of the saves' rows at Troop/District A1.
RangeChange Change(RangeChange::Action action, std::string type, std::int64_t from, std::int64_t to,
                   std::optional<std::int64_t> registry, std::optional<std::string> status,
                   std::optional<std::string> comment = std::nullopt);

// Audit stamps from a counter, so that tests can compare them.
std::function<std::string()> CountingClock();

bool CiRequiresEveryBackend();

// `changes` with every "UPD" that carries no version given the version of the stored range it
// names (same form type and From) as the store holds it now: the rows of a client that has
// just searched. A row naming no stored range is left as it is.
std::vector<RangeChange> WithCurrentVersions(Store& store, std::vector<RangeChange> changes);

// A generated history small enough for a test: `ranges` ranges over `years` years ending on
// 2026-01-01, saves of 40 rows.
HistoryOptions SmallHistory(std::size_t ranges, int years, std::uint64_t seed);

// SQL that takes a store back from schema version 7 to 4: the stock and use tables go, and the
// history's lineage columns and indexes, so that reopening the store runs migration 5 (and
// its backfill) again.
std::vector<std::string> UndoHistoryIndexSql();

using StoreBackends = ::testing::Types<SqliteBackend, PostgresBackend>;

struct BackendNames {
  template <typename T>
  static std::string GetName(int) {
    return T::kName;
  }
};

// Base fixture: a fresh, migrated store of the backend for every test.
template <typename Backend>
class StoreFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!mBackend.Prepare(&why)) {
      if (CiRequiresEveryBackend()) {
        FAIL() << Backend::kName << " is required when CI=true: " << why;
      }
      GTEST_SKIP() << Backend::kName << " not available: " << why;
    }
    mStore = OpenStore(mBackend.Address(), Options());
  }
  void TearDown() override {
    mStore.reset();
    mBackend.Cleanup();
  }
  StoreOptions Options() const {
    StoreOptions options;
    options.clock = CountingClock();
    options.poolSize = 4;
    return options;
  }

  Backend mBackend;
  std::shared_ptr<Store> mStore;
};

}  // namespace fm::server::testing
