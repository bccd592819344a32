#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "protocol/Receipt.h"
#include "server/store/AllotmentTypes.h"
#include "server/store/CountTypes.h"
#include "server/store/InventoryCheck.h"
#include "server/store/RecordChain.h"
#include "server/store/StockTypes.h"
#include "server/store/StoreTypes.h"
#include "server/store/UseTypes.h"

namespace fm::server {

class ReferenceData;

struct StoreOptions {
  // Answers the current time in UTC as ISO 8601 ("2024-05-01T08:30:00.123Z"); audit entries
  // are stamped with it. Empty: the system clock.
  std::function<std::string()> clock;
  // How long a writer waits for another writer (SQLite busy time-out, PostgreSQL lock wait).
  std::chrono::milliseconds busyTimeout{5000};
  // A save that loses a serialization race or deadlock is run again this many times at most.
  // Five left about one save in 500 refused with 16 clerks saving at once on two busy cores;
  // eight pauses add up to about 2 s at the worst, which a clerk waits out sooner than a
  // refusal.
  int maxRetries = 8;
  // Connections kept open for concurrent callers.
  std::size_t poolSize = 8;
  // SQLite's page cache of each of those connections, in MiB (filled only as far as the
  // store's pages are read). The default is SQLite's own, which keeps a serving process's
  // memory where its limits were measured (a large save's pages stay in a larger cache: 32
  // MiB took a server holding sixty 7 MiB bodies from 120 to 151 MB). A store of a million
  // ranges wants more for bulk work: with 2 MiB its saves' index probes copy their pages from
  // the operating system every time, more than half of a generated decade's time.
  std::size_t sqliteCacheMiB = 2;
  // How much of an SQLite file each connection reads through a memory map instead of copying
  // its pages into the cache, in MiB; 0, the default, for none. A report of a troop's year on
  // a 2 GB store spends a third of its time in those copies (with 2,048 it took a tenth to a
  // quarter less), but the mapped pages count in the process's resident memory, and a disk
  // error under a mapped page stops the process instead of failing one request.
  std::size_t sqliteMmapMiB = 0;
  // Run the schema migrations (and load the reference data into a new database) on open.
  bool migrate = true;
  // Region whose reference data a new database receives from the demo database.
  std::string region = "NORTH";
};

// The inventory of form ranges, the reference data that governs it (form types with their
// number bounds, status codes, troops and districts, officers with their duty stations) and
// the audit history of every applied change.
//
// Rules the store keeps whatever the caller sends, in both backends:
//   - no two ranges of one form type share a form number; To is never below From;
//   - From and To lie within the form type's bounds; the form type is known;
//   - the Troop/District is a known troop with an empty district, or a known pair;
//   - the status is "A" or a delisting reason; the registry number is 0 (no officer) or a
//     known officer's;
//   - ranges of the quarterly form type carry a quarter 1-4 and a year of at least 1950;
//     other ranges carry neither (a quarter or year sent for them is dropped).
//
// Conservation: per form type, the numbers held after a save are those held before plus
// the numbers of the receipts ("ADD" rows whose numbers no range held before the save). A
// save may split, assign, void or move forms but never leave one in no range; only
// Withdraw takes numbers out. An "ADD" is either a receipt (no number held before) or a
// piece of a range the same save replaces (all its numbers from that one range); an "UPD"
// stays within the range it replaces; a save replaces each range at most once.
//
// Versions: every range carries a version, 1 when it is created and increased by every
// change. An "UPD" must carry the version of the range it replaces as the client read it;
// when the range changed since, the save is refused (StoreError::Stale) naming who changed
// it and when.
//
// Remaining-forms counts: a new range counts all its forms as remaining. The forms of a
// stored range are taken as used from its lowest number up, so a range [F, T] with R
// remaining has used F .. T-R. A row that replaces the range ("UPD") and the further rows
// of the same request whose span lies in the replaced span ("ADD" pieces of a split) count
// as remaining only the numbers not in that used part. Numbers outside every replaced span
// count as remaining.
//
// Uses: at most one use of a number stands (a correction supersedes it, both kept). A range
// any of whose numbers has a standing use counts as remaining its size less those numbers,
// whenever uses are recorded or corrected and whenever a save or a withdrawal writes it (a
// piece of a range whose count followed its uses counts its own, none included); a use does
// not change a range's version. A range none of whose numbers was ever used keeps the count
// people recorded, by the rule above, since that was all anyone knew (docs/usage.md).
//
// Thread safety: every member may be called from any thread at the same time; each call
// uses its own pooled connection. Errors: every member throws StoreError (never another
// exception type) and leaves the inventory unchanged when it does.
class Store {
 public:
  virtual ~Store() = default;

