#include "server/store/SqliteConnection.h"

#include <fmt/format.h>
#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <string>

#include "server/store/SqlError.h"

namespace fm::server {

namespace {

// Prepared statements kept per connection. Search statements vary with the criteria, so
// the cache is bounded; the bound is far above the number of shapes the handler builds.
constexpr std::size_t kMaxCachedStatements = 128;

SqlError::Kind KindOf(int code) {
  switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return SqlError::Kind::Busy;
    case SQLITE_CONSTRAINT:
      return SqlError::Kind::Constraint;
    case SQLITE_CANTOPEN:
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_IOERR:
    case SQLITE_FULL:
      return SqlError::Kind::Connection;
    default:
      return SqlError::Kind::Other;
  }
}

}  // namespace

struct SqliteConnection::Impl {
  sqlite3* db = nullptr;
  std::string file;
  std::map<std::string, sqlite3_stmt*, std::less<>> statements;
  bool healthy = true;

  [[noreturn]] void Fail(int code, std::string_view doing) {
    SqlError::Kind kind = KindOf(code);
    if (kind == SqlError::Kind::Connection) healthy = false;
    throw SqlError(kind, fmt::format("SQLite {} ({}): {}", doing, file, sqlite3_errmsg(db)));
  }

  void ClearStatements() {
    for (auto& [sql, stmt] : statements) sqlite3_finalize(stmt);
    statements.clear();
  }

  sqlite3_stmt* Prepare(std::string_view sql) {
    if (auto it = statements.find(sql); it != statements.end()) return it->second;
    if (statements.size() >= kMaxCachedStatements) ClearStatements();
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()),
                                SQLITE_PREPARE_PERSISTENT, &stmt, &tail);
    if (rc != SQLITE_OK) Fail(rc, fmt::format("could not prepare \"{}\"", sql));
    statements.emplace(std::string(sql), stmt);
    return stmt;
  }

  void Bind(sqlite3_stmt* stmt, const std::vector<SqlValue>& params) {
    if (static_cast<int>(params.size()) != sqlite3_bind_parameter_count(stmt)) {
      throw SqlError(
          SqlError::Kind::Other,
          fmt::format("statement \"{}\" takes {} parameters, {} given", sqlite3_sql(stmt),
                      sqlite3_bind_parameter_count(stmt), params.size()));
    }
    for (std::size_t i = 0; i < params.size(); ++i) {
      int index = static_cast<int>(i) + 1;
      int rc = std::visit(
          [&](const auto& v) -> int {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
              return sqlite3_bind_null(stmt, index);
            } else if constexpr (std::is_same_v<T, std::int64_t>) {
              return sqlite3_bind_int64(stmt, index, v);
            } else if constexpr (std::is_same_v<T, double>) {
              return sqlite3_bind_double(stmt, index, v);
            } else {
              return sqlite3_bind_text(stmt, index, v.data(), static_cast<int>(v.size()),
                                       SQLITE_TRANSIENT);
            }
          },
          params[i]);
      if (rc != SQLITE_OK) Fail(rc, "could not bind a parameter");
    }
  }

  // Steps through the statement, reading each row into `row` (its texts keep their
  // capacity from row to row) and handing it to `each`, until the end or `each` answers
  // false. The statement is reset in any case, so it stays usable for the next call.
  template <typename Each>
  void RunEach(sqlite3_stmt* stmt, SqlRow& row, Each&& each) {
    struct Reset {
      sqlite3_stmt* stmt;
      ~Reset() {
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
      }
    } reset{stmt};
    const auto columns = static_cast<std::size_t>(sqlite3_column_count(stmt));
    for (;;) {
      int rc = sqlite3_step(stmt);
      if (rc == SQLITE_DONE) break;
      if (rc != SQLITE_ROW) {
        // Take the words before the reset.
        std::string why =
            fmt::format("could not run \"{}\": {}", sqlite3_sql(stmt), sqlite3_errmsg(db));
        SqlError::Kind kind = KindOf(rc);
        if (kind == SqlError::Kind::Connection) healthy = false;
        throw SqlError(kind, fmt::format("SQLite ({}) {}", file, why));
      }
      row.resize(columns);
      for (std::size_t c = 0; c < columns; ++c) {
        const int column = static_cast<int>(c);
        switch (sqlite3_column_type(stmt, column)) {
          case SQLITE_NULL:
            row[c] = std::monostate{};
            break;
          case SQLITE_INTEGER:
            row[c] = static_cast<std::int64_t>(sqlite3_column_int64(stmt, column));
            break;
          case SQLITE_FLOAT:
            row[c] = sqlite3_column_double(stmt, column);
            break;
          default: {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
            const auto size = static_cast<std::size_t>(sqlite3_column_bytes(stmt, column));
            if (auto* kept = std::get_if<std::string>(&row[c])) {
              kept->assign(text ? text : "", size);
            } else {
              row[c] = std::string(text ? text : "", size);
            }
            break;
          }
        }
      }
      if (!each(row)) break;
    }
  }

  std::vector<SqlRow> Run(sqlite3_stmt* stmt) {
    std::vector<SqlRow> rows;
    SqlRow row;
    RunEach(stmt, row, [&](SqlRow& r) {
      rows.push_back(std::move(r));
      r.clear();
      return true;
    });
    return rows;
  }

  // A statement without rows, kept prepared: the read transaction of every search begins
  // and ends with one, and parsing them each time showed in profiles.
  void ExecPrepared(std::string_view sql) { Run(Prepare(sql)); }

  void Exec(const char* sql) {
    char* message = nullptr;
    int rc = sqlite3_exec(db, sql, nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
      std::string text = message ? message : sqlite3_errmsg(db);
      sqlite3_free(message);
      SqlError::Kind kind = KindOf(rc);
      if (kind == SqlError::Kind::Connection) healthy = false;
      throw SqlError(kind, fmt::format("SQLite ({}): {}", file, text));
    }
  }
};

