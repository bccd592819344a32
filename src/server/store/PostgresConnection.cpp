#include "server/store/PostgresConnection.h"

#include <fmt/format.h>
#include <libpq-fe.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include "server/store/SqlError.h"

namespace fm::server {

namespace {

constexpr std::size_t kMaxCachedStatements = 128;
// Rows a cursor's read takes from the server at a time (QueryEach): a few megabytes at most.
constexpr int kFetchRows = 10000;
// What one sort or hash of a read may take before it spills to disk (work_mem), per
// connection; an import of uses sets its own for its transaction.
constexpr int kReadWorkMemoryMb = 16;
// Key of the advisory lock that keeps two server processes from migrating at once.
constexpr const char* kMigrationLock = "SELECT pg_advisory_xact_lock(70311605)";
// The first key of the form types' write locks (pg_advisory_lock(int, int), a key space of
// its own, apart from the single bigint key of the migration lock).
constexpr std::int32_t kFormTypeLockSpace = 70311606;
// The record chain's lock: taken last, after the form types', by every writer, and held to
// its commit. A SERIALIZABLE transaction cannot read a head committed after its snapshot, so
// the chain's writers queue before they begin, as the form types' do: the links then follow
// the order of the commits, and no two writes ever link after the same head.
constexpr std::int32_t kChainLockSpace = 70311607;

// The second key of a form type's write lock: a code of up to four bytes (every code of the
// reference data is one letter) packed big-endian, so distinct codes never share a lock and
// the keys sort as the codes do; a longer code hashed (FNV-1a), which at worst makes two form
// types queue for one lock. The locks are taken in ascending key order, so a shared key
// cannot close a cycle either.
std::int32_t FormTypeLockKey(std::string_view code) {
  std::uint32_t key = 0;
  if (code.size() <= 4) {
    for (std::size_t i = 0; i < 4; ++i) {
      key = key << 8 | (i < code.size() ? static_cast<unsigned char>(code[i]) : 0u);
    }
  } else {
    key = 2166136261u;
    for (char c : code) key = (key ^ static_cast<unsigned char>(c)) * 16777619u;
  }
  return static_cast<std::int32_t>(key);
}

// Type OIDs of the catalogue (pg_type.h); libpq does not export them.
constexpr Oid kBoolOid = 16;
constexpr Oid kInt8Oid = 20;
constexpr Oid kInt2Oid = 21;
constexpr Oid kInt4Oid = 23;
constexpr Oid kOidOid = 26;
constexpr Oid kFloat4Oid = 700;
constexpr Oid kFloat8Oid = 701;
constexpr Oid kNumericOid = 1700;

SqlError::Kind KindOfState(const char* state) {
  if (!state) return SqlError::Kind::Other;
  std::string_view s(state);
  if (s == "40001" || s == "40P01") return SqlError::Kind::Retryable;
  if (s == "55P03") return SqlError::Kind::Busy;
  if (s.substr(0, 2) == "23") return SqlError::Kind::Constraint;
  if (s.substr(0, 2) == "08" || s == "57P01" || s == "57P02" || s == "57P03") {
    return SqlError::Kind::Connection;
  }
  return SqlError::Kind::Other;
}

void IgnoreNotice(void*, const char*) {}

std::string CopyEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string ParamText(const SqlValue& v) {
  if (const auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
  if (const auto* d = std::get_if<double>(&v)) return fmt::format("{}", *d);
  return std::get<std::string>(v);
}

}  // namespace

// The next page of a cursor's read, asked for before the rows of the page in hand go to their
// visitor (QueryEach): the server reads it while the client works.
struct PendingPage {
  bool asked = false;  // its FETCH sent, its result not taken yet
  std::unique_ptr<PGresult, void (*)(PGresult*)> result{nullptr, PQclear};
};

struct PostgresConnection::Impl {
  PGconn* conn = nullptr;
  PendingPage* pending = nullptr;  // the innermost cursor read's next page
  std::map<std::string, std::string, std::less<>> statements;  // SQL -> prepared name
  int nextStatement = 0;
  std::int64_t nextCursor = 0;
  bool healthy = true;
  bool locked = false;  // holds (or may hold) form-type locks of BeginWrite