  // "sqlite" or "postgresql".
  virtual std::string BackendName() const = 0;
  // Number of the newest schema migration applied.
  virtual int SchemaVersion() = 0;

  // The ranges matching the query, ordered by form type then From. With query.limit > 0
  // at most that many.
  virtual std::vector<StoredRange> FindRanges(const RangeQuery& query) = 0;
  // The ranges of FindRanges, in its order, handed one at a time to `each` with their index
  // as the database's cursor gives them, in one object reused from range to range: the
  // result is never held whole. `each` answers false to stop. A read the store runs again
  // (a busy database) starts over: `each` then sees index 0 again. This default goes
  // through FindRanges.
  using RangeVisitor = std::function<bool(const StoredRange& range, std::size_t index)>;
  virtual void ForEachRange(const RangeQuery& query, const RangeVisitor& each);

  // Runs `reads` (calls of this store's read members, on this thread) as one read of the
  // database where the backend can: one connection and one snapshot for all of them, so that
  // an answer assembled from several reads shows one moment of the inventory. Every answer
  // that reads more than once goes through it (RequestHandler does); a call inside another
  // joins the outer one. A read the store runs again runs `reads` again whole, so it must
  // start over (as ForEachRange's index 0 says). Each read member on its own already reads
  // one snapshot. This default just calls it.
  virtual void ReadTogether(const std::function<void()>& reads);

  // The officers of the query, ordered by registry number, then duty start, troop and
  // district (one row per current duty assignment).
  virtual std::vector<Officer> FindOfficers(const OfficerQuery& query) = 0;

  // Applies the rows in order in one transaction: "ADD" inserts a range; "UPD" replaces the
  // stored range of the same form type whose From equals the row's From. All rows or none:
  // any broken rule throws StoreError::Rejected naming the row (1-based) and the rule, and
  // a version that no longer matches throws StoreError::Stale. A request id applied before
  // is not applied again: the answer then says alreadyApplied (the same id with different
  // rows is rejected). Each applied row goes into the audit history with the context, the
  // time and what it was (custody::kReceive, kPiece or kChange).
  virtual SaveOutcome ApplyChanges(const SaveContext& context,
                                   const std::vector<RangeChange>& changes) = 0;

  // Takes the forms `from`..`to` of the form type out of the inventory: the only way a number
  // leaves it. Every number of the span must be held by a stored range (the span may cross
  // several); the ranges are cut, the pieces outside the span stay with new versions, and
  // each cut range gets a custody::kWithdraw entry in the audit history with the reason.
  // The reason is required (trimmed, at most kMaxWithdrawReasonLength characters). Throws
  // StoreError::Rejected (nothing changed) for an unknown form type, a span not wholly held,
  // or a missing or overlong reason.
  virtual WithdrawOutcome Withdraw(const SaveContext& context, const std::string& formType,
                                   std::int64_t from, std::int64_t to,
                                   const std::string& reason) = 0;

  // The chain of custody of one form: every applied row whose resulting range holds the
  // number, oldest first. Found by walking from the entry that wrote the range holding the
  // number now (or from its latest withdrawal) up the entries each replaced, and from a
  // receipt to the withdrawal of the same number before it: a few index probes whatever
  // the size of the history. Each entry says who held the form (Troop/District, registry
  // number), in which status, and since when; a withdrawn form's last entry is its
  // withdrawal, with who, when and why.
  virtual std::vector<CustodyEntry> FormHistory(const std::string& formType,
                                                std::int64_t formNumber) = 0;
  // The chains of custody of several forms of one type, each as FormHistory tells it, in the
  // order of `formNumbers` (a number given twice gets its chain twice): one read for all,
  // where a reconciliation judges thousands of uses.
  virtual std::vector<std::vector<CustodyEntry>> FormHistories(
      const std::string& formType, const std::vector<std::int64_t>& formNumbers) = 0;
  // The entries that gave one of the officers a range, written before `end` and replaced
  // since (at any time): what they held for a while, where the inventory shows only what
  // they hold now. Of one form type, or of every one for an empty `formType`, in no particular
  // order, with what ScopeHistory reads of an entry. Each is an entry of the chain of custody
  // (FormHistory) of every number it holds, so a use by its officer of one of them, dated
  // while it stood, needs no chain read.
  virtual std::vector<CustodyEntry> FormerHoldings(const std::vector<std::int64_t>& registries,
                                                   const std::string& formType,
                                                   const std::string& end) = 0;

