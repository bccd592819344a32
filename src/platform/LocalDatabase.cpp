#include "platform/LocalDatabase.h"

#include <fmt/format.h>
#include <sqlite3.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "base/Text.h"
#include "localdata/LocalData.h"
#include "platform/PlatformError.h"

namespace fm {

namespace {

// The screen builds its statements with the looked-up values written into the text, so
// the number of distinct texts grows with the codes it meets. The bound keeps a long
// session from holding a prepared statement for every code ever shown.
constexpr std::size_t kStatementCacheLimit = 256;

// A statement of the demo script can run to hundreds of lines; an error while building the
// file quotes its beginning only.
constexpr std::size_t kQuotedScriptLength = 300;

struct ConnectionCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Connection = std::unique_ptr<sqlite3, ConnectionCloser>;

struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

[[noreturn]] void Fail(std::string description) {
  throw PlatformError(PlatformError::kDatabase, std::move(description));
}

std::string Quoted(std::string_view sql, std::size_t limit = std::string_view::npos) {
  while (!sql.empty() && std::isspace(static_cast<unsigned char>(sql.front()))) {
    sql.remove_prefix(1);
  }
  while (!sql.empty() && std::isspace(static_cast<unsigned char>(sql.back()))) {
    sql.remove_suffix(1);
  }
  if (sql.size() > limit) return fmt::format("{}...", sql.substr(0, limit));
  return std::string(sql);
}

// True when a text holds anything but blanks, semicolons and comments: applied to what
// follows the first statement, it tells a second statement.
bool HoldsStatement(std::string_view tail) {
  std::size_t i = 0;
  while (i < tail.size()) {
    const char c = tail[i];
    if (std::isspace(static_cast<unsigned char>(c)) || c == ';') {
      ++i;
    } else if (tail.substr(i, 2) == "--") {
      const auto end = tail.find('\n', i);
      i = end == std::string_view::npos ? tail.size() : end + 1;
    } else if (tail.substr(i, 2) == "/*") {
      const auto end = tail.find("*/", i + 2);
      i = end == std::string_view::npos ? tail.size() : end + 2;
    } else {
      return true;
    }
  }
  return false;
}

// UCASE(text): the text in upper case; NULL stays NULL. Only ASCII letters change, as the
// code tables hold ASCII; other bytes (UTF-8 sequences) pass unchanged.
void Ucase(sqlite3_context* context, int /*argc*/, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(context);
    return;
  }
  const auto* text = sqlite3_value_text(argv[0]);
  if (text == nullptr) {
    sqlite3_result_error_nomem(context);
    return;
  }
  std::string upper(reinterpret_cast<const char*>(text),
                    static_cast<std::size_t>(sqlite3_value_bytes(argv[0])));
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  sqlite3_result_text64(context, upper.data(), upper.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

const char* ActionName(int action) {
  switch (action) {
    case SQLITE_INSERT:
      return "INSERT";
    case SQLITE_UPDATE:
      return "UPDATE";
    case SQLITE_DELETE:
      return "DELETE";
    case SQLITE_CREATE_TABLE:
    case SQLITE_CREATE_TEMP_TABLE:
      return "CREATE TABLE";
    case SQLITE_CREATE_INDEX:
    case SQLITE_CREATE_TEMP_INDEX:
      return "CREATE INDEX";
    case SQLITE_CREATE_VIEW:
    case SQLITE_CREATE_TEMP_VIEW:
      return "CREATE VIEW";
    case SQLITE_CREATE_TRIGGER:
    case SQLITE_CREATE_TEMP_TRIGGER:
      return "CREATE TRIGGER";
    case SQLITE_DROP_TABLE:
    case SQLITE_DROP_TEMP_TABLE:
    case SQLITE_DROP_INDEX:
    case SQLITE_DROP_TEMP_INDEX:
    case SQLITE_DROP_VIEW:
    case SQLITE_DROP_TEMP_VIEW:
    case SQLITE_DROP_TRIGGER:
    case SQLITE_DROP_TEMP_TRIGGER:
      return "DROP";
    case SQLITE_ALTER_TABLE:
      return "ALTER TABLE";
    case SQLITE_PRAGMA:
      return "PRAGMA";
    case SQLITE_TRANSACTION:
      return "BEGIN/COMMIT/ROLLBACK";
    case SQLITE_SAVEPOINT:
      return "SAVEPOINT";
    case SQLITE_ATTACH:
      return "ATTACH";
    case SQLITE_DETACH:
      return "DETACH";
    default:
      return "a statement that is not a SELECT";
  }
}

// Declared column type to field type, by the same substrings SQLite uses for affinity.
FieldType TypeOfDeclaration(std::string_view declared) {
  const std::string upper = text::ToUpper(declared);
  if (upper.find("INT") != std::string::npos) return FieldType::Integer;
  for (const char* numeric : {"REAL", "FLOA", "DOUB", "NUMERIC", "DECIMAL"}) {
    if (upper.find(numeric) != std::string::npos) return FieldType::Double;
  }
  return FieldType::Text;
}

// "VARCHAR(30)" declares a text of at most 30 characters; record sets keep it as the size.
int SizeOfDeclaration(std::string_view declared) {
  const auto open = declared.find('(');
  if (open == std::string_view::npos) return 0;
  int size = 0;
  for (std::size_t i = open + 1;
       i < declared.size() && std::isdigit(static_cast<unsigned char>(declared[i])); ++i) {
    size = size * 10 + (declared[i] - '0');
    if (size > 1'000'000) return 0;
  }
  return size;
}

FieldType TypeOfStorage(int storageClass) {
  switch (storageClass) {
    case SQLITE_INTEGER:
      return FieldType::Integer;
    case SQLITE_FLOAT:
      return FieldType::Double;
    default:
      return FieldType::Text;
  }
}

// What the functions a statement calls mean for reusing its answer.
enum FunctionUse : unsigned {
  kReadsToday = 1,   // date() / CURRENT_DATE: the answer holds for the second it was read in
  kNotReusable = 2,  // a finer clock, randomness, the connection's state
};

unsigned UseOfFunction(std::string_view name) {
  for (const char* today : {"date", "current_date"}) {
    if (text::EqualsNoCase(name, today)) return kReadsToday;
  }
  for (const char* changing : {"time", "datetime", "julianday", "unixepoch", "strftime", "timediff",
                               "current_time", "current_timestamp", "random", "randomblob",
                               "changes", "total_changes", "last_insert_rowid", "sqlite_offset"}) {
    if (text::EqualsNoCase(name, changing)) return kNotReusable;
  }
  return 0;
}

// The header bytes SQLite compares to tell whether another connection changed a
// rollback-journal file: the write version (byte 18, 2 for a write-ahead log) and the 16
// bytes from offset 24 (change counter, page count, free-list pages).
constexpr std::size_t kHeaderBytesRead = 40;
using HeaderEvidence = std::array<unsigned char, 18>;
constexpr unsigned char kWalWriteVersion = 2;

Value ReadCell(sqlite3_stmt* statement, int column, FieldType type) {
  const int storage = sqlite3_column_type(statement, column);
  if (storage == SQLITE_NULL) return Value();
  if (type == FieldType::Text || (storage != SQLITE_INTEGER && storage != SQLITE_FLOAT)) {
    const auto* text = sqlite3_column_text(statement, column);
    const auto bytes = static_cast<std::size_t>(sqlite3_column_bytes(statement, column));
    return Value(std::string(reinterpret_cast<const char*>(text), bytes));
  }
  if (storage == SQLITE_INTEGER) {
    return Value(static_cast<std::int64_t>(sqlite3_column_int64(statement, column)));
  }
  return Value(sqlite3_column_double(statement, column));
}

int SchemaVersionOf(sqlite3* db) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &raw, nullptr) != SQLITE_OK) {
    return -1;
  }
  Statement statement(raw);
  if (sqlite3_step(statement.get()) != SQLITE_ROW) return -1;
  return sqlite3_column_int(statement.get(), 0);
}

