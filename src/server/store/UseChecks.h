#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/Usage.h"
#include "server/store/UseTypes.h"

namespace fm::server {

class ReferenceData;

// The one check of a reported use, whoever reports it (an import's line, a use of a JSON
// body, a person's record, a correction), so that all of them accept and refuse alike:
//   - form type: a known form type's code or its description, in any case;
//   - number: a whole number in digits, within the form type's bounds;
//   - disposition: ISSUED, SPOILED, LOST or STOLEN, in any case;
//   - used_on: a real day written YYYY-MM-DD, not after rules.today;
//   - officer: a known officer's registry number; required for ISSUED and SPOILED;
//   - reference: required for ISSUED (the citation or case) and STOLEN (the police report);
//   - note: required for SPOILED (why it was voided);
//   - every text (TextProblem): well-formed UTF-8, no control character, at most
//     rules.limits.fieldLength characters, and not starting with = + - @ (nor a tab or CR),
//     which a spreadsheet opening an export would run as a formula.
// Answers the use (form type by code, number, disposition, day, registry, reference and note,
// texts trimmed of blanks; nothing else set), or nothing with everything wrong with it added
// to `problems`, each in words.
std::optional<protocol::FormUse> CheckUse(const protocol::ReportedUse& use,
                                          const ReferenceData& reference, const UseRules& rules,
                                          std::vector<std::string>& problems);

// What is wrong with a text of a use record (its `caption` names it: "the reference", "the
// source"), by the rules above; empty when nothing is.
std::string TextProblem(std::string_view caption, std::string_view text, std::size_t maxLength);

// What a client reads when a batch had bad lines: "No use was recorded: 3 lines are bad.
// Correct them and send the uses again." Empty when none was.
std::string UsageRefusal(const protocol::UsageOutcome& outcome);

// The problems of one line as one message.
std::string JoinProblems(const std::vector<std::string>& problems);

}  // namespace fm::server
