#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/store/ConnectionPool.h"
#include "server/store/Store.h"

namespace fm::server {

class ReferenceData;

// The store over an SQL database, one implementation for both backends: the statements
// are written in the SQL that SQLite and PostgreSQL share, the rules come from
// ChangeRules, and a backend only supplies its connections and its schema script. So the
// two cannot drift apart in what they accept.
//
// Writes run in one transaction each (SqlConnection::BeginWrite), after the locks of the form
// types they change, and are retried up to options.maxRetries times when the database
// reports a serialization failure, deadlock, a constraint raced by a concurrent save, or a
// broken connection (each retry logged at warn with the request id); the request id makes a
// retried save that had in fact committed answer alreadyApplied. Every member that reads
// more than one statement reads them from one snapshot (Read).
class SqlStore : public Store {
 public:
  struct Backend {
    std::string name;                 // "sqlite", "postgresql"
    ConnectionPool::Factory connect;  // opens one connection
    std::string inventorySchema;      // migration 1: the tables
    std::string versionsSchema;       // migration 3: range versions and custody events
    std::string claimedUserSchema;    // migration 4: the user id a client claimed
    std::string historySchema;        // migration 5: the history indexed as the ranges are
    std::string usageSchema;          // migration 6: the uses of form numbers
    std::string stockSchema;          // migration 7: minimum stock and its alerts
    std::string receiptSchema;        // migration 8: hand receipts
    std::string allotmentSchema;      // migration 9: allotment caps, reissue rules, overrides
    std::string stockIndexSchema;     // migration 10: the stock report's covering index
    std::string countSchema;          // migration 11: physical counts
    std::string chainSchema;          // migration 12: the record chain
  };

  // Connects, migrates (when options.migrate) and reads the reference data. Throws
  // StoreError.
  SqlStore(Backend backend, StoreOptions options);
  ~SqlStore() override;

  std::string BackendName() const override;
  int SchemaVersion() override;
  std::vector<StoredRange> FindRanges(const RangeQuery& query) override;
  void ForEachRange(const RangeQuery& query, const RangeVisitor& each) override;
  std::vector<Officer> FindOfficers(const OfficerQuery& query) override;
  // One connection in a read transaction (Transaction::Read) for all of `reads`; the store's
  // own reads inside it join it.
  void ReadTogether(const std::function<void()>& reads) override;
  SaveOutcome ApplyChanges(const SaveContext& context,
                           const std::vector<RangeChange>& changes) override;
  std::vector<CustodyEntry> FormHistory(const std::string& formType,
                                        std::int64_t formNumber) override;
  std::vector<std::vector<CustodyEntry>> FormHistories(
      const std::string& formType, const std::vector<std::int64_t>& formNumbers) override;
  std::vector<CustodyEntry> FormerHoldings(const std::vector<std::int64_t>& registries,
                                           const std::string& formType,
                                           const std::string& end) override;
  HoldingsHistory ScopeHistory(const ScopeHistoryQuery& query) override;
  std::vector<FormTypeInfo> FormTypes() override;
  const ReferenceData& Reference() const override;
  std::size_t RangeCount() override;
  InventoryCheck CheckInventory() override;
  ChainCheck CheckRecordChain(const ChainCheckOptions& options) override;
  ChainHead RecordChainHead() override;
  void LoadInventory(const std::vector<FormRange>& ranges, const SaveContext& context,
                     bool recordCustody) override;
  WithdrawOutcome Withdraw(const SaveContext& context, const std::string& formType,
                           std::int64_t from, std::int64_t to, const std::string& reason) override;
  // UseStore.cpp:
  protocol::UsageOutcome RecordUses(const SaveContext& context, const UseBatch& batch) override;
  protocol::FormUse CorrectUse(const SaveContext& context, std::int64_t supersededId,
                               const protocol::ReportedUse& use, const std::string& reason,
                               const UseRules& rules) override;
  void ForEachUse(const UseQuery& query, const UseVisitor& each) override;
  void ForEachUseWith(const UseQuery& query, const UseReading& reading,
                      const UseVisitor& each) override;
  void ForEachUseConflict(const UseQuery& query, const UseConflictVisitor& each) override;
  // StockStore.cpp:
  StockMinimum SetStockMinimum(const SaveContext& context, const StockMinimum& minimum) override;
  std::vector<StockMinimum> StockMinimums() override;
  std::vector<StockAlert> StockAlerts(bool openOnly) override;
  // ReceiptStore.cpp:
  std::optional<protocol::HandReceipt> Receipt(const StationScope& scope,
                                               std::int64_t number) override;
  protocol::HandReceipt PrintReceipt(const SaveContext& context, std::int64_t number) override;
  std::vector<StockHolding> StockOnHand(const StockQuery& query) override;
  // AllotmentStore.cpp:
  AllotmentCap SetAllotmentCap(const SaveContext& context, const AllotmentCap& cap) override;
  std::vector<AllotmentCap> AllotmentCaps() override;
  ReissueRule SetReissueRule(const SaveContext& context, const ReissueRule& rule) override;
  std::vector<ReissueRule> ReissueRules() override;
  // CountStore.cpp:
  PhysicalCount OpenCount(const SaveContext& context, const std::string& troop,
                          const std::string& district,
                          const std::vector<std::string>& formTypes) override;
  PhysicalCount AddCounted(const SaveContext& context, std::int64_t number,
                           const std::vector<CountSpan>& spans) override;
  PhysicalCount CertifyCount(const SaveContext& context, std::int64_t number,
                             const std::string& statement) override;
  CountSettlement SettleCount(const SaveContext& context, std::int64_t number,
                              const CountSettlement& asked) override;
  std::optional<PhysicalCount> Count(std::int64_t number) override;
  CountResult CountResultOf(const PhysicalCount& count) override;
  std::vector<CountSummary> Counts() override;
  std::vector<CountOfForm> CountsOf(const std::string& formType, std::int64_t number) override;
  std::vector<StationCount> LastCounts() override;

