#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Recordset.h"

namespace fm {

// The workstation's local database: an SQLite file holding the code table RVO_CODE, the
// officer table MVE061TB and the troop and district tables the Troop/District checks read.
//
// The connection is read-only. A file that does not exist is first created from the
// versioned schema and demo data compiled into the program. SQL texts run as the screen
// builds them: SQLite's date() serves as it is, and UCASE is registered. Each distinct
// statement text is prepared once and reused. A text holding more than one statement is
// refused.
//
// Answers are cached: a read repeated with the same text and values is answered from the
// rows of the first run, as long as the file has not changed since. The file's change
// evidence is checked on every read (the header's change counter, which is what SQLite's
// PRAGMA data_version rests on for a rollback-journal file; PRAGMA data_version itself for a
// write-ahead-log file; and the connection's own change count), so a file changed by
// another process is seen by the next read. Each caller gets a record set of its own over
// the cached rows: what it changes in them is copied first and reaches no other caller.
// Statements that read the clock through date() or CURRENT_DATE reuse an answer only within
// the same second; those calling other time functions, random() and the like are never
// reused. docs/local-database.md has the details.
//
// Not thread-safe: one connection for the user-interface thread.
class LocalDatabase {
 public:
  // Default of Options::answerCacheCells: about 4 MB of values, room for the officer
  // registry of a large region and every code look-up of the screen.
  static constexpr std::size_t kDefaultAnswerCacheCells = 100'000;

  struct Options {
    // Most values (rows times columns, an empty answer counting one) the cached answers
    // hold together; the least recently used answers give way. An answer larger than this
    // is not kept. 0 switches the cache off. At most one answer per prepared statement is
    // kept, so there are never more answers than prepared statements (256).
    std::size_t answerCacheCells = kDefaultAnswerCacheCells;
  };

  // Opens the file, creating it from the schema and demo data when it is missing. Throws
  // PlatformError (with the file name and SQLite's words) when it cannot.
  static std::shared_ptr<LocalDatabase> Open(const std::filesystem::path& file);
  static std::shared_ptr<LocalDatabase> Open(const std::filesystem::path& file,
                                             const Options& options);
  // Creates (or overwrites) a database file from the schema and demo data.
  static void CreateDemo(const std::filesystem::path& file);

  ~LocalDatabase();
  LocalDatabase(const LocalDatabase&) = delete;
  LocalDatabase& operator=(const LocalDatabase&) = delete;

  // Runs one SELECT and answers its rows as a new record set. Column types follow the
  // declared types of the result columns (INTEGER, REAL/NUMERIC as Double, else Text).
  // Throws PlatformError naming the problem and quoting the SQL on any failure.
  std::shared_ptr<Recordset> Query(std::string_view sql);

  // As Query, with values bound to ? parameters (texts); for the platform's own checks.
  std::shared_ptr<Recordset> Query(std::string_view sql, const std::vector<Value>& params);

  const std::filesystem::path& File() const { return mFile; }
  // Number of distinct statements prepared so far (tests check the reuse).
  std::size_t PreparedStatementCount() const;
  // Reads answered from the cache so far, and the values the cached answers hold now.
  std::size_t CacheHits() const;
  std::size_t CachedCells() const;

 private:
  struct Impl;
  explicit LocalDatabase(std::unique_ptr<Impl> impl, std::filesystem::path file);
  std::unique_ptr<Impl> mImpl;
  std::filesystem::path mFile;
};

}  // namespace fm