// Runs every statement of a script; a failure names the script and quotes the statement.
void RunScript(sqlite3* db, std::string_view script, std::string_view scriptName) {
  const char* next = script.data();
  const char* const end = script.data() + script.size();
  while (next < end) {
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v2(db, next, static_cast<int>(end - next), &raw, &tail);
    Statement statement(raw);
    const std::string_view text(next, static_cast<std::size_t>(tail - next));
    if (rc != SQLITE_OK) {
      Fail(fmt::format("The local database's {} has an error: {} [SQL: {}]", scriptName,
                       sqlite3_errmsg(db), Quoted(text, kQuotedScriptLength)));
    }
    next = tail;
    if (!statement) continue;  // blanks or comments only
    int step = SQLITE_ROW;
    while (step == SQLITE_ROW) step = sqlite3_step(statement.get());
    if (step != SQLITE_DONE) {
      Fail(fmt::format("The local database's {} failed: {} [SQL: {}]", scriptName,
                       sqlite3_errmsg(db), Quoted(text, kQuotedScriptLength)));
    }
  }
}

void Execute(sqlite3* db, const char* sql) { RunScript(db, sql, "set-up"); }

// The version the compiled-in schema declares, found by building it in memory once.
int CompiledSchemaVersion() {
  static const int version = [] {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(":memory:", &raw, SQLITE_OPEN_READWRITE, nullptr);
    Connection db(raw);
    if (rc != SQLITE_OK) Fail("Cannot open an in-memory database to read the schema version");
    RunScript(db.get(), local_data::SchemaSql(), "schema");
    return SchemaVersionOf(db.get());
  }();
  return version;
}

