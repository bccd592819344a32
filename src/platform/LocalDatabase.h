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
// Not thread-safe: one connection for the user-interface thread.
class LocalDatabase {
 public:
  // Opens the file, creating it from the schema and demo data when it is missing. Throws
  // PlatformError (with the file name and SQLite's words) when it cannot.
  static std::shared_ptr<LocalDatabase> Open(const std::filesystem::path& file);
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

 private:
  struct Impl;
  explicit LocalDatabase(std::unique_ptr<Impl> impl, std::filesystem::path file);
  std::unique_ptr<Impl> mImpl;
  std::filesystem::path mFile;
};

}  // namespace fm