SqliteConnection::SqliteConnection(const std::filesystem::path& file,
                                   std::chrono::milliseconds busyTimeout, std::size_t cacheMiB,
                                   std::size_t mmapMiB)
    : mImpl(std::make_unique<Impl>()) {
  mImpl->file = file.string();
  int rc =
      sqlite3_open_v2(mImpl->file.c_str(), &mImpl->db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    std::string why = mImpl->db ? sqlite3_errmsg(mImpl->db) : sqlite3_errstr(rc);
    sqlite3_close(mImpl->db);
    mImpl->db = nullptr;
    throw SqlError(SqlError::Kind::Connection,
                   fmt::format("could not open the SQLite inventory {}: {}", mImpl->file, why));
  }
  sqlite3_extended_result_codes(mImpl->db, 1);
  sqlite3_busy_timeout(mImpl->db, static_cast<int>(busyTimeout.count()));
  try {
    mImpl->Exec("PRAGMA journal_mode=WAL");
    mImpl->Exec("PRAGMA synchronous=FULL");
    mImpl->Exec("PRAGMA foreign_keys=ON");
    // Negative: a size in KiB rather than in pages.
    mImpl->Exec(fmt::format("PRAGMA cache_size=-{}", cacheMiB * 1024).c_str());
    // SQLite takes at most its build's limit (2 GiB for Debian's) and ignores the rest.
    if (mmapMiB > 0) {
      mImpl->Exec(fmt::format("PRAGMA mmap_size={}", std::uint64_t{mmapMiB} << 20U).c_str());
    }
  } catch (...) {
    sqlite3_close(mImpl->db);
    mImpl->db = nullptr;
    throw;
  }
}

SqliteConnection::~SqliteConnection() {
  if (!mImpl->db) return;
  mImpl->ClearStatements();
  sqlite3_close(mImpl->db);
}

void SqliteConnection::ExecuteScript(std::string_view sql) {
  mImpl->Exec(std::string(sql).c_str());
}

std::vector<SqlRow> SqliteConnection::Query(std::string_view sql,
                                            const std::vector<SqlValue>& params) {
  sqlite3_stmt* stmt = mImpl->Prepare(sql);
  mImpl->Bind(stmt, params);
  return mImpl->Run(stmt);
}

void SqliteConnection::QueryEach(std::string_view sql, const std::vector<SqlValue>& params,
                                 const std::function<bool(const SqlRow&)>& each) {
  sqlite3_stmt* stmt = mImpl->Prepare(sql);
  mImpl->Bind(stmt, params);
  SqlRow row;
  mImpl->RunEach(stmt, row, [&](const SqlRow& r) { return each(r); });
}

void SqliteConnection::BulkInsert(std::string_view table, const std::vector<std::string>& columns,
                                  const std::vector<SqlRow>& rows) {
  std::string names;
  std::string marks;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    names += (i ? ", " : "") + columns[i];
    marks += i ? ", ?" : "?";
  }
  std::string sql = fmt::format("INSERT INTO {} ({}) VALUES ({})", table, names, marks);
  sqlite3_stmt* stmt = mImpl->Prepare(sql);
  for (const auto& row : rows) {
    mImpl->Bind(stmt, row);
    mImpl->Run(stmt);
  }
}

void SqliteConnection::Begin(Transaction kind) {
  // A read takes its snapshot at its first statement and holds no lock a writer waits for
  // (write-ahead log). The writing kinds take the write lock at once; SQLite has one writer
  // per file anyway, which also keeps two processes from migrating the same file together.
  if (kind == Transaction::Read) return mImpl->ExecPrepared("BEGIN");
  mImpl->Exec("BEGIN IMMEDIATE");
}

// BEGIN IMMEDIATE is the one write lock of the file: writers queue for it whatever they
// change, so there is no order to keep.
void SqliteConnection::BeginWrite(const std::vector<std::string>&, bool) {
  Begin(Transaction::Write);
}

void SqliteConnection::Commit() { mImpl->ExecPrepared("COMMIT"); }

void SqliteConnection::Rollback() noexcept {
  if (mImpl->db && !sqlite3_get_autocommit(mImpl->db)) {
    sqlite3_exec(mImpl->db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
}

bool SqliteConnection::Healthy() const { return mImpl->healthy && mImpl->db != nullptr; }

}  // namespace fm::server
