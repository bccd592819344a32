#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Physical counts of a station's forms against its book, as the store keeps them
// (docs/counts.md). Plain data; Store.h has the rules.
namespace fm::server {

// Longest certification statement, and longest note of a settlement: a paragraph each.
inline constexpr std::size_t kMaxCountStatementLength = 2000;
inline constexpr std::size_t kMaxCountNoteLength = 500;

// Consecutive numbers of one form type.
struct CountSpan {
  std::string formType{};
  std::int64_t from = 0;
  std::int64_t to = 0;
  friend bool operator==(const CountSpan&, const CountSpan&) = default;
};

// A piece of the book as it stood when the count was opened: numbers that should be on the
// station's shelf (registry 0) or with one of its officers.
struct BookSpan {
  std::string formType{};
  std::int64_t from = 0;
  std::int64_t to = 0;
  std::int64_t registry = 0;
  std::string status{};
  friend bool operator==(const BookSpan&, const BookSpan&) = default;
};

// Why a counted number is not in the book, judged by the inventory as it is when the result
// is computed.
enum class UnexpectedReason {
  OtherStation,  // held by another station, on its shelf
  OtherOfficer,  // held by an officer of another station
  Delisted,      // held in a status that takes it out of stock, or withdrawn
  Used,          // a use of it stands (docs/usage.md)
  NotInBook,     // held by the station now, but not in the book fixed at the opening
  NeverReceived  // no range holds it and none ever took it out
};
// "other_station", "other_officer", "delisted", "used", "not_in_book", "never_received".
const char* UnexpectedReasonKey(UnexpectedReason reason);

struct UnexpectedSpan {
  std::string formType{};
  std::int64_t from = 0;
  std::int64_t to = 0;
  UnexpectedReason reason = UnexpectedReason::NeverReceived;
  std::string detail{};  // who holds it, in which status: "Troop/District B2", "status L (Lost)"
  friend bool operator==(const UnexpectedSpan&, const UnexpectedSpan&) = default;
};

// The outcome of a count: found and missing cover the book exactly, found and unexpected
// the counted numbers; each list by form type, then number.
struct CountResult {
  std::vector<BookSpan> found{};
  std::vector<BookSpan> missing{};
  std::vector<UnexpectedSpan> unexpected{};
  friend bool operator==(const CountResult&, const CountResult&) = default;
};

// How an administrator settled a missing span of a certified count.
enum class SettlementKind {
  Lost,        // delisted "Lost", by a save citing the count
  FoundLater,  // the forms turned up after the count; the inventory is not changed
};
// "lost", "found_later".
const char* SettlementKey(SettlementKind kind);

struct CountSettlement {
  std::string formType{};
  std::int64_t from = 0;
  std::int64_t to = 0;
  SettlementKind kind = SettlementKind::Lost;
  std::string note{};
  std::int64_t userId = 0;
  std::string userName{};
  std::string at{};  // UTC
  std::string requestId{};
  friend bool operator==(const CountSettlement&, const CountSettlement&) = default;
};

struct CountCertification {
  std::int64_t userId = 0;
  std::string userName{};
  std::string at{};  // UTC
  std::string statement{};
  friend bool operator==(const CountCertification&, const CountCertification&) = default;
};

struct PhysicalCount {
  std::int64_t number = 0;
  std::string troop{};
  std::string district{};  // empty: the troop's own stock
  std::vector<std::string> formTypes{};
  std::int64_t openedById = 0;
  std::string openedBy{};
  std::string openedAt{};  // UTC: the instant the book is of
  std::string requestId{};
  std::vector<BookSpan> book{};      // by form type, then number
  std::vector<CountSpan> counted{};  // merged, by form type, then number
  std::optional<CountCertification> certified{};
  // Once certified: the unexpected numbers with their reasons as they were then.
  std::vector<UnexpectedSpan> unexpected{};
  std::vector<CountSettlement> settlements{};  // in the order made
  friend bool operator==(const PhysicalCount&, const PhysicalCount&) = default;
};

// A count in a list: no spans.
struct CountSummary {
  std::int64_t number = 0;
  std::string troop{};
  std::string district{};
  std::vector<std::string> formTypes{};
  std::string openedBy{};
  std::string openedAt{};
  std::optional<CountCertification> certified{};
  friend bool operator==(const CountSummary&, const CountSummary&) = default;
};

// A certified count in the history of one form: what it found of the number.
struct CountOfForm {
  std::int64_t number = 0;
  std::string troop{};
  std::string district{};
  std::string certifiedAt{};
  std::string certifiedBy{};
  std::string outcome{};  // "found", "missing", or the unexpected reason's key
  std::optional<CountSettlement> settlement{};  // of the number, when one was made
  friend bool operator==(const CountOfForm&, const CountOfForm&) = default;
};

// The last count certified at each station that has one (by station).
struct StationCount {
  std::string troop{};
  std::string district{};
  std::int64_t number = 0;
  std::string certifiedAt{};  // UTC
  friend bool operator==(const StationCount&, const StationCount&) = default;
};

}  // namespace fm::server