std::filesystem::path TemporaryNameFor(const std::filesystem::path& file) {
  static std::atomic<unsigned> counter{0};
  auto name = file;
  name += fmt::format(".{}-{}.tmp", ::getpid(), counter.fetch_add(1));
  return name;
}

// The transparent hash lets the cache be searched with the caller's string_view.
struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const {
    return std::hash<std::string_view>{}(text);
  }
};

}  // namespace

struct LocalDatabase::Impl {
  // A statement's cached answer: its rows for these bound values.
  struct Answer {
    std::vector<Value> params;
    std::shared_ptr<const SharedRows> rows;
    std::size_t cells = 0;
    // For a statement reading today's date: the second of the clock it was read in.
    std::int64_t second = 0;
  };

  struct CachedStatement {
    Statement statement;
    std::uint64_t lastUse = 0;
    unsigned functionUse = 0;  // FunctionUse flags
    std::optional<Answer> answer;
  };

  // Declared before the statements, so they are finalized before the connection closes.
  Connection connection;
  std::unordered_map<std::string, CachedStatement, TextHash, std::equal_to<>> statements;
  std::uint64_t useClock = 0;
  std::size_t preparedCount = 0;
  // The action the authorizer refused while the last statement was being prepared.
  int refusedAction = 0;
  // Where the authorizer notes the functions of the statement being prepared or run (SQLite
  // prepares a statement again inside a step after a schema change).
  unsigned* functionUse = nullptr;
  // Set while the cache's own PRAGMA data_version is prepared or run.
  bool internalStatement = false;

  // --- Answer cache
  std::size_t cacheBudget = 0;  // cells; 0: off
  std::size_t cachedCells = 0;
  std::size_t cacheHits = 0;
  // What the file looked like when the cached answers were read: every answer in the
  // cache belongs to it; a different look empties the cache.
  struct Evidence {
    HeaderEvidence header{};
    std::int64_t dataVersion = -1;  // only for a write-ahead-log file
    std::int64_t ownChanges = 0;
    bool operator==(const Evidence&) const = default;
  };
  std::optional<Evidence> cacheEvidence;
  Statement dataVersion;  // PRAGMA data_version, prepared on first need

  static int Authorize(void* self, int action, const char* first, const char* second, const char*,
                       const char*) {
    auto* impl = static_cast<Impl*>(self);
    switch (action) {
      case SQLITE_SELECT:
      case SQLITE_READ:
      case SQLITE_RECURSIVE:
        return SQLITE_OK;
      case SQLITE_FUNCTION:
        if (impl->functionUse != nullptr && second != nullptr) {
          *impl->functionUse |= UseOfFunction(second);
        }
        return SQLITE_OK;
      case SQLITE_PRAGMA:
        if (impl->internalStatement && first != nullptr &&
            std::string_view(first) == "data_version" && second == nullptr) {
          return SQLITE_OK;
        }
        [[fallthrough]];
      default:
        impl->refusedAction = action;
        return SQLITE_DENY;
    }
  }

