#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "server/store/SqlValue.h"

namespace fm::server {

// One connection to the store's database, used by one thread at a time (the pool hands it
// out). Statements are written once for both backends: `?` marks a parameter, and only
// SQL both SQLite and PostgreSQL accept is used. Values are always bound, never spliced.
//
// Errors: every member but Rollback throws SqlError.
class SqlConnection {
 public:
  enum class Transaction {
    Write,      // serialized against other writers (BEGIN IMMEDIATE / SERIALIZABLE)
    Migration,  // as Write, and exclusive against other processes migrating the schema
    Read,       // reads only, all from one snapshot; writers are not held up (WAL, MVCC)
  };

  virtual ~SqlConnection() = default;

  // Runs a script of statements without parameters (schema migrations).
  virtual void ExecuteScript(std::string_view sql) = 0;
  // Runs one statement with bound parameters and answers its rows. Integers come back as
  // int64, floating-point numbers as double, everything else as text, SQL NULL as monostate.
  virtual std::vector<SqlRow> Query(std::string_view sql, const std::vector<SqlValue>& params) = 0;
  // As Query, but the rows go one at a time, as the cursor gives them, to `each`, in one row
  // object reused from row to row: no result is held whole. `each` answers false to end the
  // statement early. An exception from `each` ends the statement and passes through.
  virtual void QueryEach(std::string_view sql, const std::vector<SqlValue>& params,
                         const std::function<bool(const SqlRow&)>& each) = 0;
  // Inserts many rows into a table; faster than one Query per row (COPY in PostgreSQL).
  virtual void BulkInsert(std::string_view table, const std::vector<std::string>& columns,
                          const std::vector<SqlRow>& rows) = 0;

  virtual void Begin(Transaction kind) = 0;
  // Begin(Transaction::Write), once this session holds the write locks of `formTypes`, the
  // form types whose ranges the transaction changes: writers of one form type queue for its
  // lock, and every session takes its locks in one order, so two writers never wait for each
  // other. Last it takes the record chain's lock (RecordChain.h), which every writer holds to
  // its commit, so that writes link their records one after the other (unless the write
  // links none: `linksRecords` false). Commit and Rollback
  // release them, and so does a connection that breaks. A backend that serializes all its
  // writers anyway takes none.
  virtual void BeginWrite(const std::vector<std::string>& formTypes, bool linksRecords) = 0;
  virtual void Commit() = 0;
  // Runs `statement` (no parameters: its values written in it) and commits, in one round trip
  // where the backend can; when the statement fails nothing commits.
  virtual void CommitAfter(std::string_view statement) {
    Query(statement, {});
    Commit();
  }
  // Ends any open transaction without applying it, and releases the locks of BeginWrite;
  // never throws.
  virtual void Rollback() noexcept = 0;

  // False once the connection has failed in a way that makes it unusable.
  virtual bool Healthy() const = 0;
};

}  // namespace fm::server