  // What a custody report of `query.scope` over [start, end) reads:
  //   - held: the ranges the scope holds now, with the time each was last changed (the
  //     latest states of the history, read from the inventory, which is smaller);
  //   - entries, ordered by id: every entry of the form type(s) whose range the scope held
  //     and that ended at or after `start` (what the scope held at `start`, or held for a
  //     while in the period), every entry of the scope written in the period (withdrawals
  //     included), and every entry written in the period that replaced a range the scope
  //     held and went elsewhere.
  // An entry carries what a report reads: id, parentId, endedAt, at, event, and the before
  // and after ranges' bounds, holders and statuses (and the after's remaining count); the
  // request, the user, comments, quarters and reasons are left empty. The holdings at any
  // instant of the period follow (server/custody/Accountability.h).
  virtual HoldingsHistory ScopeHistory(const ScopeHistoryQuery& query) = 0;

  // Reference data, ordered by code.
  virtual std::vector<FormTypeInfo> FormTypes() = 0;
  // All reference data (form types, statuses, stations, officers), read when the store
  // was opened. Valid as long as the store.
  virtual const ReferenceData& Reference() const = 0;

  virtual std::size_t RangeCount() = 0;

  // Checks, from one snapshot, that the inventory accounts for every form number
  // (server/store/InventoryCheck.h). Reads the whole inventory and its whole history.
  virtual InventoryCheck CheckInventory() = 0;
  // Checks, from one snapshot, the record chain over the history, the uses and the counts
  // (server/store/RecordChain.h): reads every link and every linked record.
  virtual ChainCheck CheckRecordChain(const ChainCheckOptions& options) = 0;
  // The chain's last link now: what a checkpoint signs, what a report was computed at.
  virtual ChainHead RecordChainHead() = 0;

  // Records the uses of a batch (docs/usage.md), all or none, in one transaction after
  // every line was checked: with any bad line (CheckUse, or a number whose range lies outside
  // context.scope: a clerk records uses of the numbers its stations hold, or held when they
  // were withdrawn) nothing is stored and the outcome lists the bad lines (the first
  // batch.rules.limits.listedLines of them, all counted). A file whose hash was imported
  // before changes nothing (sameFileAgain, with when and by whom). A line equal to the
  // standing use of its number (form type, number, disposition, day, officer and reference)
  // is already recorded; one that contradicts it, or an earlier line of the same batch, is a
  // conflict, kept apart (ForEachUseConflict) and never overwriting it. The remaining counts
  // of the ranges holding the new uses follow them. A batch with batch.preview answers the
  // same and stores nothing. Throws StoreError::Rejected for a source text missing or bad,
  // what batch.lines throws, and StoreError as every member.
  virtual protocol::UsageOutcome RecordUses(const SaveContext& context, const UseBatch& batch) = 0;

  // An administrator's correction: `use` (checked as every use, of the same form type and
  // number) becomes the standing use in place of the standing use `supersededId`, which is
  // kept, superseded. The reason is required (TextProblem's rules). Answers the new record.
  // Throws StoreError::Rejected (nothing changed) for a use that is not standing or not
  // known, a use of another number, a bad field or reason.
  virtual protocol::FormUse CorrectUse(const SaveContext& context, std::int64_t supersededId,
                                       const protocol::ReportedUse& use, const std::string& reason,
                                       const UseRules& rules) = 0;

