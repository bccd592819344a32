#include "server/store/Backup.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <spdlog/spdlog.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "base/Numbers.h"
#include "server/store/Store.h"
#include "server/store/StoreError.h"

namespace fm::server {

namespace {

namespace fs = std::filesystem;
using Kind = BackupError::Kind;

// The tables without which a file is not an inventory of this program.
constexpr const char* kInventoryTables[] = {"schema_migration", "form_type", "form_range",
                                            "range_audit"};

// An SQLite call that failed, with SQLite's own words; turned into a BackupError that says
// which file and what was being done.
struct SqliteFailure : std::runtime_error {
  SqliteFailure(int sqliteCode, const std::string& what)
      : std::runtime_error(what), code(sqliteCode) {}
  int code;
};

bool IsBusy(int code) { return (code & 0xff) == SQLITE_BUSY || (code & 0xff) == SQLITE_LOCKED; }

class Database {
 public:
  Database(const fs::path& file, int flags, std::chrono::milliseconds busyTimeout) {
    int rc = sqlite3_open_v2(file.c_str(), &mDb, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
      std::string why = mDb ? sqlite3_errmsg(mDb) : sqlite3_errstr(rc);
      sqlite3_close(mDb);
      throw SqliteFailure(rc, why);
    }
    sqlite3_extended_result_codes(mDb, 1);
    sqlite3_busy_timeout(mDb, static_cast<int>(busyTimeout.count()));
  }
  ~Database() { sqlite3_close(mDb); }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  sqlite3* Handle() const { return mDb; }

  // Every row of the statement, its cells as text (NULL as empty).
  std::vector<std::vector<std::string>> Rows(const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(mDb, sql.c_str(), -1, &stmt, nullptr);
    if (rc != SQLITE_OK) throw SqliteFailure(rc, sqlite3_errmsg(mDb));
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> guard(stmt, sqlite3_finalize);
    std::vector<std::vector<std::string>> rows;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      std::vector<std::string> row;
      for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
        row.emplace_back(text ? text : "");
      }
      rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) throw SqliteFailure(rc, sqlite3_errmsg(mDb));
    return rows;
  }

  std::string Value(const std::string& sql) {
    auto rows = Rows(sql);
    return rows.empty() || rows[0].empty() ? "" : rows[0][0];
  }

 private:
  sqlite3* mDb = nullptr;
};

// A backup in progress; finished however the copy ends, before its connections close.
class BackupHandle {
 public:
  BackupHandle(Database& to, Database& from)
      : mBackup(sqlite3_backup_init(to.Handle(), "main", from.Handle(), "main")) {
    if (mBackup == nullptr) {
      throw SqliteFailure(sqlite3_errcode(to.Handle()), sqlite3_errmsg(to.Handle()));
    }
  }
  ~BackupHandle() {
    if (mBackup) sqlite3_backup_finish(mBackup);
  }
  BackupHandle(const BackupHandle&) = delete;
  BackupHandle& operator=(const BackupHandle&) = delete;

  sqlite3_backup* Get() const { return mBackup; }
  // Answers sqlite3_backup_finish's code: the first error of the copy, if any.
  int Finish() { return sqlite3_backup_finish(std::exchange(mBackup, nullptr)); }

 private:
  sqlite3_backup* mBackup;
};

// A file created beside a target under a hidden, unique name; removed (with any journal
// SQLite left beside it) unless it was moved into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(const fs::path& target) {
    std::string pattern =
        (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
    int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
      throw BackupError(
          Kind::Failed,
          fmt::format("a temporary file cannot be created in {}: {}", target.parent_path().string(),
                      std::error_code(errno, std::generic_category()).message()));
    }
    ::close(fd);
    mPath = pattern;
  }
  ~TemporaryFile() {
    if (mPath.empty()) return;
    std::error_code ignored;
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
      fs::remove(mPath.string() + suffix, ignored);
    }
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const fs::path& Path() const { return mPath; }
  // Renames the file to `target` (atomically replacing what is there) and forgets it.
  void MoveTo(const fs::path& target) {
    std::error_code ec;
    fs::rename(mPath, target, ec);
    if (ec) {
      throw BackupError(Kind::Failed, fmt::format("{} cannot be put in place: {}", target.string(),
                                                  ec.message()));
    }
    mPath.clear();
  }

 private:
  fs::path mPath;
};