  [[noreturn]] void FailStatement(std::string_view sql) const {
    Fail(fmt::format("The local database refused the statement: {} [SQL: {}]",
                     sqlite3_errmsg(connection.get()), Quoted(sql)));
  }

  CachedStatement& Prepared(std::string_view sql) {
    if (auto found = statements.find(sql); found != statements.end()) {
      found->second.lastUse = ++useClock;
      return found->second;
    }
    if (!HoldsStatement(sql)) {
      Fail(fmt::format("The SQL text holds no statement [SQL: {}]", Quoted(sql)));
    }
    refusedAction = 0;
    unsigned use = 0;
    functionUse = &use;
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v3(connection.get(), sql.data(), static_cast<int>(sql.size()),
                                      SQLITE_PREPARE_PERSISTENT, &raw, &tail);
    functionUse = nullptr;
    Statement statement(raw);
    if (rc == SQLITE_AUTH && refusedAction != 0) {
      Fail(fmt::format(
          "The local database is read-only and runs only SELECT statements (refused: {}) "
          "[SQL: {}]",
          ActionName(refusedAction), Quoted(sql)));
    }
    if (rc != SQLITE_OK) FailStatement(sql);
    if (!statement) Fail(fmt::format("The SQL text holds no statement [SQL: {}]", Quoted(sql)));
    const auto consumed = static_cast<std::size_t>(tail - sql.data());
    if (HoldsStatement(sql.substr(consumed))) {
      Fail(fmt::format(
          "The SQL text holds more than one statement; the local database runs one at a time "
          "[SQL: {}]",
          Quoted(sql)));
    }
    // The authorizer already refused every writing action; this catches anything that
    // slips past it, such as a transaction statement of a future SQLite.
    if (!sqlite3_stmt_readonly(statement.get()) || sqlite3_column_count(statement.get()) == 0) {
      Fail(fmt::format("The local database is read-only and runs only SELECT statements [SQL: {}]",
                       Quoted(sql)));
    }
    if (statements.size() >= kStatementCacheLimit) EvictLeastRecentlyUsed();
    ++preparedCount;
    auto& entry = statements[std::string(sql)];
    entry.statement = std::move(statement);
    entry.lastUse = ++useClock;
    entry.functionUse = use;
    return entry;
  }

  void EvictLeastRecentlyUsed() {
    auto oldest = statements.end();
    for (auto it = statements.begin(); it != statements.end(); ++it) {
      if (oldest == statements.end() || it->second.lastUse < oldest->second.lastUse) oldest = it;
    }
    if (oldest == statements.end()) return;
    if (oldest->second.answer) cachedCells -= oldest->second.answer->cells;
    statements.erase(oldest);
  }

  void Bind(sqlite3_stmt* statement, std::string_view sql, const std::vector<Value>& params) {
    const int expected = sqlite3_bind_parameter_count(statement);
    if (expected != static_cast<int>(params.size())) {
      Fail(fmt::format("The statement takes {} values, {} were given [SQL: {}]", expected,
                       params.size(), Quoted(sql)));
    }
    for (int i = 0; i < expected; ++i) {
      const Value& value = params[static_cast<std::size_t>(i)];
      int rc = SQLITE_OK;
      if (value.IsNull()) {
        rc = sqlite3_bind_null(statement, i + 1);
      } else if (value.IsInteger()) {
        rc = sqlite3_bind_int64(statement, i + 1, value.AsInteger());
      } else if (value.IsDouble()) {
        rc = sqlite3_bind_double(statement, i + 1, value.AsDouble());
      } else {
        const auto& text = value.AsText();
        rc = sqlite3_bind_text64(statement, i + 1, text.data(), text.size(), SQLITE_TRANSIENT,
                                 SQLITE_UTF8);
      }
      if (rc != SQLITE_OK) FailStatement(sql);
    }
  }

