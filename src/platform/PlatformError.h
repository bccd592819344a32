#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace fm {

// The one error type of the platform and the screen. `Number()` plays the part of the
// run-time error number a trapped procedure would see; `Description()` is the text the
// error reporter receives and the user may read, so it must say what was wrong in words.
class PlatformError : public std::runtime_error {
 public:
  // Numbers of the errors the platform raises itself.
  static constexpr std::int64_t kGeneric = 5;           // invalid call or argument
  static constexpr std::int64_t kTypeMismatch = 13;     // a value that cannot be converted
  static constexpr std::int64_t kOverflow = 6;          // a number out of range
  static constexpr std::int64_t kNoCurrentRow = 3021;   // BOF or EOF, or the row was deleted
  static constexpr std::int64_t kItemNotFound = 3265;   // unknown field name
  static constexpr std::int64_t kBadCriterion = 3001;   // malformed filter or find criterion
  static constexpr std::int64_t kDatabase = 3704;       // the local database refused a statement
  static constexpr std::int64_t kObjectClosed = 3704;   // a data set used before Open

  PlatformError(std::int64_t number, std::string description)
      : std::runtime_error(description), mNumber(number), mDescription(std::move(description)) {}

  std::int64_t Number() const noexcept { return mNumber; }
  const std::string& Description() const noexcept { return mDescription; }

 private:
  std::int64_t mNumber;
  std::string mDescription;
};

// The private error number of an expected early exit ("no rows", "no selection", "a reply
// for another document"). The error trap passes it over without a report.
inline constexpr std::int64_t kEarlyExitNumber = 0x800403E8;

class EarlyExit : public PlatformError {
 public:
  EarlyExit() : PlatformError(kEarlyExitNumber, "Expected early exit") {}
};

// Ends the running trapped procedure silently.
[[noreturn]] inline void RaiseEarlyExit() { throw EarlyExit(); }

}  // namespace fm
