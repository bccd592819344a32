#pragma once

#include <stdexcept>
#include <string>

namespace fm::server {

// The one error type of the store. The text is meant for the clerk who sent the request:
// it says which row or value was refused and why, or that the inventory could not be
// reached. Whatever the kind, a failed call has changed nothing.
class StoreError : public std::runtime_error {
 public:
  enum class Kind {
    Rejected,     // the request breaks a rule of the inventory (bounds, overlap, unknown code)
    Stale,        // a row replaces a range that changed after the client read it
    Forbidden,    // the caller may not change ranges of a station the request touches
    Conflict,     // another save got in the way and retrying did not help; try again
    Unavailable,  // the database cannot be reached or stays busy
    Internal,     // the database answered something unexpected (details in the log)
    // The save would give an officer more than an allotment cap or a station's reissue rule
    // allows; the same save with an override and its reason may pass (SaveContext).
    OverLimit,
  };

  StoreError(Kind kind, const std::string& what) : std::runtime_error(what), mKind(kind) {}

  static StoreError Rejected(const std::string& what) { return {Kind::Rejected, what}; }
  static StoreError Stale(const std::string& what) { return {Kind::Stale, what}; }
  static StoreError Forbidden(const std::string& what) { return {Kind::Forbidden, what}; }
  static StoreError Conflict(const std::string& what) { return {Kind::Conflict, what}; }
  static StoreError Unavailable(const std::string& what) { return {Kind::Unavailable, what}; }
  static StoreError Internal(const std::string& what) { return {Kind::Internal, what}; }
  static StoreError OverLimit(const std::string& what) { return {Kind::OverLimit, what}; }

  Kind GetKind() const noexcept { return mKind; }

 private:
  Kind mKind;
};

}  // namespace fm::server
