#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <string>

#include "TempFolder.h"
#include "platform/LocalDatabase.h"

namespace fm::testing {

// A temporary folder of its own per test, removed afterwards, with the demo database built
// in it on first use.
class DemoDatabaseFixture : public ::testing::Test {
 protected:
  void TearDown() override { mDatabase.reset(); }

  const std::filesystem::path& Folder() const { return mFolder; }
  std::filesystem::path DatabaseFile() const { return mFolder / "local.db"; }

  LocalDatabase& Db() {
    if (!mDatabase) mDatabase = LocalDatabase::Open(DatabaseFile());
    return *mDatabase;
  }
  std::shared_ptr<LocalDatabase> DbPtr() {
    Db();
    return mDatabase;
  }

  // Changes the file behind the program's back, as the agency's data refresh would: runs
  // `sql` on a writable connection of its own. Builds the file first when missing.
  void Alter(const std::string& sql) {
    if (!std::filesystem::exists(DatabaseFile())) LocalDatabase::CreateDemo(DatabaseFile());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(DatabaseFile().c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    const std::string message = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << message;
  }

 private:
  TempFolder mTemp;
  const std::filesystem::path& mFolder = mTemp.Path();
  std::shared_ptr<LocalDatabase> mDatabase;
};

}  // namespace fm::testing
