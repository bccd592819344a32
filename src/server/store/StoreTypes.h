#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "server/store/StationScope.h"

// The values the store takes and answers. Plain data; the rules that bind them are in
// server/store/Store.h.
namespace fm::server {

// The status code of a range in use; every other code is a delisting reason.
inline constexpr const char* kActiveStatus = "A";
// The only form type whose ranges carry a quarter and a year.
inline constexpr const char* kQuarterlyFormType = "Y";
// Registry number of a range no officer holds.
inline constexpr std::int64_t kNoOfficer = 0;

// One range of consecutive form numbers of one form type (a "TROOPFORM" row).
struct FormRange {
  std::string formType;                // FORM_TYP_CD
  std::int64_t from = 0;               // FRM_FORM_NBR
  std::int64_t to = 0;                 // TO_FORM_NBR, not below from
  std::string troop;                   // TRP_ID
  std::string district;                // TRP_DIST_ID, may be empty (the range is held by the troop)
  std::int64_t registry = kNoOfficer;  // ASGND_REG_NBR
  std::string status = kActiveStatus;  // TRP_ACTN_CD
  std::int64_t remaining = 0;          // RMNG_FORM_CNT, computed by the store
  std::optional<std::int64_t> quarter;  // FORM_QTR_DT, quarterly form type only
  std::optional<std::int64_t> year;     // FORM_YR_DT, quarterly form type only
  std::optional<std::string> comment;   // TRP_FORM_CMMT_TXT; none rather than empty

  std::int64_t Size() const { return to - from + 1; }
  friend bool operator==(const FormRange&, const FormRange&) = default;
};

// Who changed a range last (answered with full, non-thin searches).
struct LastChange {
  std::string at;  // UTC, ISO 8601
  std::string requestId;
  std::int64_t userId = 0;
  std::string
      userName{};  // display name of who acted; empty for changes made before names were kept

  friend bool operator==(const LastChange&, const LastChange&) = default;
};

struct StoredRange {
  FormRange range;
  std::string formTypeDescription;
  LastChange lastChange;
  // ROW_VERSION: 1 for a new range, increased by every change of it. A client replacing the
  // range sends the version it read, so a change made in between is noticed.
  std::int64_t version = 1;

  friend bool operator==(const StoredRange&, const StoredRange&) = default;
};

// One change row of a save. In an Update, fields the row leaves null keep the stored value:
// status, registry, quarter and year (a Troop/District move sends none of them). An Update
// carries the version of the range it replaces as the client read it.
struct RangeChange {
  enum class Action { Add, Update };
  Action action = Action::Add;
  std::string formType;
  std::int64_t from = 0;
  std::int64_t to = 0;
  std::string troop;
  std::string district;
  std::optional<std::int64_t> registry;
  std::optional<std::string> status;
  std::optional<std::int64_t> quarter;
  std::optional<std::int64_t> year;
  std::optional<std::string> comment;
  std::optional<std::int64_t> rowVersion;  // ROW_VERSION; required in an Update

  friend bool operator==(const RangeChange&, const RangeChange&) = default;
};

enum class Comparison { Equal, NotEqual, Less, LessEqual, Greater, GreaterEqual };

template <typename T>
struct Condition {
  Comparison comparison = Comparison::Equal;
  T value{};
  friend bool operator==(const Condition&, const Condition&) = default;
};

// A search of the inventory: all conditions hold together (AND). Empty lists ask nothing.
struct RangeQuery {
  std::vector<Condition<std::string>> troop;      // TRP_ID
  std::vector<Condition<std::string>> district;   // TRP_DIST_ID
  std::vector<Condition<std::string>> formType;   // FORM_TYP_CD
  std::vector<Condition<std::int64_t>> registry;  // ASGND_REG_NBR
  std::vector<Condition<std::string>> status;     // TRP_ACTN_CD
  std::optional<std::int64_t> formNumber;         // the ranges holding this number
  bool inactiveOnly = false;                      // status other than "A"
  // At most this many ranges are answered; the caller asks one more to learn there are more.
  std::size_t limit = 0;  // 0: no limit

  friend bool operator==(const RangeQuery&, const RangeQuery&) = default;
};

// One duty assignment of an officer (a row of the officer table).
struct Officer {
  std::string troop;              // DIST_ID: troop of the duty station
  std::string district;           // SUB_DIST_ID: district of the duty station
  std::int64_t registry = 0;      // INSP_ID
  std::string dutyStart;          // INSP_DUTY_STRT_DT, ISO date
  std::string dutyEnd;            // INSP_DUTY_END_DT, ISO date or empty (open)
  std::string assignmentUpdated;  // INSP_ASSN_DT_UPDT
  std::string lastName;
  std::string firstName;
  std::string middleInitial;
  std::string userId;  // USR_RACF_ID

  friend bool operator==(const Officer&, const Officer&) = default;
};

// Officers whose duty station is current on `today`: those of the station (troop, and the
// district when not empty), plus the officer with the registry number when given.
struct OfficerQuery {
  std::optional<std::string> troop;
  std::optional<std::string> district;
  std::optional<std::int64_t> registry;
  std::string today;  // ISO date

