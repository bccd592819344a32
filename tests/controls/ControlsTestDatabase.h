#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "TempFolder.h"

namespace fm {
class LocalDatabase;
}

namespace fm::testing {

// A local database file in a fresh temporary folder, removed again with the object.
class TestDatabaseFile {
 public:
  // The demo database (LocalDatabase::Open creates it from the demo data).
  std::shared_ptr<LocalDatabase> OpenDemo() const;
  // The schema alone plus `inserts` (SQL run on the file before it is opened read-only).
  std::shared_ptr<LocalDatabase> OpenWith(const std::string& inserts) const;

 private:
  TempFolder mFolder;
  std::filesystem::path mFile = mFolder.Path() / "local.db";
};

}  // namespace fm::testing
