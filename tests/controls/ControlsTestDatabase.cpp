#include "ControlsTestDatabase.h"

#include <sqlite3.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/LocalDatabase.h"

namespace fm::testing {
namespace {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void Execute(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = error != nullptr ? error : "unknown error";
    sqlite3_free(error);
    throw std::runtime_error("test database: " + message);
  }
}

}  // namespace

std::shared_ptr<LocalDatabase> TestDatabaseFile::OpenDemo() const {
  return LocalDatabase::Open(mFile);
}

std::shared_ptr<LocalDatabase> TestDatabaseFile::OpenWith(const std::string& inserts) const {
  sqlite3* db = nullptr;
  if (sqlite3_open(mFile.c_str(), &db) != SQLITE_OK) {
    sqlite3_close(db);
    throw std::runtime_error("cannot create " + mFile.string());
  }
  try {
    Execute(db, ReadFile(std::filesystem::path(FM_SOURCE_DIR) / "data/local/schema.sql"));
    Execute(db, inserts);
  } catch (...) {
    sqlite3_close(db);
    throw;
  }
  sqlite3_close(db);
  return LocalDatabase::Open(mFile);
}

}  // namespace fm::testing