  // The use records of the query, ordered by form type, number and id (a number's oldest
  // record first), one at a time as the cursor gives them, in one object reused from record to
  // record, as ForEachRange hands ranges (index 0 again when the read is run again). One
  // statement: inside ReadTogether it reads that snapshot.
  using UseVisitor = std::function<bool(const protocol::FormUse& use, std::size_t index)>;
  virtual void ForEachUse(const UseQuery& query, const UseVisitor& each) = 0;
  // As ForEachUse, read as `reading` says (in brief, of many officers, some numbers left out,
  // in no order).
  virtual void ForEachUseWith(const UseQuery& query, const UseReading& reading,
                              const UseVisitor& each) = 0;
  // The conflicts kept of the query's numbers (registry: the officer reported), in the same
  // order and manner. standingOnly is not asked.
  using UseConflictVisitor = std::function<bool(const UseConflict& conflict, std::size_t index)>;
  virtual void ForEachUseConflict(const UseQuery& query, const UseConflictVisitor& each) = 0;
  // Through ForEachUse: the records of [from, to] of the form type (standing ones only, or
  // all), and every record of one number, oldest first (a form's history shows them).
  std::vector<protocol::FormUse> UsesIn(const std::string& formType, std::int64_t from,
                                        std::int64_t to, bool standingOnly = true);
  std::vector<protocol::FormUse> UsesOf(const std::string& formType, std::int64_t number);

  // Minimum stock (docs/stock.md). Every write that can change a station's unassigned forms
  // of a type (saves, withdrawals, loads, uses, a minimum set) compares them with the
  // station's minimum in its own transaction: falling below raises one alert (logged at warn
  // once committed), coming back to the minimum or above clears it, so a station below its
  // minimum has exactly one open alert whatever number of saves follow.
  //
  // Sets the minimum of minimum.troop/district (district empty: the troop's own stock) and
  // form type, replacing the one before; 0 removes it (and clears its alert). Answers what is
  // kept, with who set it and when. Throws StoreError::Rejected for an unknown station or form
  // type or a negative minimum, StoreError::Forbidden for a station outside context.scope.
  virtual StockMinimum SetStockMinimum(const SaveContext& context, const StockMinimum& minimum) = 0;
  // Every minimum kept, by station and form type.
  virtual std::vector<StockMinimum> StockMinimums() = 0;
  // The alerts, newest first; openOnly: those not cleared yet.
  virtual std::vector<StockAlert> StockAlerts(bool openOnly) = 0;
  // Per station and form type of the query that holds forms in stock, keeps a minimum or
  // handed out or used forms in its weeks: what it holds now and what went out each week (in
  // one snapshot), by station and form type. The unassigned count is the one the alerts
  // compare. Throws StoreError::Rejected for a first day that is not a date or weeks not
  // between 1 and kMaxStockWeeks.
  virtual std::vector<StockHolding> StockOnHand(const StockQuery& query) = 0;

  // Hand receipts (docs/receipts.md). A save that gives forms to an officer (a range written
  // with an officer other than the one that held it before, or than none) issues, in its own
  // transaction, one receipt per officer and Troop/District, a line per range given; a save
  // answered alreadyApplied issues none.
  //
  // The receipt `number`; none when there is no such receipt. Throws StoreError::Forbidden
  // for a receipt of a station outside `scope`.
  virtual std::optional<protocol::HandReceipt> Receipt(const StationScope& scope,
                                                       std::int64_t number) = 0;
  // Counts a print of the receipt and answers it with the prints counted before (a print after
  // the first is a copy). Throws StoreError::Rejected for no such receipt, and Forbidden as
  // Receipt.
  virtual protocol::HandReceipt PrintReceipt(const SaveContext& context, std::int64_t number) = 0;

  // Allotment limits (docs/allotment.md). Every save that gives forms to an officer (as the
  // hand receipts count it) compares, in its own transaction and after its rows are written,
  // what the officer then holds unused of the form type: at the station, with the station's
  // cap of the type; anywhere, less what the save gave him, with the station's reissue rule.
  // A save over either throws StoreError::OverLimit with the figures, unless it carries an
  // override reason (an administrator's, for a cap); the override is then kept with the
  // figures it lifted under the save's request id, and the form history shows it.
  //
  // Sets the cap of cap.troop/district and form type, replacing the one before; 0 removes it.
  // Answers what is kept, with who set it and when. Throws StoreError::Rejected for an unknown
  // station or form type or a negative cap, StoreError::Forbidden outside context.scope.
  virtual AllotmentCap SetAllotmentCap(const SaveContext& context, const AllotmentCap& cap) = 0;
  // Every cap kept, by station and form type.
  virtual std::vector<AllotmentCap> AllotmentCaps() = 0;
  // Turns the reissue rule of rule.troop/district on or off; answers it as kept. Throws as
  // SetAllotmentCap.
  virtual ReissueRule SetReissueRule(const SaveContext& context, const ReissueRule& rule) = 0;
  // The stations whose rule is on, by station.
  virtual std::vector<ReissueRule> ReissueRules() = 0;