  // For the benchmark that weighs what the custody checks of a save cost (the version
  // comparison, the "UPD" containment and the conservation sweep): saves of this store skip
  // them from now on. Nothing in the programs calls it, and no option or setting reaches it;
  // a store opened by OpenStore always checks.
  void SkipCustodyChecksForBenchmark() { mCustodyChecks = false; }
  // For the benchmark of what the record chain costs a save: writes link nothing and take
  // no chain lock. Never in a server: verify then finds every record written inserted.
  void SkipRecordChainForBenchmark() { mRecordChain = false; }

 private:
  // What a write is, known before its transaction: the request it carries out (named in the
  // log when the write has to be run again) and the form types whose ranges it changes, whose
  // locks it takes first (SqlConnection::BeginWrite).
  struct WriteScope {
    std::string requestId;
    std::vector<std::string> formTypes;
  };
  template <typename Body>
  auto Write(const WriteScope& scope, Body&& body);
  // Write for a body in another file (UseStore.cpp); its results go out through its captures.
  void WriteWith(const WriteScope& scope, const std::function<void(SqlConnection&)>& body);
  // Reads of the store go through these two, so that no answer can mix two moments:
  //   - Read: `body` may run any number of statements, all in one read transaction (one
  //     snapshot; writers are not held up), or in the read this thread is in already
  //     (ReadTogether), whose snapshot it shares;
  //   - ReadEach / ReadRows: one statement, which sees one snapshot by itself, so it needs no
  //     transaction (or runs in the one this thread is in). `each` gets the row's index, 0
  //     again when the statement is run again.
  // Both are run again, whole, after a failure worth retrying.
  template <typename Body>
  auto Read(Body&& body);
  void ReadEach(std::string_view sql, const std::vector<SqlValue>& params,
                const std::function<bool(const SqlRow& row, std::size_t index)>& each);
  std::vector<SqlRow> ReadRows(std::string_view sql, const std::vector<SqlValue>& params);
  // `body` on a pooled connection, retried with a fresh one after a failure worth retrying.
  template <typename Body>
  auto OnConnection(Body&& body);
  // Inside every write, before it commits: raises or clears the stock alerts of the minimums
  // of scope.formTypes. Answers the log lines of the alerts raised, for after the commit.
  std::vector<std::string> CompareWithMinimums(SqlConnection& c, const WriteScope& scope);
  // ApplyChanges inside a write already begun, under the locks of the rows' form types: a
  // settlement of a count saves its delisting and records itself in one transaction.
  SaveOutcome ApplyOn(SqlConnection& c, const SaveContext& context,
                      const std::vector<RangeChange>& changes);
  void Migrate();
  std::string Now() const;

  const Backend mBackend;
  const StoreOptions mOptions;
  ConnectionPool mPool;
  std::unique_ptr<const ReferenceData> mReference;  // constant after construction
  bool mCustodyChecks = true;                       // set before the store is shared
  bool mRecordChain = true;                         // set before the store is shared
  // The record chain's head as this process last committed it (RecordChain.h, AppendLinks).
  std::mutex mChainMutex;
  std::optional<ChainHead> mChainHead;
  // Whether the last write found mChainHead still the store's head: no other server is
  // linking, and a save's links can go with its commit (DeferLinks). Another server's links
  // make that fail and the write run again, so after one such failure saves link on their
  // own until the head is found unmoved again.
  bool mChainAlone = true;
  mutable std::mutex mClockMutex;
  mutable std::string mLastStamp;  // the latest audit stamp handed out (Now)
};

}  // namespace fm::server