  friend bool operator==(const OfficerQuery&, const OfficerQuery&) = default;
};

// Who asks for a save; kept in the audit history with each applied row, and in the change
// stamp of every range the save writes.
struct SaveContext {
  std::string requestId;
  std::string requester;
  // Who acted, as authenticated (the principal of the request): recorded in the change
  // stamps and the chain of custody.
  std::int64_t userId = 0;
  std::string userName{};  // display name of whoever acted, named to a clerk whose save is stale
  // The stations whose ranges the save may touch: a row replacing a range held outside it,
  // or writing a range into a station outside it, refuses the whole save
  // (StoreError::Forbidden). The server's own tasks act everywhere.
  StationScope scope = StationScope::Everywhere();
  // The user id the client said it acts for, kept in the chain of custody beside the
  // authenticated one and never instead of it. None: the caller claimed nothing.
  std::optional<std::int64_t> claimedUserId{};
  // Why the save may give an officer more than an allotment cap or a station's reissue rule
  // allows (docs/allotment.md); empty: it keeps within them. Kept with the figures it lifted
  // when it lifted any; a save within the limits keeps nothing of it.
  std::string overrideReason{};
  // Whether the override may lift an allotment cap, which only an administrator may; a
  // reissue rule yields to the reason of anyone who may save.
  bool mayOverrideCaps = false;
};

struct SaveOutcome {
  bool alreadyApplied = false;  // the request id was applied before; nothing changed now
  std::size_t rowsApplied = 0;
  // The hand receipts the save issued (Store::Receipt), one per officer and Troop/District it
  // gave forms to, in the order of their numbers.
  std::vector<std::int64_t> receipts{};
};

// What an entry of the chain of custody records, so that a history or a report tells
// receipts from moves without guessing.
namespace custody {
inline constexpr const char* kReceive = "RECEIVE";    // numbers no range held before entered
inline constexpr const char* kPiece = "PIECE";        // a piece split off a replaced range
inline constexpr const char* kChange = "CHANGE";      // a range replaced by its new state
inline constexpr const char* kLoad = "LOAD";          // a range of an initial inventory
inline constexpr const char* kWithdraw = "WITHDRAW";  // numbers taken out of the inventory
}  // namespace custody

// One applied row in the chain of custody of a form.
struct CustodyEntry {
  std::int64_t id = 0;  // the entry's place in the history: later entries have greater ids
  // The entry that wrote the range this one replaced (its `before`); none for a receipt or a
  // load, and for a range whose writing was never recorded.
  std::optional<std::int64_t> parentId;
  // When a later save replaced the range this entry wrote (UTC); a withdrawal ends at once;
  // none while the range is still held as written.
  std::optional<std::string> endedAt;
  std::string at;  // UTC, ISO 8601
  std::string requestId;
  std::string requester;
  std::int64_t userId = 0;
  std::string userName;
  std::string action;  // "ADD", "UPD", "LOAD" (initial inventory) or "WDR" (withdrawal)
  std::string event;   // one of custody::k...
  // RECEIVE and LOAD: none. PIECE: the replaced range the piece came from. CHANGE: the range
  // replaced. WITHDRAW: the range the withdrawn numbers were taken from.
  std::optional<FormRange> before;
  // WITHDRAW: the numbers withdrawn (with the attributes they had); otherwise the range as
  // written.
  FormRange after;
  std::optional<std::string> reason;  // WITHDRAW only
  // The user id the client claimed (none when it claimed nothing): kept for the record,
  // never taken as who acted.
  std::optional<std::int64_t> claimedUserId;
  // The hand receipt the entry's range was given on (Store::Receipt); Store::FormHistory only.
  std::optional<std::int64_t> receipt{};
  // Why the entry's save went beyond an allotment cap or a reissue rule, when it did
  // (SaveContext::overrideReason); Store::FormHistory only.
  std::optional<std::string> overrideReason{};
};

// Whose forms a custody report is about: one Troop/District, every district of a troop (and
// the troop's own ranges), or one officer (optionally only at a station).
struct HolderScope {
  std::string troop;     // empty: any troop (an officer's forms wherever they are held)
  std::string district;  // ignored when wholeTroop
  bool wholeTroop = false;
  std::optional<std::int64_t> registry;  // the officer; none: whoever holds them

  // Whether a range with these holder columns is the scope's.
  bool Holds(const FormRange& range) const {
    if (!troop.empty() && range.troop != troop) return false;
    if (!troop.empty() && !wholeTroop && range.district != district) return false;
    return !registry || range.registry == *registry;
  }
  friend bool operator==(const HolderScope&, const HolderScope&) = default;
};

// The history a custody report over [start, end) reads (UTC stamps as the audit keeps them).
struct ScopeHistoryQuery {
  HolderScope scope;
  std::string formType;  // empty: every form type
  std::string start;
  std::string end;
};

// What a custody report reads (Store::ScopeHistory).
struct HoldingsHistory {
  // The ranges the scope holds now, each with the time of its last change
  // (lastChange.at): the latest state of the history, held since then.
  std::vector<StoredRange> held;
  // The entries of the scope's history that matter to the period, ordered by id.
  std::vector<CustodyEntry> entries;
};

// What a withdrawal took out and what stayed: for each stored range it cut, the withdrawn
// numbers, and the pieces outside the span that remain in the inventory (with new versions).
struct WithdrawOutcome {
  std::vector<FormRange> withdrawn;
  std::vector<FormRange> kept;
};

struct FormTypeInfo {
  std::string code;
  std::string description;
  std::int64_t lowest = 0;
  std::int64_t highest = 0;

  friend bool operator==(const FormTypeInfo&, const FormTypeInfo&) = default;
};

}  // namespace fm::server