  // Takes the result of a page asked for in advance, so that the connection takes the next
  // command: a visitor of the page in hand may run statements of its own.
  void Settle() noexcept {
    if (!pending || !pending->asked) return;
    pending->asked = false;
    while (PGresult* result = PQgetResult(conn)) {
      if (pending->result) {
        PQclear(result);
      } else {
        pending->result.reset(result);
      }
    }
  }

  // Answers the result when it has the expected status, else throws with its words.
  PGresult* Check(PGresult* result, ExecStatusType expected, std::string_view doing) {
    if (result && PQresultStatus(result) == expected) return result;
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    SqlError::Kind kind = KindOfState(state);
    std::string why = result ? PQresultErrorMessage(result) : PQerrorMessage(conn);
    while (!why.empty() && (why.back() == '\n' || why.back() == ' ')) why.pop_back();
    if (result) PQclear(result);
    if (PQstatus(conn) != CONNECTION_OK) kind = SqlError::Kind::Connection;
    if (kind == SqlError::Kind::Connection) healthy = false;
    throw SqlError(kind, fmt::format("PostgreSQL {}: {}", doing, why), state ? state : "");
  }

  void Exec(const char* sql) {
    Settle();
    PQclear(Check(PQexec(conn, sql), PGRES_COMMAND_OK, sql));
  }

  // Releases the form-type locks of BeginWrite, outside any transaction. A release that fails
  // leaves the connection unhealthy: the pool closes it, and the server frees its locks.
  void Unlock() noexcept {
    if (!locked || !conn) return;
    Settle();
    locked = false;
    PGresult* result = PQexec(conn, "SELECT pg_advisory_unlock_all()");
    if (!result || PQresultStatus(result) != PGRES_TUPLES_OK) healthy = false;
    PQclear(result);
  }

