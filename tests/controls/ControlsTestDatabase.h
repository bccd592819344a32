#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "TempFolder.h"
#include "platform/LocalDatabase.h"

namespace fm::testing {

// A local database file in a fresh temporary folder, removed again with the object.
class TestDatabaseFile {
 public:
  // The demo database.
  std::shared_ptr<LocalDatabase> OpenDemo() const { return LocalDatabase::Open(mFile); }
  // The demo database with its codes and officers replaced by `inserts` (run on the file
  // before it is opened read-only).
  std::shared_ptr<LocalDatabase> OpenWith(const std::string& inserts) const {
    LocalDatabase::CreateDemo(mFile);
    sqlite3* db = nullptr;
    char* error = nullptr;
    const std::string sql = "DELETE FROM RVO_CODE; DELETE FROM MVE061TB; " + inserts;
    const bool done = sqlite3_open(mFile.c_str(), &db) == SQLITE_OK &&
                      sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) == SQLITE_OK;
    const std::string message = error != nullptr ? error : sqlite3_errmsg(db);
    sqlite3_free(error);
    sqlite3_close(db);
    if (!done) throw std::runtime_error("test database: " + message);
    return LocalDatabase::Open(mFile);
  }

 private:
  TempFolder mFolder;
  std::filesystem::path mFile = mFolder.Path() / "local.db";
};

}  // namespace fm::testing