// A rename is durable only once the folder holding it is written out.
void SyncPath(const fs::path& path, int flags) {
  int fd = ::open(path.c_str(), flags);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// The folder of a target must exist: a typing mistake must not create folders as a side
// effect of a backup.
void RequireFolder(const fs::path& target) {
  fs::path folder = target.parent_path();
  if (folder.empty()) return;
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    throw BackupError(Kind::Refused, fmt::format("the folder {} does not exist", folder.string()));
  }
}

int SchemaVersionOf(Database& db) {
  std::string version = db.Value("SELECT max(version) FROM schema_migration");
  if (version.empty()) return 0;
  const auto number = text::WholeNumber(version);
  if (!number || *number < 0 || *number > std::numeric_limits<int>::max()) {
    throw BackupError(Kind::Failed,
                      fmt::format("the database gives its schema version as \"{}\"", version));
  }
  return static_cast<int>(*number);
}

bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  return fs::equivalent(a, b, ec);
}

std::vector<std::string> MissingInventoryTables(Database& db) {
  std::vector<std::string> missing;
  for (const char* table : kInventoryTables) {
    if (db.Value(fmt::format("SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND "
                             "name = '{}'",
                             table)) == "0") {
      missing.emplace_back(table);
    }
  }
  return missing;
}