  const std::string& Prepare(std::string_view sql) {
    Settle();
    if (auto it = statements.find(sql); it != statements.end()) return it->second;
    if (statements.size() >= kMaxCachedStatements) {
      Exec("DEALLOCATE ALL");
      statements.clear();
    }
    int count = 0;
    std::string text = NumberPlaceholders(sql, &count);
    std::string name = fmt::format("fm{}", nextStatement++);
    PQclear(Check(PQprepare(conn, name.c_str(), text.c_str(), count, nullptr), PGRES_COMMAND_OK,
                  fmt::format("could not prepare \"{}\"", sql)));
    return statements.emplace(std::string(sql), name).first->second;
  }
};

std::string PostgresConnection::NumberPlaceholders(std::string_view sql, int* count) {
  std::string out;
  out.reserve(sql.size() + 16);
  int n = 0;
  char quote = 0;
  for (char c : sql) {
    if (quote) {
      if (c == quote) quote = 0;
      out += c;
    } else if (c == '\'' || c == '"') {
      quote = c;
      out += c;
    } else if (c == '?') {
      out += fmt::format("${}", ++n);
    } else {
      out += c;
    }
  }
  if (count) *count = n;
  return out;
}

PostgresConnection::PostgresConnection(const std::string& url,
                                       std::chrono::milliseconds busyTimeout)
    : mImpl(std::make_unique<Impl>()) {
  mImpl->conn = PQconnectdb(url.c_str());
  if (!mImpl->conn || PQstatus(mImpl->conn) != CONNECTION_OK) {
    std::string why = mImpl->conn ? PQerrorMessage(mImpl->conn) : "out of memory";
    while (!why.empty() && (why.back() == '\n' || why.back() == ' ')) why.pop_back();
    if (mImpl->conn) PQfinish(mImpl->conn);
    mImpl->conn = nullptr;
    throw SqlError(SqlError::Kind::Connection,
                   fmt::format("could not connect to the PostgreSQL inventory: {}", why));
  }
  PQsetNoticeProcessor(mImpl->conn, IgnoreNotice, nullptr);
  try {
    mImpl->Exec(fmt::format("SET lock_timeout = {}", busyTimeout.count()).c_str());
    mImpl->Exec("SET client_min_messages = warning");
    // Every cursor of QueryEach is read to its end (a reconciliation's million uses): planned
    // for the first tenth of its rows, as by default, it walks an index where a scan of the
    // table is faster for all of them.
    mImpl->Exec("SET cursor_tuple_fraction = 1.0");
    // The stage of an import of uses is a temporary table: kept in the session's own buffers
    // (8 MB by default) it spilled to files and was read back from them for every join.
    // Taken only as temporary tables fill them, and settable only before the first one.
    mImpl->Exec("SET temp_buffers = '256MB'");
    // The store's statements are index probes, a few of them recursive walks whose estimated
    // cost grows with the inventory although they read a few hundred rows: past the server's
    // JIT threshold each one was compiled first (0.3 s for a reconciliation's walk of 500
    // chains that then ran in 20 ms).
    mImpl->Exec("SET jit = off");
    // A troop's report sorts each form type's uses of its numbers, tens of thousands of
    // rows: with the default 4 MB the sort went to disk and took a fifth of the read.
    mImpl->Exec(fmt::format("SET work_mem = '{}MB'", kReadWorkMemoryMb).c_str());
  } catch (...) {
    PQfinish(mImpl->conn);
    mImpl->conn = nullptr;
    throw;
  }
}

PostgresConnection::~PostgresConnection() {
  if (mImpl->conn) PQfinish(mImpl->conn);
}

void PostgresConnection::ExecuteScript(std::string_view sql) {
  mImpl->Settle();
  std::string text(sql);
  PGresult* result = PQexec(mImpl->conn, text.c_str());
  // A script's result is that of its last statement, a command or a query.
  if (result && PQresultStatus(result) == PGRES_TUPLES_OK) {
    PQclear(result);
    return;
  }
  PQclear(mImpl->Check(result, PGRES_COMMAND_OK, "could not run a schema script"));
}

namespace {

// The cells of row `r` of `result` into `row`, whose strings keep their capacity from row to
// row; `types` are the result's column types.
void ReadRow(const PGresult* result, int r, const std::vector<Oid>& types, SqlRow& row) {
  row.resize(types.size());
  for (std::size_t c = 0; c < types.size(); ++c) {
    const int column = static_cast<int>(c);
    SqlValue& cell = row[c];
    if (PQgetisnull(result, r, column)) {
      cell = std::monostate{};
      continue;
    }
    const char* text = PQgetvalue(result, r, column);
    switch (types[c]) {
      case kInt8Oid:
      case kInt4Oid:
      case kInt2Oid:
      case kOidOid:
        cell = static_cast<std::int64_t>(std::strtoll(text, nullptr, 10));
        break;
      case kBoolOid:
        cell = std::int64_t{text[0] == 't' ? 1 : 0};
        break;
      case kFloat4Oid:
      case kFloat8Oid:
      case kNumericOid:
        cell = std::strtod(text, nullptr);
        break;
      default: {
        const auto size = static_cast<std::size_t>(PQgetlength(result, r, column));
        if (auto* kept = std::get_if<std::string>(&cell)) {
          kept->assign(text, size);
        } else {
          cell = std::string(text, size);
        }
      }
    }
  }
}

std::vector<Oid> ColumnTypes(const PGresult* result) {
  std::vector<Oid> types(static_cast<std::size_t>(PQnfields(result)));
  for (std::size_t c = 0; c < types.size(); ++c) types[c] = PQftype(result, static_cast<int>(c));
  return types;
}

// The parameters as libpq takes them: texts, a null pointer for SQL NULL.
struct ParamTexts {
  explicit ParamTexts(const std::vector<SqlValue>& params)
      : texts(params.size()), values(params.size(), nullptr) {
    for (std::size_t i = 0; i < params.size(); ++i) {
      if (std::holds_alternative<std::monostate>(params[i])) continue;
      texts[i] = ParamText(params[i]);
      values[i] = texts[i].c_str();
    }
  }
  int Count() const { return static_cast<int>(values.size()); }
  std::vector<std::string> texts;
  std::vector<const char*> values;
};

using OwnedResult = std::unique_ptr<PGresult, void (*)(PGresult*)>;

}  // namespace

// A read of a million uses holds a page of rows in the client, not libpq's whole result.
// Inside a transaction the rows come from a cursor, a page (kFetchRows) at a time, the next
// one asked for while `each` takes this one's rows: `each` may run statements of its own on
// the connection, as it could when the result was held whole. Outside one, in single-row mode, the
// rows go to `each` as the server sends them.
void PostgresConnection::QueryEach(std::string_view sql, const std::vector<SqlValue>& params,
                                   const std::function<bool(const SqlRow&)>& each) {
  const ParamTexts texts(params);
  const std::string doing = fmt::format("could not run \"{}\"", sql);
  mImpl->Settle();
  const std::size_t start = sql.find_first_not_of(" \n");
  const bool select =
      start != std::string_view::npos && sql.size() - start > 7 &&
      std::equal(sql.begin() + static_cast<std::ptrdiff_t>(start),
                 sql.begin() + static_cast<std::ptrdiff_t>(start) + 7, "SELECT ",
                 [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; });
  if (select && PQtransactionStatus(mImpl->conn) == PQTRANS_INTRANS) {
    const std::string cursor = fmt::format("fm_rows{}", mImpl->nextCursor++);
    const std::string declare =
        fmt::format("DECLARE {} NO SCROLL CURSOR FOR {}", cursor, NumberPlaceholders(sql, nullptr));
    PQclear(mImpl->Check(PQexecParams(mImpl->conn, declare.c_str(), texts.Count(), nullptr,
                                      texts.values.data(), nullptr, nullptr, 0),
                         PGRES_COMMAND_OK, doing));
    const std::string fetch = fmt::format("FETCH {} FROM {}", kFetchRows, cursor);
    // The next page is asked for before the rows of this one go to `each`, so that the
    // server reads it meanwhile; whatever `each` runs on the connection takes its result
    // first (Settle), and it waits here.
    PendingPage next;
    PendingPage* const outer = mImpl->pending;
    mImpl->pending = &next;
    auto close = [&] {
      mImpl->Settle();
      mImpl->pending = outer;
      // An aborted transaction has closed it already, and takes no statement but ROLLBACK.
      if (PQtransactionStatus(mImpl->conn) != PQTRANS_INTRANS) return;
      PQclear(mImpl->Check(PQexec(mImpl->conn, fmt::format("CLOSE {}", cursor).c_str()),
                           PGRES_COMMAND_OK, doing));
    };
    std::vector<Oid> types;
    SqlRow row;
    try {
      OwnedResult page(mImpl->Check(PQexec(mImpl->conn, fetch.c_str()), PGRES_TUPLES_OK, doing),
                       PQclear);
      for (bool wanted = true; wanted;) {
        if (types.empty()) types = ColumnTypes(page.get());
        const int rows = PQntuples(page.get());
        if (rows == kFetchRows) {
          if (PQsendQuery(mImpl->conn, fetch.c_str()) != 1) {
            mImpl->Check(nullptr, PGRES_TUPLES_OK, doing);
          }
          next.asked = true;
        }
        for (int r = 0; r < rows && wanted; ++r) {
          ReadRow(page.get(), r, types, row);
          wanted = each(row);
        }
        if (rows < kFetchRows || !wanted) break;
        mImpl->Settle();
        page.reset(mImpl->Check(next.result.release(), PGRES_TUPLES_OK, doing));
      }
    } catch (...) {
      try {
        close();
      } catch (const SqlError&) {  // the first failure is the one to tell
      }
      throw;
    }
    close();
    return;
  }
  const std::string& name = mImpl->Prepare(sql);
  if (PQsendQueryPrepared(mImpl->conn, name.c_str(), texts.Count(), texts.values.data(), nullptr,
                          nullptr, 0) != 1) {
    mImpl->Check(nullptr, PGRES_TUPLES_OK, doing);
  }
  // Refused only right after a send that failed; the rows would then come in one result,
  // which the loop below reads as well.
  PQsetSingleRowMode(mImpl->conn);
  // Every result is taken, even once `each` has had enough or thrown: the connection takes no
  // new command until the last one.
  bool wanted = true;
  std::exception_ptr failure;
  OwnedResult error(nullptr, PQclear);
  std::vector<Oid> types;
  SqlRow row;
  while (PGresult* raw = PQgetResult(mImpl->conn)) {
    OwnedResult result(raw, PQclear);
    const ExecStatusType status = PQresultStatus(raw);
    if (status == PGRES_SINGLE_TUPLE || status == PGRES_TUPLES_OK) {
      if (!wanted) continue;
      if (types.empty()) types = ColumnTypes(raw);
      for (int r = 0; r < PQntuples(raw) && wanted; ++r) {
        ReadRow(raw, r, types, row);
        try {
          wanted = each(row);
        } catch (...) {
          failure = std::current_exception();
          wanted = false;
        }
      }
    } else if (status != PGRES_COMMAND_OK && !error) {
      error = std::move(result);
    }
  }
  if (error) mImpl->Check(error.release(), PGRES_TUPLES_OK, doing);
  if (failure) std::rethrow_exception(failure);
}

// Held whole anyway: one result from libpq, without single-row mode's result per row.
std::vector<SqlRow> PostgresConnection::Query(std::string_view sql,
                                              const std::vector<SqlValue>& params) {
  mImpl->Settle();
  const std::string& name = mImpl->Prepare(sql);
  const ParamTexts texts(params);
  PGresult* raw = PQexecPrepared(mImpl->conn, name.c_str(), texts.Count(), texts.values.data(),
                                 nullptr, nullptr, 0);
  std::vector<SqlRow> rows;
  if (raw && PQresultStatus(raw) == PGRES_COMMAND_OK) {
    PQclear(raw);
    return rows;
  }
  const OwnedResult result(
      mImpl->Check(raw, PGRES_TUPLES_OK, fmt::format("could not run \"{}\"", sql)), PQclear);
  const std::vector<Oid> types = ColumnTypes(result.get());
  rows.resize(static_cast<std::size_t>(PQntuples(result.get())));
  for (std::size_t r = 0; r < rows.size(); ++r) {
    ReadRow(result.get(), static_cast<int>(r), types, rows[r]);
  }
  return rows;
}

void PostgresConnection::BulkInsert(std::string_view table, const std::vector<std::string>& columns,
                                    const std::vector<SqlRow>& rows) {
  std::string names;
  for (std::size_t i = 0; i < columns.size(); ++i) names += (i ? ", " : "") + columns[i];
  mImpl->Settle();
  std::string copy = fmt::format("COPY {} ({}) FROM STDIN", table, names);
  PQclear(mImpl->Check(PQexec(mImpl->conn, copy.c_str()), PGRES_COPY_IN, copy));

  std::string buffer;
  auto flush = [&] {
    if (PQputCopyData(mImpl->conn, buffer.data(), static_cast<int>(buffer.size())) != 1) {
      mImpl->healthy = false;
      throw SqlError(
          SqlError::Kind::Connection,
          fmt::format("PostgreSQL could not take copied rows: {}", PQerrorMessage(mImpl->conn)));
    }
    buffer.clear();
  };
  for (const auto& row : rows) {
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (c) buffer += '\t';
      if (std::holds_alternative<std::monostate>(row[c])) {
        buffer += "\\N";
      } else if (const auto* s = std::get_if<std::string>(&row[c])) {
        buffer += CopyEscape(*s);
      } else {
        buffer += ParamText(row[c]);
      }
    }
    buffer += '\n';
    if (buffer.size() > (1u << 16)) flush();
  }
  if (!buffer.empty()) flush();
  if (PQputCopyEnd(mImpl->conn, nullptr) != 1) {
    mImpl->healthy = false;
    throw SqlError(SqlError::Kind::Connection, fmt::format("PostgreSQL could not end the copy: {}",
                                                           PQerrorMessage(mImpl->conn)));
  }
  PGresult* result = PQgetResult(mImpl->conn);
  // Drain before judging: libpq answers a null result once the command is complete, and
  // the connection takes no new command until then.
  while (PGresult* extra = PQgetResult(mImpl->conn)) PQclear(extra);
  PQclear(mImpl->Check(result, PGRES_COMMAND_OK, copy));
}

void PostgresConnection::Begin(Transaction kind) {
  mImpl->Settle();
  if (kind == Transaction::Migration) {
    mImpl->Exec("BEGIN");
    PQclear(mImpl->Check(PQexec(mImpl->conn, kMigrationLock), PGRES_TUPLES_OK, kMigrationLock));
  } else if (kind == Transaction::Read) {
    mImpl->Exec("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
  } else {
    mImpl->Exec("BEGIN ISOLATION LEVEL SERIALIZABLE");
  }
}

// The locks are session locks, taken before BEGIN and released after COMMIT or ROLLBACK, not
// transaction locks taken inside: a SERIALIZABLE transaction takes its snapshot at its first
// statement, so a save that had waited inside its transaction for the lock would read from a
// snapshot older than the commit of the save it waited for, and fail to serialize (or, under
// a weaker level, check against ranges that save replaced). Begun after the wait, the
// transaction sees everything the previous holder wrote. Every session takes its locks in
// ascending key order: overlapping receipts queue instead of forming the two-session cycles
// that the exclusion constraint's waits made, which only deadlock_timeout broke.
void PostgresConnection::BeginWrite(const std::vector<std::string>& formTypes, bool linksRecords) {
  std::vector<std::int32_t> keys;
  keys.reserve(formTypes.size());
  for (const auto& type : formTypes) keys.push_back(FormTypeLockKey(type));
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  // One statement takes them all, in the order of its select list: a save waits for one
  // round trip, not one per lock.
  std::string sql;
  std::vector<SqlValue> params;
  for (std::int32_t key : keys) {
    sql += sql.empty() ? "SELECT pg_advisory_lock(?, ?)" : ", pg_advisory_lock(?, ?)";
    params.insert(params.end(), {std::int64_t{kFormTypeLockSpace}, std::int64_t{key}});
  }
  if (linksRecords) {
    sql += sql.empty() ? "SELECT pg_advisory_lock(?, 0)" : ", pg_advisory_lock(?, 0)";
    params.emplace_back(std::int64_t{kChainLockSpace});
  }
  try {
    if (!sql.empty()) {
      mImpl->locked = true;  // a wait that fails still leaves the locks taken before it
      Query(sql, params);
    }
    Begin(Transaction::Write);
  } catch (...) {
    Rollback();
    throw;
  }
}

void PostgresConnection::Commit() {
  try {
    mImpl->Exec("COMMIT");
  } catch (...) {
    mImpl->Unlock();
    throw;
  }
  mImpl->Unlock();
}

void PostgresConnection::CommitAfter(std::string_view statement) {
  // One string, two statements, one round trip; after a failing first one PostgreSQL runs
  // none of the rest, so nothing commits.
  const std::string both = fmt::format("{}; COMMIT", statement);
  try {
    mImpl->Exec(both.c_str());
  } catch (...) {
    // A failed statement leaves the transaction open and aborted: Rollback ends it and
    // releases the locks; a failed COMMIT has ended it already.
    if (PQtransactionStatus(mImpl->conn) == PQTRANS_IDLE) mImpl->Unlock();
    throw;
  }
  mImpl->Unlock();
}

void PostgresConnection::Rollback() noexcept {
  if (!mImpl->conn) return;
  mImpl->Settle();
  if (PQtransactionStatus(mImpl->conn) != PQTRANS_IDLE) {
    PQclear(PQexec(mImpl->conn, "ROLLBACK"));
  }
  mImpl->Unlock();
}

bool PostgresConnection::Healthy() const {
  return mImpl->healthy && mImpl->conn && PQstatus(mImpl->conn) == CONNECTION_OK;
}

}  // namespace fm::server
