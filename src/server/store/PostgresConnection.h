#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "server/store/SqlConnection.h"

namespace fm::server {

// A libpq connection. Writes run SERIALIZABLE, so checks a save makes in its transaction
// hold at commit or the save fails with a serialization error the store retries; a lock
// wait longer than the busy time-out fails instead of hanging. Text columns compare
// byte-wise (the schema declares them COLLATE "C"), as in SQLite. Statements are prepared
// once per connection and reused.
class PostgresConnection : public SqlConnection {
 public:
  // Connects to a URL ("postgresql://user@host:port/db?..."). Throws SqlError
  // (Connection) with libpq's words; the password of the URL is not repeated.
  PostgresConnection(const std::string& url, std::chrono::milliseconds busyTimeout);
  ~PostgresConnection() override;
  PostgresConnection(const PostgresConnection&) = delete;
  PostgresConnection& operator=(const PostgresConnection&) = delete;

  void ExecuteScript(std::string_view sql) override;
  std::vector<SqlRow> Query(std::string_view sql, const std::vector<SqlValue>& params) override;
  void QueryEach(std::string_view sql, const std::vector<SqlValue>& params,
                 const std::function<bool(const SqlRow&)>& each) override;
  void BulkInsert(std::string_view table, const std::vector<std::string>& columns,
                  const std::vector<SqlRow>& rows) override;
  void Begin(Transaction kind) override;
  void BeginWrite(const std::vector<std::string>& formTypes, bool linksRecords) override;
  void Commit() override;
  void CommitAfter(std::string_view statement) override;
  void Rollback() noexcept override;
  bool Healthy() const override;

  // `?` placeholders rewritten as $1, $2...; quoted texts and identifiers are left alone.
  static std::string NumberPlaceholders(std::string_view sql, int* count);

 private:
  struct Impl;
  std::unique_ptr<Impl> mImpl;
};

}  // namespace fm::server