std::string Join(const std::vector<std::string>& items) {
  std::string text;
  for (const auto& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

// Copies the whole of `from` into `to` with one backup step (both are private to the caller).
void CopyDatabase(Database& from, Database& to) {
  BackupHandle backup(to, from);
  int stepRc = sqlite3_backup_step(backup.Get(), -1);
  int finishRc = backup.Finish();
  if (stepRc != SQLITE_DONE) throw SqliteFailure(stepRc, sqlite3_errstr(stepRc));
  if (finishRc != SQLITE_OK) throw SqliteFailure(finishRc, sqlite3_errmsg(to.Handle()));
}

// The new file takes the place of the old one, so it takes its mode and (when we may) its
// owner: a restore run as root must leave a file the server's own user can open. Without an
// old file, the owner of the folder stands in for it.
void TakeOwnershipOf(const fs::path& file, const fs::path& target) {
  struct stat model {};
  bool exists = ::stat(target.c_str(), &model) == 0;
  if (!exists) {
    fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    if (::stat(folder.c_str(), &model) != 0) return;
    model.st_mode = S_IRUSR | S_IWUSR;
  }
  ::chmod(file.c_str(), model.st_mode & 07777);
  if (::geteuid() == 0 && ::chown(file.c_str(), model.st_uid, model.st_gid) != 0) {
    spdlog::warn("the owner of {} could not be set to that of {}", file.string(), target.string());
  }
}

// A missing file, an empty one, or an inventory with no ranges and no history (what a
// server creates on its first start) holds nothing a restore could lose.
std::string WhatTargetHolds(const fs::path& database, std::chrono::milliseconds busyTimeout) {
  std::error_code ec;
  if (!fs::exists(database, ec) || fs::file_size(database, ec) == 0) return "";
  try {
    Database db(database, SQLITE_OPEN_READWRITE, busyTimeout);
    if (!MissingInventoryTables(db).empty()) return "data that is not an inventory";
    std::string ranges = db.Value("SELECT count(*) FROM form_range");
    std::string history = db.Value("SELECT count(*) FROM range_audit");
    if (ranges == "0" && history == "0") return "";
    return fmt::format("an inventory of {} ranges and {} history entries", ranges, history);
  } catch (const SqliteFailure& e) {
    return fmt::format("data that cannot be read as an inventory ({})", e.what());
  }
}

}  // namespace

BackupReport BackupSqliteInventory(const fs::path& database, const fs::path& target,
                                   const BackupOptions& options) {
  if (options.pagesPerStep < 1) {
    throw BackupError(Kind::Refused, "a backup step must copy at least one page");
  }
  std::error_code ec;
  if (!fs::is_regular_file(database, ec)) {
    throw BackupError(Kind::Refused,
                      fmt::format("there is no SQLite database at {}", database.string()));
  }
  RequireFolder(target);
  if (SameFile(database, target)) {
    throw BackupError(Kind::Refused, "the backup file must not be the database itself");
  }
  if (fs::exists(target, ec) && !options.overwrite) {
    throw BackupError(Kind::Refused,
                      fmt::format("{} exists already; choose another file, or give --force to "
                                  "replace it",
                                  target.string()));
  }

  BackupReport report;
  try {
    std::optional<Database> source;
    try {
      source.emplace(database, SQLITE_OPEN_READWRITE, options.busyTimeout);
      // One read transaction over every step: in WAL mode it pins a snapshot without
      // holding up writers, and the copy never restarts because another process saved.
      source->Rows("BEGIN");
      if (auto missing = MissingInventoryTables(*source); !missing.empty()) {
        throw BackupError(Kind::Refused, fmt::format("{} is not an inventory database (no {})",
                                                     database.string(), Join(missing)));
      }
    } catch (const SqliteFailure& e) {
      throw BackupError(Kind::Refused, fmt::format("{} cannot be read as an inventory: {}",
                                                   database.string(), e.what()));
    }
    report.schemaVersion = SchemaVersionOf(*source);

    TemporaryFile copy(target);
    {
      Database destination(copy.Path(), SQLITE_OPEN_READWRITE, options.busyTimeout);
      BackupHandle backup(destination, *source);
      int rc = SQLITE_OK;
      // A busy step is tried again, but not past the busy time-out in a row.
      auto busySince = std::chrono::steady_clock::time_point::max();
      for (;;) {
        rc = sqlite3_backup_step(backup.Get(), options.pagesPerStep);
        ++report.steps;
        if (rc == SQLITE_DONE || rc == SQLITE_OK) {
          busySince = std::chrono::steady_clock::time_point::max();
          if (options.progress) {
            options.progress(sqlite3_backup_remaining(backup.Get()),
                             sqlite3_backup_pagecount(backup.Get()));
          }
          if (rc == SQLITE_DONE) break;
        } else if (IsBusy(rc)) {
          auto now = std::chrono::steady_clock::now();
          busySince = std::min(busySince, now);
          if (now - busySince > options.busyTimeout) break;
        } else {
          break;
        }
        std::this_thread::sleep_for(options.pause);
      }
      report.pages = sqlite3_backup_pagecount(backup.Get());
      int finishRc = backup.Finish();
      if (rc != SQLITE_DONE) throw SqliteFailure(rc, sqlite3_errstr(rc));
      if (finishRc != SQLITE_OK) throw SqliteFailure(finishRc, sqlite3_errstr(finishRc));
      source->Rows("COMMIT");
      source.reset();
      // The pages came from a WAL database; a rollback journal makes the copy one file that
      // opens anywhere, read-only included.
      destination.Rows("PRAGMA journal_mode=DELETE");
      report.ranges = std::stoll(destination.Value("SELECT count(*) FROM form_range"));
    }
    SyncPath(copy.Path(), O_RDONLY);
    copy.MoveTo(target);
    SyncPath(target.parent_path().empty() ? fs::path(".") : target.parent_path(), O_RDONLY);
  } catch (const SqliteFailure& e) {
    throw BackupError(Kind::Failed, fmt::format("the backup of {} to {} failed: {}",
                                                database.string(), target.string(), e.what()));
  }
  return report;
}

RestoreReport RestoreSqliteInventory(const fs::path& backup, const fs::path& database,
                                     const RestoreOptions& options) {
  std::error_code ec;
  if (!fs::is_regular_file(backup, ec)) {
    throw BackupError(Kind::Refused, fmt::format("there is no backup file {}", backup.string()));
  }
  RequireFolder(database);
  if (SameFile(backup, database)) {
    throw BackupError(Kind::Refused, "the backup file is the database itself");
  }
  if (!options.force) {
    if (std::string holds = WhatTargetHolds(database, options.busyTimeout); !holds.empty()) {
      throw BackupError(Kind::Refused, fmt::format("{} holds {}; give --force to replace it",
                                                   database.string(), holds));
    }
  }

  RestoreReport report;
  TemporaryFile copy(database);
  // Everything is checked on a copy: the backup itself is never written to, and the target
  // is not touched until the copy has passed.
  try {
    Database from(backup, SQLITE_OPEN_READONLY, options.busyTimeout);
    Database to(copy.Path(), SQLITE_OPEN_READWRITE, options.busyTimeout);
    CopyDatabase(from, to);
  } catch (const SqliteFailure& e) {
    throw BackupError(Kind::Refused, fmt::format("{} cannot be read as a SQLite database: {}",
                                                 backup.string(), e.what()));
  }
  try {
    Database db(copy.Path(), SQLITE_OPEN_READWRITE, options.busyTimeout);
    auto problems = db.Rows("PRAGMA integrity_check(10)");
    if (problems.size() != 1 || problems[0].at(0) != "ok") {
      std::string first;
      for (const auto& row : problems) first += "\n  " + row.at(0);
      throw BackupError(Kind::Refused, fmt::format("{} fails SQLite's integrity check:{}",
                                                   backup.string(), first));
    }
    if (auto missing = MissingInventoryTables(db); !missing.empty()) {
      throw BackupError(Kind::Refused, fmt::format("{} is not an inventory database (no {})",
                                                   backup.string(), Join(missing)));
    }
    report.backupSchemaVersion = SchemaVersionOf(db);
  } catch (const SqliteFailure& e) {
    throw BackupError(Kind::Refused,
                      fmt::format("{} cannot be checked: {}", backup.string(), e.what()));
  }
  try {
    // The store's own open decides what this program can serve: a newer schema is refused,
    // an older one migrated, the reference data read.
    StoreOptions storeOptions;
    storeOptions.poolSize = 1;
    storeOptions.busyTimeout = options.busyTimeout;
    auto store = OpenStore("sqlite:" + copy.Path().string(), storeOptions);
    report.schemaVersion = store->SchemaVersion();
    report.ranges = static_cast<std::int64_t>(store->RangeCount());
  } catch (const StoreError& e) {
    throw BackupError(Kind::Refused, fmt::format("{} cannot be served by this program: {}",
                                                 backup.string(), e.what()));
  }

  try {
    {
      Database db(copy.Path(), SQLITE_OPEN_READWRITE, options.busyTimeout);
      db.Rows("PRAGMA journal_mode=DELETE");
    }
    TakeOwnershipOf(copy.Path(), database);
    SyncPath(copy.Path(), O_RDONLY);

    // The old file is held with an exclusive lock while it is replaced, so no server can be
    // reading it; leaving WAL mode first folds its -wal back in, and what is left beside it
    // goes before the rename: SQLite pairs a -wal or -journal with a file by name alone.
    std::optional<Database> old;
    if (fs::exists(database, ec)) {
      try {
        old.emplace(database, SQLITE_OPEN_READWRITE, std::chrono::milliseconds(0));
        old->Rows("PRAGMA locking_mode=EXCLUSIVE");
        std::string mode = old->Value("PRAGMA journal_mode=DELETE");
        old->Rows("BEGIN EXCLUSIVE");
        old->Rows("COMMIT");
        if (mode != "delete") throw SqliteFailure(SQLITE_BUSY, "still in WAL mode");
      } catch (const SqliteFailure& e) {
        if (IsBusy(e.code)) {
          throw BackupError(Kind::Refused,
                            fmt::format("{} is in use by another process (a running server?); "
                                        "stop it before restoring",
                                        database.string()));
        }
        // Not a database (the operator gave --force): nothing to fold in or lock.
        old.reset();
      }
    }
    for (const char* suffix : {"-wal", "-shm", "-journal"}) {
      fs::remove(database.string() + suffix, ec);
    }
    copy.MoveTo(database);
    SyncPath(database.parent_path().empty() ? fs::path(".") : database.parent_path(), O_RDONLY);
  } catch (const SqliteFailure& e) {
    throw BackupError(Kind::Failed,
                      fmt::format("{} could not be replaced: {}", database.string(), e.what()));
  }
  return report;
}

}  // namespace fm::server
