#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace fm {
class LocalDatabase;
}

namespace fm::testing {

// A local database file in a fresh temporary folder, removed again with the object.
class TestDatabaseFile {
 public:
  TestDatabaseFile();
  ~TestDatabaseFile();
  TestDatabaseFile(const TestDatabaseFile&) = delete;
  TestDatabaseFile& operator=(const TestDatabaseFile&) = delete;

  const std::filesystem::path& Path() const { return mFile; }

  // The demo database (LocalDatabase::Open creates it from the demo data).
  std::shared_ptr<LocalDatabase> OpenDemo() const;
  // The schema alone plus `inserts` (SQL run on the file before it is opened read-only).
  std::shared_ptr<LocalDatabase> OpenWith(const std::string& inserts) const;

 private:
  std::filesystem::path mFolder;
  std::filesystem::path mFile;
};

}  // namespace fm::testing
