#pragma once

#include <cstdint>
#include <string>

#include "protocol/Usage.h"

// The clearance statement of an officer (docs/clearance.md): on a transfer or a departure,
// everything he holds is returned or accounted for. It is the reconciliation of his forms
// (message type 38 for his registry number, wherever the forms are held) read for one
// question: does he still hold a form that is neither used nor returned?
namespace fm::protocol {

struct ClearanceVerdict {
  std::int64_t held = 0;         // the numbers of the ranges he holds
  std::int64_t unused = 0;       // held, without a use: to be returned
  std::int64_t unaccounted = 0;  // of those, skipped below numbers used long ago
  std::size_t exceptions = 0;    // uses of his that the books contradict, to be explained
  // "clear" is said only when nothing is unused and nothing unaccounted: every number he
  // was given was used (and reported) or taken back.
  bool Clear() const { return unused == 0 && unaccounted == 0; }
};

ClearanceVerdict ClearanceOf(const Reconciliation& reconciliation);
// "CLEAR: Smith, John (1002) holds no unused or unaccounted form as of 2026-12-07", or
// "NOT CLEAR: ... holds 120 unused forms, 3 of them unaccounted".
std::string ClearanceVerdictText(const Reconciliation& reconciliation);
// The statement for a terminal: the verdict, then the reconciliation (ReconciliationText).
std::string ClearanceText(const Reconciliation& reconciliation);
// {"officer", "holder", "as_of", "clear", "held", "unused", "unaccounted", "exceptions",
//  "reconciliation": ReconciliationToJson}.
std::string ClearanceToJson(const Reconciliation& reconciliation);

}  // namespace fm::protocol
