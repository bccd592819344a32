#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/store/StoreTypes.h"

namespace fm::server {

class ReferenceData;

// The rules a save must keep, independent of the database: what a change row turns into,
// whether a range is admissible, and how many forms of a piece remain. Both backends apply
// rows through these functions, so they refuse and compute exactly the same.

// Longest comment kept. The screen stamps comments (name, date, time) after a 254-character
// entry, so the limit is well above that; it only keeps out absurd input.
inline constexpr std::size_t kMaxCommentLength = 2000;

// Longest reason a withdrawal keeps: a sentence or two saying why the numbers leave the
// inventory (a misprint, a range recorded in error), not a report.
inline constexpr std::size_t kMaxWithdrawReasonLength = 500;

// "Row 2 (new range 150-199 of OOS Decals)", "Row 3 (change of 1100001-1100100 of ENF001
// Citation)": the prefix of every message about a change row, naming the form type as a clerk
// knows it (FormTypeName).
std::string RowLabel(std::size_t index, const RangeChange& change, const ReferenceData& reference);
// The same with the form type's code, for a caller without the reference data at hand.
std::string RowLabel(std::size_t index, const RangeChange& change);

// The range a change row asks for. An Add takes the row as it is (a null registry means no
// officer; a null status is refused); an Update starts from `stored` and keeps its status,
// registry, quarter and year where the row leaves them null. Quarter and year are dropped
// for form types that are not quarterly. The remaining count is left to the caller.
// Throws StoreError::Rejected naming the row.
FormRange ResolveChange(const std::string& label, const RangeChange& change,
                        const std::optional<FormRange>& stored);

// A change of part of a quarterly range. The screen changes a range of CVSA decals with one
// "UPD" of the entered span, whatever part of the selected range it is. When that lone row
// lies inside `stored`, the range holding it, without being the whole of it, it means the
// split a clerk would make: these are the rows of that split, in the order a save applies
// them. The first one replaces `stored` (starting at its From, carrying the row's version);
// the entered span takes the row's values (those it leaves null from `stored`); the numbers
// before and after it stay as pieces with the stored values. Conservation then holds by
// construction, and each piece gets its history entry as in any split.
std::vector<RangeChange> SplitPartOfRange(const RangeChange& change, const FormRange& stored);

// Whether `changes` is a lone "UPD" of the quarterly form type, the only save read as a
// change of part of a range (SplitPartOfRange); for every other save an "UPD" replaces the
// range starting at its From, whole.
bool IsLoneQuarterlyUpdate(const std::vector<RangeChange>& changes);

// Checks a range against the reference data and the range rules (To not below From,
// bounds of the form type, station, status, registry, quarter and year, comment length,
// remaining count between 0 and the size). Throws StoreError::Rejected naming `label`.
void CheckRange(const std::string& label, const FormRange& range, const ReferenceData& reference);

// Remaining-forms counts within one save. The forms of a range are used from its lowest
// number up; a piece of a replaced range keeps as remaining only its numbers above the
// used part, and numbers outside every replaced range count as remaining.
class RemainingCounter {
 public:
  // A stored range replaced in this save: its used part is From .. To - remaining.
  void Replaced(const FormRange& stored);
  // The remaining count of a range [from, to] of the form type written in this save.
  std::int64_t RemainingFor(const std::string& formType, std::int64_t from, std::int64_t to) const;

 private:
  struct UsedPart {
    std::string formType;
    std::int64_t first;
    std::int64_t last;
  };
  std::vector<UsedPart> mUsed;
};

// The form type as a clerk names it: its description as the Account Type combo lists it
// ("ENF001 Citation" for "C", "Temporary Permits" for "T"), or the code when the type is
// unknown or undescribed. The whole description, not a word of it: "Temporary" or "OOS" alone
// names nothing a clerk picks.
std::string FormTypeName(const std::string& code, const ReferenceData& reference);

// The status as a clerk reads it: its description ("Void", "Unassign", "Activate" for "A"),
// or the code when the status is unknown or undescribed.
std::string StatusName(const std::string& code, const ReferenceData& reference);

// What a clerk reads when a row replaces a range that changed after the search it was
// built from: "Range 1101076-1101175 of ENF001 Citation was changed by Ann Lee at 05/01/2024
// 08:30:00 AM after your search. Search again and repeat the change." `changedBy` empty (a change
// recorded before names were kept): "User <id>" of `last`; `at` is shown in local time
// (ClerkTime), or as stored when it cannot be read.
std::string StaleRangeMessage(const FormRange& stored, const std::string& formTypeName,
                              const LastChange& last);

// Station scope. A caller may replace only ranges held within its scope, and write ranges
// only into stations within it; otherwise the whole save (or withdrawal) is refused with
// StoreError::Forbidden naming the station and the range, e.g. "Your account may not change
// ranges of Troop/District B2. Range 1100001-1100100 of ENF001 Citation is held there;
// nothing was saved." `outcome` ends the message ("nothing was saved", "nothing was withdrawn").
void CheckHeldInScope(const StationScope& scope, const FormRange& stored,
                      const ReferenceData& reference, std::string_view outcome);
// The same for the range row `index` (0-based) of a save would write: "... Row 2 would put
// forms 1100001-1100100 of ENF001 Citation there; nothing was saved."
void CheckWrittenInScope(const StationScope& scope, std::size_t index, const FormRange& written,
                         const ReferenceData& reference);

// A digest of the rows of a save, kept with its request id so that the same id sent with
// other rows is recognised.
std::string ChangeFingerprint(const std::vector<RangeChange>& changes);

}  // namespace fm::server