  // Physical counts (docs/counts.md), numbered by the store (1, 2, 3 ... never reused).
  //
  // Opens a count of the station (district empty: the troop's own stock) and form types,
  // fixing its book in the same transaction, under the form types' locks: per range the
  // station holds of a type in a status that keeps it in stock, its numbers without a
  // standing use, less the lowest ones its remaining count takes as used. Throws
  // StoreError::Rejected for an unknown station or form type, none or one twice, and
  // Forbidden for a station outside context.scope. A request id that opened a count before
  // answers that count.
  virtual PhysicalCount OpenCount(const SaveContext& context, const std::string& troop,
                                  const std::string& district,
                                  const std::vector<std::string>& formTypes) = 0;
  // Adds counted numbers (merged with those counted before; a number counted twice is
  // counted). A request id applied before adds nothing. Throws StoreError::Rejected for no
  // such count, a certified one, a span of a form type the count does not count or outside
  // the type's bounds, and Forbidden outside context.scope.
  virtual PhysicalCount AddCounted(const SaveContext& context, std::int64_t number,
                                   const std::vector<CountSpan>& spans) = 0;
  // Certifies the count with the statement (trimmed, 1 to kMaxCountStatementLength
  // characters) under context's user: from then on it never changes. Throws as AddCounted
  // (certified already included).
  virtual PhysicalCount CertifyCount(const SaveContext& context, std::int64_t number,
                                     const std::string& statement) = 0;
  // Settles part or all of a missing span of a certified count (asked: form type, from, to,
  // kind, note; at most kMaxCountNoteLength characters). Lost: the numbers, which the count's
  // station must still hold in stock, are delisted "Lost" by a save under context's request
  // id, citing the count in their comment, so their history records it; found later: only the
  // settlement is kept. Both in one transaction. Throws StoreError::Rejected for a count not
  // certified, numbers not missing or settled before, and Forbidden outside context.scope.
  virtual CountSettlement SettleCount(const SaveContext& context, std::int64_t number,
                                      const CountSettlement& asked) = 0;
  // The count whole; none when there is no such count.
  virtual std::optional<PhysicalCount> Count(std::int64_t number) = 0;
  // Its result (server/store/CountComparison.h), the reasons of the unexpected numbers read
  // from the inventory and its uses now, in one snapshot.
  virtual CountResult CountResultOf(const PhysicalCount& count) = 0;
  // Every count, newest first.
  virtual std::vector<CountSummary> Counts() = 0;
  // The certified counts whose book or counted numbers hold the number, oldest first, with
  // what each found of it.
  virtual std::vector<CountOfForm> CountsOf(const std::string& formType, std::int64_t number) = 0;
  // Per station with a certified count, its latest, by station.
  virtual std::vector<StationCount> LastCounts() = 0;

  // Bulk load of an initial inventory (demo data, benchmark inventories) into an inventory
  // that holds no range yet. Ranges are checked against the same rules (their remaining
  // counts are taken as given, between 0 and the size). With `recordCustody`, each range
  // gets a "LOAD" entry in the audit history under the context. Throws StoreError::Rejected
  // when the inventory is not empty or a range breaks a rule.
  virtual void LoadInventory(const std::vector<FormRange>& ranges, const SaveContext& context,
                             bool recordCustody) = 0;
};

// Opens a store by address: "sqlite:PATH" (the file is created when missing), or a
// PostgreSQL connection URL ("postgresql://..." or "postgres://..."). Runs the migrations
// when options.migrate is set. Throws StoreError::Unavailable when the database cannot be
// opened, StoreError::Rejected for an address of no known form.
std::shared_ptr<Store> OpenStore(const std::string& address, const StoreOptions& options = {});

}  // namespace fm::server
