#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "server/store/StoreTypes.h"

namespace fm::server {

// A run of consecutive form numbers, first to last (both included).
struct NumberSpan {
  std::int64_t first = 0;
  std::int64_t last = 0;

  friend bool operator==(const NumberSpan&, const NumberSpan&) = default;
};

// The parts of `span` that none of `covers` holds, in ascending order. `covers` must be
// sorted by their first number; they may overlap each other and reach beyond `span`. One
// sweep over the covers that start no later than the span's end.
std::vector<NumberSpan> UncoveredParts(NumberSpan span, std::span<const NumberSpan> covers);

// "1100003-1100100, 1100150": spans joined by a comma, a one-number span as that number.
std::string SpansText(const std::vector<NumberSpan>& spans);

// The books of one save, kept so that a save can move numbers between ranges but never lose
// one, and so that every written range can be recorded for what it is. It learns the ranges
// the save replaces and the ranges it writes, as the store applies the rows in order, and
// works only from them: the inventory is never scanned.
//
// Invariants the store relies on (the store itself guarantees that written ranges overlap
// neither each other nor untouched stored ranges, and that replaced ranges do not overlap,
// since they were stored):
//   - an "UPD" stays within the range it replaces (new numbers enter only as receipts);
//   - an "ADD" is a receipt (no number of it was held before the save) or a piece (all its
//     numbers come from one range replaced earlier in the save); a row mixing both, or
//     joining numbers of two replaced ranges, is refused;
//   - a range written by the save is not replaced again by a later row of it;
//   - at the end, every number of every replaced range is held by a written range (or was
//     withdrawn).
// Every refusal throws StoreError::Rejected naming the row; the store then rolls back.
class CustodyLedger {
 public:
  // The row labelled `label` replaces `stored`. Throws when the save wrote `stored` itself.
  void Replaced(const std::string& label, const FormRange& stored);

  // What the "ADD" row labelled `label`, resolving to `added`, is: nullopt for a receipt,
  // else the replaced range it is a piece of. Throws for a row mixing new and replaced
  // numbers, or joining numbers of several replaced ranges.
  std::optional<FormRange> ClassifyAdd(const std::string& label, const FormRange& added) const;

  // Throws when the "UPD" row labelled `label` would write `next` beyond `stored`, the range
  // it replaces.
  static void CheckUpdateWithin(const std::string& label, const FormRange& stored,
                                const FormRange& next);

  // A range the save wrote.
  void Written(const FormRange& written);
  // Numbers of the form type the save takes out of the inventory on purpose (a withdrawal).
  void Withdrawn(const std::string& formType, NumberSpan span);

  // Throws naming the first replacing row whose range would leave numbers in no range, and
  // those numbers: "Row 1 (change of 1100001-1100002 of ENF001 Citation) would leave forms
  // 1100003-1100100 in no range; a change may split or move forms but never lose them."
  void CheckNothingLost() const;

 private:
  struct Replacement {
    std::string label;
    FormRange stored;
  };
  std::vector<Replacement> mReplaced;  // in row order
  // Written (and withdrawn) spans by form type, in the order learned.
  std::map<std::string, std::vector<NumberSpan>, std::less<>> mCovered;
  std::set<std::pair<std::string, std::int64_t>> mWrittenStarts;  // form type, From
};

}  // namespace fm::server
