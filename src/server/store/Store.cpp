#include "server/store/Store.h"

#include <fmt/format.h>

#include "server/store/PostgresConnection.h"
#include "server/store/SqlError.h"
#include "server/store/SqlStore.h"
#include "server/store/SqliteConnection.h"
#include "server/store/StoreError.h"

namespace fm::embedded {
// Compiled from src/server/store/sql (see CMakeLists.txt).
extern const char* const kServerSqliteInventorySql;
extern const char* const kServerPostgresInventorySql;
extern const char* const kServerSqliteVersionsSql;
extern const char* const kServerPostgresVersionsSql;
extern const char* const kServerSqliteClaimedUserSql;
extern const char* const kServerPostgresClaimedUserSql;
extern const char* const kServerSqliteHistorySql;
extern const char* const kServerPostgresHistorySql;
extern const char* const kServerSqliteUsageSql;
extern const char* const kServerPostgresUsageSql;
extern const char* const kServerSqliteStockSql;
extern const char* const kServerPostgresStockSql;
extern const char* const kServerSqliteReceiptSql;
extern const char* const kServerPostgresReceiptSql;
extern const char* const kServerSqliteAllotmentSql;
extern const char* const kServerPostgresAllotmentSql;
extern const char* const kServerSqliteStockIndexSql;
extern const char* const kServerPostgresStockIndexSql;
extern const char* const kServerSqliteCountSql;
extern const char* const kServerPostgresCountSql;
extern const char* const kServerSqliteChainSql;
extern const char* const kServerPostgresChainSql;
}  // namespace fm::embedded

namespace fm::server {

namespace {

bool StartsWith(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::shared_ptr<Store> OpenSqlite(const std::string& path, const StoreOptions& options) {
  if (path.empty() || path == ":memory:" || StartsWith(path, "file:")) {
    // Every pooled connection must see the same database, which only a file gives.
    throw StoreError::Rejected(fmt::format("\"sqlite:{}\" does not name a database file", path));
  }
  SqlStore::Backend backend{"sqlite",
                            [path, timeout = options.busyTimeout, cache = options.sqliteCacheMiB,
                             mapped = options.sqliteMmapMiB] {
                              return std::make_unique<SqliteConnection>(path, timeout, cache,
                                                                        mapped);
                            },
                            fm::embedded::kServerSqliteInventorySql,
                            fm::embedded::kServerSqliteVersionsSql,
                            fm::embedded::kServerSqliteClaimedUserSql,
                            fm::embedded::kServerSqliteHistorySql,
                            fm::embedded::kServerSqliteUsageSql,
                            fm::embedded::kServerSqliteStockSql,
                            fm::embedded::kServerSqliteReceiptSql,
                            fm::embedded::kServerSqliteAllotmentSql,
                            fm::embedded::kServerSqliteStockIndexSql,
                            fm::embedded::kServerSqliteCountSql,
                            fm::embedded::kServerSqliteChainSql};
  return std::make_shared<SqlStore>(std::move(backend), options);
}

std::shared_ptr<Store> OpenPostgres(std::string url, const StoreOptions& options) {
  // libpq waits for an unreachable host for ever unless told otherwise.
  if (url.find("connect_timeout=") == std::string::npos) {
    url += url.find('?') == std::string::npos ? "?connect_timeout=10" : "&connect_timeout=10";
  }
  SqlStore::Backend backend{"postgresql",
                            [url, timeout = options.busyTimeout] {
                              return std::make_unique<PostgresConnection>(url, timeout);
                            },
                            fm::embedded::kServerPostgresInventorySql,
                            fm::embedded::kServerPostgresVersionsSql,
                            fm::embedded::kServerPostgresClaimedUserSql,
                            fm::embedded::kServerPostgresHistorySql,
                            fm::embedded::kServerPostgresUsageSql,
                            fm::embedded::kServerPostgresStockSql,
                            fm::embedded::kServerPostgresReceiptSql,
                            fm::embedded::kServerPostgresAllotmentSql,
                            fm::embedded::kServerPostgresStockIndexSql,
                            fm::embedded::kServerPostgresCountSql,
                            fm::embedded::kServerPostgresChainSql};
  return std::make_shared<SqlStore>(std::move(backend), options);
}

}  // namespace

void Store::ForEachRange(const RangeQuery& query, const RangeVisitor& each) {
  const std::vector<StoredRange> ranges = FindRanges(query);
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    if (!each(ranges[i], i)) return;
  }
}

void Store::ReadTogether(const std::function<void()>& reads) { reads(); }

std::shared_ptr<Store> OpenStore(const std::string& address, const StoreOptions& options) {
  try {
    if (StartsWith(address, "sqlite:")) return OpenSqlite(address.substr(7), options);
    if (StartsWith(address, "postgresql://") || StartsWith(address, "postgres://")) {
      return OpenPostgres(address, options);
    }
  } catch (const SqlError& e) {
    // A connection that could not even be opened: the store is unavailable.
    throw StoreError::Unavailable(e.what());
  }
  throw StoreError::Rejected(fmt::format(
      "\"{}\" is not a database address: give sqlite:PATH or a postgresql:// URL", address));
}

}  // namespace fm::server