  struct Rows {
    std::vector<FieldDef> fields;
    std::vector<std::vector<Value>> rows;
  };

  Rows Run(CachedStatement& entry, std::string_view sql) {
    sqlite3_stmt* statement = entry.statement.get();
    functionUse = &entry.functionUse;
    struct Unhook {
      unsigned*& hook;
      ~Unhook() { hook = nullptr; }
    } unhook{functionUse};
    int rc = sqlite3_step(statement);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) FailStatement(sql);

    // Declared types where the column comes from a table; for an expression the first
    // row's storage class is the best evidence there is.
    const int columns = sqlite3_column_count(statement);
    Rows out;
    out.fields.reserve(static_cast<std::size_t>(columns));
    for (int c = 0; c < columns; ++c) {
      FieldDef field;
      field.name = sqlite3_column_name(statement, c);
      if (const char* declared = sqlite3_column_decltype(statement, c)) {
        field.type = TypeOfDeclaration(declared);
        if (field.type == FieldType::Text) field.size = SizeOfDeclaration(declared);
      } else if (rc == SQLITE_ROW) {
        field.type = TypeOfStorage(sqlite3_column_type(statement, c));
      }
      out.fields.push_back(std::move(field));
    }

    long row = 0;
    while (rc == SQLITE_ROW) {
      ++row;
      std::vector<Value> cells;
      cells.reserve(static_cast<std::size_t>(columns));
      for (int c = 0; c < columns; ++c) {
        const auto& field = out.fields[static_cast<std::size_t>(c)];
        Value cell = ReadCell(statement, c, field.type);
        const bool fits = cell.IsNull() || (field.type == FieldType::Text && cell.IsText()) ||
                          (field.type == FieldType::Integer && cell.IsInteger()) ||
                          (field.type == FieldType::Double && cell.IsDouble());
        if (!fits) {
          try {
            cell = ValueForField(field, cell);
          } catch (const PlatformError& error) {
            Fail(fmt::format("Column {} of row {} does not fit the column's type {}: {} [SQL: {}]",
                             field.name, row, FieldTypeName(field.type), error.Description(),
                             Quoted(sql)));
          }
        }
        cells.push_back(std::move(cell));
      }
      out.rows.push_back(std::move(cells));
      rc = sqlite3_step(statement);
    }
    if (rc != SQLITE_DONE) FailStatement(sql);
    return out;
  }

  // --- Answer cache

  void Forget(CachedStatement& entry) {
    if (!entry.answer) return;
    cachedCells -= entry.answer->cells;
    entry.answer.reset();
  }

  void ForgetAll() {
    for (auto& [text, entry] : statements) Forget(entry);
  }

  std::int64_t DataVersion() {
    if (!dataVersion) {
      sqlite3_stmt* raw = nullptr;
      internalStatement = true;
      const int rc = sqlite3_prepare_v3(connection.get(), "PRAGMA data_version", -1,
                                        SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
      internalStatement = false;
      Statement statement(raw);
      if (rc != SQLITE_OK || !statement) return -1;
      dataVersion = std::move(statement);
    }
    internalStatement = true;
    const int rc = sqlite3_step(dataVersion.get());
    internalStatement = false;
    const std::int64_t version = rc == SQLITE_ROW ? sqlite3_column_int64(dataVersion.get(), 0) : -1;
    sqlite3_reset(dataVersion.get());
    return version;
  }

  // What the file looks like now; nullopt when it cannot be told (then nothing is reused).
  std::optional<Evidence> CurrentEvidence() {
    Evidence evidence;
    evidence.ownChanges = sqlite3_total_changes64(connection.get());
    // Read through SQLite's own file handle: a second descriptor of ours would, once
    // closed, drop the locks the process holds on the file.
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(connection.get(), "main", SQLITE_FCNTL_FILE_POINTER, &file) !=
            SQLITE_OK ||
        file == nullptr || file->pMethods == nullptr) {
      return std::nullopt;
    }
    std::array<unsigned char, kHeaderBytesRead> header{};
    if (file->pMethods->xRead(file, header.data(), static_cast<int>(header.size()), 0) !=
        SQLITE_OK) {
      return std::nullopt;
    }
    evidence.header[0] = header[18];
    evidence.header[1] = header[19];
    std::memcpy(evidence.header.data() + 2, header.data() + 24, 16);
    // A write-ahead log leaves the header alone on commit; PRAGMA data_version sees it (at
    // the price of a read transaction, several system calls).
    if (header[18] == kWalWriteVersion || header[19] == kWalWriteVersion) {
      evidence.dataVersion = DataVersion();
      if (evidence.dataVersion < 0) return std::nullopt;
    }
    return evidence;
  }

  static std::int64_t CurrentSecond() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  }

  void Keep(CachedStatement& entry, const std::vector<Value>& params,
            std::shared_ptr<const SharedRows> rows, std::size_t cells, std::int64_t second) {
    Forget(entry);
    if (cells > cacheBudget) return;
    while (cachedCells + cells > cacheBudget) {
      // The least recently used other answer gives way.
      CachedStatement* oldest = nullptr;
      for (auto& [text, other] : statements) {
        if (other.answer && &other != &entry && (!oldest || other.lastUse < oldest->lastUse)) {
          oldest = &other;
        }
      }
      if (oldest == nullptr) return;
      Forget(*oldest);
    }
    entry.answer = Answer{params, std::move(rows), cells, second};
    cachedCells += cells;
  }

  std::shared_ptr<Recordset> Query(std::string_view sql, const std::vector<Value>& params) {
    CachedStatement& entry = Prepared(sql);
    const bool reusable = cacheBudget > 0 && (entry.functionUse & kNotReusable) == 0;
    std::optional<Evidence> evidence;
    std::int64_t second = 0;
    if (reusable) {
      // Read before the statement runs: a change committed between the two then makes the
      // next read miss, rather than tying newer rows to older evidence.
      evidence = CurrentEvidence();
      if (evidence != cacheEvidence) {
        ForgetAll();
        cacheEvidence = evidence;
      }
      if (evidence) {
        if ((entry.functionUse & kReadsToday) != 0) second = CurrentSecond();
        if (entry.answer && entry.answer->params == params && entry.answer->second == second) {
          ++cacheHits;
          return Recordset::Over(entry.answer->rows);
        }
      }
    }

    sqlite3_stmt* statement = entry.statement.get();
    // The statement goes back to the cache reset and unbound, whatever happens here.
    struct Rewind {
      sqlite3_stmt* statement;
      ~Rewind() {
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
      }
    } rewind{statement};
    Bind(statement, sql, params);
    const unsigned useBefore = entry.functionUse;
    Rows answer = Run(entry, sql);
    // A run that prepared the statement again (after a schema change) may have met other
    // functions; its answer is not tied to evidence read for the statement as it was.
    if (!reusable || !evidence || entry.functionUse != useBefore) {
      return Recordset::FromRows(std::move(answer.fields), std::move(answer.rows));
    }
    std::size_t cells = answer.rows.size() * answer.fields.size();
    if (cells == 0) cells = 1;
    auto shared = Recordset::Share(std::move(answer.fields), std::move(answer.rows));
    Keep(entry, params, shared, cells, second);
    return Recordset::Over(std::move(shared));
  }
};

