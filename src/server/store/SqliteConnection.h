#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>

#include "server/store/SqlConnection.h"

namespace fm::server {

// An SQLite connection in WAL mode with synchronous=FULL (a committed save survives a power
// cut), foreign keys on, and a busy time-out so a writer waits for another instead of
// failing at once. Writes start with BEGIN IMMEDIATE: the write lock is taken before the
// first read of a transaction, so the checks a save makes cannot be invalidated by another
// writer before it commits. Statements are prepared once per connection and reused.
class SqliteConnection : public SqlConnection {
 public:
  // Opens (creating when missing) the file. Throws SqlError (Connection) naming the file.
  // `cacheMiB`: the connection's page cache (StoreOptions::sqliteCacheMiB); `mmapMiB`: how
  // much of the file it reads through a memory map, 0 for none (StoreOptions::sqliteMmapMiB).
  SqliteConnection(const std::filesystem::path& file, std::chrono::milliseconds busyTimeout,
                   std::size_t cacheMiB = 2, std::size_t mmapMiB = 0);
  ~SqliteConnection() override;
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;

  void ExecuteScript(std::string_view sql) override;
  std::vector<SqlRow> Query(std::string_view sql, const std::vector<SqlValue>& params) override;
  void QueryEach(std::string_view sql, const std::vector<SqlValue>& params,
                 const std::function<bool(const SqlRow&)>& each) override;
  void BulkInsert(std::string_view table, const std::vector<std::string>& columns,
                  const std::vector<SqlRow>& rows) override;
  void Begin(Transaction kind) override;
  void BeginWrite(const std::vector<std::string>& formTypes, bool linksRecords) override;
  void Commit() override;
  void Rollback() noexcept override;
  bool Healthy() const override;

 private:
  struct Impl;
  std::unique_ptr<Impl> mImpl;
};

}  // namespace fm::server
