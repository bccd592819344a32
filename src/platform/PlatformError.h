#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <stdexcept>
#include <string>

namespace fm {

// The one error type of the platform and the screen. `Number()` plays the part of the
// run-time error number a trapped procedure would see; `Description()` is the text the
// error reporter receives and the user may read, so it must say what was wrong in words.
class PlatformError : public std::runtime_error {
 public:
  // Numbers of the errors the platform raises itself.
  static constexpr std::int64_t kGeneric = 5;          // invalid call or argument
  static constexpr std::int64_t kTypeMismatch = 13;    // a value that cannot be converted
  static constexpr std::int64_t kOverflow = 6;         // a number out of range
  static constexpr std::int64_t kNoCurrentRow = 3021;  // BOF or EOF, or the row was deleted
  static constexpr std::int64_t kItemNotFound = 3265;  // unknown field name
  static constexpr std::int64_t kBadCriterion = 3001;  // malformed filter or find criterion
  static constexpr std::int64_t kObjectClosed = 3704;  // a data set used before Open
  // The provider's unspecified failure (0x80004005 as a signed 32-bit number): the local
  // database refused a statement. It must differ from every number above, so that a trap
  // can tell a refused statement from a misuse of a data set.
  static constexpr std::int64_t kDatabase = -2147467259;

  PlatformError(std::int64_t number, std::string description)
      : std::runtime_error(description), mNumber(number), mDescription(std::move(description)) {}

  std::int64_t Number() const noexcept { return mNumber; }
  const std::string& Description() const noexcept { return mDescription; }

 private:
  std::int64_t mNumber;
  std::string mDescription;
};

// A trap tells errors apart by number alone, so no two may share one.
constexpr bool PlatformErrorNumbersAreDistinct() {
  const std::int64_t numbers[] = {PlatformError::kGeneric,      PlatformError::kTypeMismatch,
                                  PlatformError::kOverflow,     PlatformError::kNoCurrentRow,
                                  PlatformError::kItemNotFound, PlatformError::kBadCriterion,
                                  PlatformError::kObjectClosed, PlatformError::kDatabase};
  for (std::size_t i = 0; i < std::size(numbers); ++i) {
    for (std::size_t j = i + 1; j < std::size(numbers); ++j) {
      if (numbers[i] == numbers[j]) return false;
    }
  }
  return true;
}
static_assert(PlatformErrorNumbersAreDistinct(), "two platform errors share a number");

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