void LocalDatabase::CreateDemo(const std::filesystem::path& file) {
  if (file.empty()) {
    throw PlatformError(PlatformError::kGeneric, "No file name is given for the local database");
  }
  std::error_code ec;
  if (const auto folder = file.parent_path(); !folder.empty()) {
    std::filesystem::create_directories(folder, ec);
    if (ec) {
      Fail(fmt::format("Cannot create the folder {} of the local database: {}", folder.string(),
                       ec.message()));
    }
  }

  // Built under a temporary name and renamed into place, so that no reader ever sees a
  // half-built file and a failure leaves no file behind that the next start would trust.
  const auto temporary = TemporaryNameFor(file);
  std::filesystem::remove(temporary, ec);
  try {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(temporary.c_str(), &raw,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    Connection db(raw);
    if (rc != SQLITE_OK) {
      Fail(fmt::format("Cannot create the local database {}: {}", temporary.string(),
                       db ? sqlite3_errmsg(db.get()) : sqlite3_errstr(rc)));
    }
    Execute(db.get(), "PRAGMA foreign_keys = ON");
    Execute(db.get(), "BEGIN IMMEDIATE");
    RunScript(db.get(), local_data::SchemaSql(), "schema");
    RunScript(db.get(), local_data::DemoSql(), "demo data");
    Execute(db.get(), "COMMIT");
    // Closing explicitly so that a failure to write the last pages is seen here.
    if (sqlite3_close(db.release()) != SQLITE_OK) {
      Fail(fmt::format("Cannot finish writing the local database {}", temporary.string()));
    }
    std::filesystem::rename(temporary, file, ec);
    if (ec) {
      Fail(fmt::format("Cannot move the new local database into place as {}: {}", file.string(),
                       ec.message()));
    }
  } catch (...) {
    std::filesystem::remove(temporary, ec);
    std::filesystem::remove(std::filesystem::path(temporary) += "-journal", ec);
    throw;
  }
}

std::shared_ptr<LocalDatabase> LocalDatabase::Open(const std::filesystem::path& file) {
  return Open(file, Options{});
}

std::shared_ptr<LocalDatabase> LocalDatabase::Open(const std::filesystem::path& file,
                                                   const Options& options) {
  if (file.empty()) {
    throw PlatformError(PlatformError::kGeneric,
                        "No file is set for the local database (setting local_db)");
  }
  std::error_code ec;
  if (!std::filesystem::exists(file, ec) && !ec) CreateDemo(file);

  auto impl = std::make_unique<Impl>();
  impl->cacheBudget = options.answerCacheCells;
  sqlite3* raw = nullptr;
  const int rc =
      sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
  impl->connection.reset(raw);
  if (rc != SQLITE_OK) {
    Fail(fmt::format("Cannot open the local database {}: {}", file.string(),
                     raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)));
  }
  sqlite3* db = impl->connection.get();
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, 2000);

  // Reading the version is also the first read of the file: a file that is not a database
  // fails here, with SQLite's words.
  const int version = SchemaVersionOf(db);
  if (version < 0) {
    Fail(fmt::format("Cannot read the local database {}: {}", file.string(), sqlite3_errmsg(db)));
  }
  if (const int expected = CompiledSchemaVersion(); version != expected) {
    Fail(fmt::format(
        "The local database {} has schema version {}, but this program needs version {}; "
        "delete the file to have it rebuilt from the built-in data",
        file.string(), version, expected));
  }

  if (sqlite3_create_function_v2(db, "UCASE", 1,
                                 SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                                 &Ucase, nullptr, nullptr, nullptr) != SQLITE_OK) {
    Fail(fmt::format("Cannot register UCASE with the local database: {}", sqlite3_errmsg(db)));
  }
  // The read-only open already stops writes to the file; the authorizer also stops what a
  // read-only connection still allows (temporary tables, ATTACH, PRAGMA settings).
  sqlite3_set_authorizer(db, &Impl::Authorize, impl.get());

  return std::shared_ptr<LocalDatabase>(new LocalDatabase(std::move(impl), file));
}

LocalDatabase::LocalDatabase(std::unique_ptr<Impl> impl, std::filesystem::path file)
    : mImpl(std::move(impl)), mFile(std::move(file)) {}

LocalDatabase::~LocalDatabase() = default;

std::shared_ptr<Recordset> LocalDatabase::Query(std::string_view sql) {
  return mImpl->Query(sql, {});
}

std::shared_ptr<Recordset> LocalDatabase::Query(std::string_view sql,
                                                const std::vector<Value>& params) {
  return mImpl->Query(sql, params);
}

std::size_t LocalDatabase::PreparedStatementCount() const { return mImpl->preparedCount; }

std::size_t LocalDatabase::CacheHits() const { return mImpl->cacheHits; }

std::size_t LocalDatabase::CachedCells() const { return mImpl->cachedCells; }

}  // namespace fm
