#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

// Copies of a SQLite inventory: a backup taken while servers keep saving, and the restore
// of such a copy in place of a store's file. PostgreSQL stores are copied with pg_dump and
// pg_restore instead (docs/deployment.md).
namespace fm::server {

class BackupError : public std::runtime_error {
 public:
  enum class Kind {
    Refused,  // nothing was done: the operator has to choose otherwise (another file, --force)
    Failed,   // the database or the file system failed; nothing was replaced
  };

  BackupError(Kind kind, const std::string& what) : std::runtime_error(what), mKind(kind) {}
  Kind GetKind() const noexcept { return mKind; }

 private:
  Kind mKind;
};

struct BackupOptions {
  // Pages copied in one step, and the pause between steps: the copy reads one snapshot of
  // the database, so servers keep saving while it runs, and the pause leaves them the disk.
  int pagesPerStep = 512;
  std::chrono::milliseconds pause{5};
  // Replace an existing file at the target instead of refusing.
  bool overwrite = false;
  // How long opening the snapshot waits for a writer that holds the database briefly.
  std::chrono::milliseconds busyTimeout{5000};
  // Called after every step with the pages still to copy and the pages in all.
  std::function<void(int remaining, int total)> progress;
};

struct BackupReport {
  int schemaVersion = 0;
  std::int64_t ranges = 0;  // in the copy
  int pages = 0;
  int steps = 0;
};

// Copies the inventory in the SQLite file `database` to `target` through SQLite's online
// backup API. The copy is one consistent snapshot (every save either wholly in it or not at
// all) however many saves other connections or processes commit meanwhile, and it is a
// single self-contained file (no -wal beside it). It is written under a temporary name in
// the target's folder and renamed when complete, so `target` is never a partial copy; it is
// readable by its owner only. Throws BackupError: Refused when `database` is missing or is
// not an inventory, or `target` exists and options.overwrite is off; Failed otherwise.
BackupReport BackupSqliteInventory(const std::filesystem::path& database,
                                   const std::filesystem::path& target,
                                   const BackupOptions& options = {});

struct RestoreOptions {
  // Replace a database that holds ranges or history (or is not an inventory at all).
  bool force = false;
  std::chrono::milliseconds busyTimeout{5000};
};

struct RestoreReport {
  int backupSchemaVersion = 0;  // as the backup was taken
  int schemaVersion = 0;        // after the migrations this program applied on restore
  std::int64_t ranges = 0;
};

// Puts the inventory of the backup file `backup` in place of the SQLite file `database`.
// Before anything is replaced, a copy of the backup is made beside `database` and checked:
// it must be a SQLite database, pass SQLite's integrity check, hold the inventory's tables,
// and open as a store of this program (a newer schema version is refused; an older one is
// migrated, as a server would on open). Then the copy replaces `database` by one rename,
// keeping the old file's permissions, and a -wal of the old file can never be paired with
// the new one. A `database` that is missing, empty, or an inventory without ranges and
// history is replaced freely; any other needs options.force. A database another process
// has open is refused: stop its server first. Throws BackupError (Refused or Failed);
// `database` is then unchanged.
RestoreReport RestoreSqliteInventory(const std::filesystem::path& backup,
                                     const std::filesystem::path& database,
                                     const RestoreOptions& options = {});

}  // namespace fm::server
