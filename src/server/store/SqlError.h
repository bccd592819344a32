#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace fm::server {

// A failure reported by a database connection, classified so the store can decide between
// retrying, refusing and giving up. Internal to the store: callers of Store only ever see
// StoreError.
class SqlError : public std::runtime_error {
 public:
  enum class Kind {
    Retryable,   // serialization failure or deadlock: run the transaction again
    Busy,        // the database stayed locked for the whole busy time-out
    Constraint,  // a unique, exclusion, check or foreign-key constraint refused a row
    Connection,  // the connection is broken; it must not be reused
    Other,
  };

  SqlError(Kind kind, const std::string& what, std::string state = {})
      : std::runtime_error(what), mKind(kind), mState(std::move(state)) {}
  Kind GetKind() const noexcept { return mKind; }
  // The database's own code for the failure (PostgreSQL's SQLSTATE), when it gave one.
  const std::string& State() const noexcept { return mState; }

 private:
  Kind mKind;
  std::string mState;
};

}  // namespace fm::server
