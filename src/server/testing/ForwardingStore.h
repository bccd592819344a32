#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "server/store/Store.h"

namespace fm::server::testing {

// A store that passes every call to another one, for tests and benchmarks that change how
// one or two calls behave and override just those. ForEachRange and ReadTogether are left
// to Store's own defaults, which go through FindRanges: a search then passes wherever
// FindRanges is overridden, and reads of one search are not held in one snapshot.
class ForwardingStore : public Store {
 public:
  explicit ForwardingStore(std::shared_ptr<Store> inner) : mInner(std::move(inner)) {}

  std::string BackendName() const override { return mInner->BackendName(); }
  int SchemaVersion() override { return mInner->SchemaVersion(); }
  InventoryCheck CheckInventory() override { return mInner->CheckInventory(); }
  ChainCheck CheckRecordChain(const ChainCheckOptions& options) override {
    return mInner->CheckRecordChain(options);
  }
  ChainHead RecordChainHead() override { return mInner->RecordChainHead(); }
  std::vector<StoredRange> FindRanges(const RangeQuery& query) override {
    return mInner->FindRanges(query);
  }
  std::vector<Officer> FindOfficers(const OfficerQuery& query) override {
    return mInner->FindOfficers(query);
  }
  SaveOutcome ApplyChanges(const SaveContext& context,
                           const std::vector<RangeChange>& changes) override {
    return mInner->ApplyChanges(context, changes);
  }
  WithdrawOutcome Withdraw(const SaveContext& context, const std::string& formType,
                           std::int64_t from, std::int64_t to, const std::string& reason) override {
    return mInner->Withdraw(context, formType, from, to, reason);
  }
  std::vector<CustodyEntry> FormHistory(const std::string& formType,
                                        std::int64_t formNumber) override {
    return mInner->FormHistory(formType, formNumber);
  }
  std::vector<std::vector<CustodyEntry>> FormHistories(
      const std::string& formType, const std::vector<std::int64_t>& formNumbers) override {
    return mInner->FormHistories(formType, formNumbers);
  }
  std::vector<CustodyEntry> FormerHoldings(const std::vector<std::int64_t>& registries,
                                           const std::string& formType,
                                           const std::string& end) override {
    return mInner->FormerHoldings(registries, formType, end);
  }
  HoldingsHistory ScopeHistory(const ScopeHistoryQuery& query) override {
    return mInner->ScopeHistory(query);
  }
  std::vector<FormTypeInfo> FormTypes() override { return mInner->FormTypes(); }
  const ReferenceData& Reference() const override { return mInner->Reference(); }
  std::size_t RangeCount() override { return mInner->RangeCount(); }
  protocol::UsageOutcome RecordUses(const SaveContext& context, const UseBatch& batch) override {
    return mInner->RecordUses(context, batch);
  }
  protocol::FormUse CorrectUse(const SaveContext& context, std::int64_t supersededId,
                               const protocol::ReportedUse& use, const std::string& reason,
                               const UseRules& rules) override {
    return mInner->CorrectUse(context, supersededId, use, reason, rules);
  }
  void ForEachUse(const UseQuery& query, const UseVisitor& each) override {
    mInner->ForEachUse(query, each);
  }
  void ForEachUseWith(const UseQuery& query, const UseReading& reading,
                      const UseVisitor& each) override {
    mInner->ForEachUseWith(query, reading, each);
  }
  void ForEachUseConflict(const UseQuery& query, const UseConflictVisitor& each) override {
    mInner->ForEachUseConflict(query, each);
  }
  StockMinimum SetStockMinimum(const SaveContext& context, const StockMinimum& minimum) override {
    return mInner->SetStockMinimum(context, minimum);
  }
  std::vector<StockMinimum> StockMinimums() override { return mInner->StockMinimums(); }
  PhysicalCount OpenCount(const SaveContext& context, const std::string& troop,
                          const std::string& district,
                          const std::vector<std::string>& formTypes) override {
    return mInner->OpenCount(context, troop, district, formTypes);
  }
  PhysicalCount AddCounted(const SaveContext& context, std::int64_t number,
                           const std::vector<CountSpan>& spans) override {
    return mInner->AddCounted(context, number, spans);
  }
  PhysicalCount CertifyCount(const SaveContext& context, std::int64_t number,
                             const std::string& statement) override {
    return mInner->CertifyCount(context, number, statement);
  }
  CountSettlement SettleCount(const SaveContext& context, std::int64_t number,
                              const CountSettlement& asked) override {
    return mInner->SettleCount(context, number, asked);
  }
  std::optional<PhysicalCount> Count(std::int64_t number) override { return mInner->Count(number); }
  CountResult CountResultOf(const PhysicalCount& count) override {
    return mInner->CountResultOf(count);
  }
  std::vector<CountSummary> Counts() override { return mInner->Counts(); }
  std::vector<CountOfForm> CountsOf(const std::string& formType, std::int64_t number) override {
    return mInner->CountsOf(formType, number);
  }
  std::vector<StationCount> LastCounts() override { return mInner->LastCounts(); }
  AllotmentCap SetAllotmentCap(const SaveContext& context, const AllotmentCap& cap) override {
    return mInner->SetAllotmentCap(context, cap);
  }
  std::vector<AllotmentCap> AllotmentCaps() override { return mInner->AllotmentCaps(); }
  ReissueRule SetReissueRule(const SaveContext& context, const ReissueRule& rule) override {
    return mInner->SetReissueRule(context, rule);
  }
  std::vector<ReissueRule> ReissueRules() override { return mInner->ReissueRules(); }
  std::vector<StockAlert> StockAlerts(bool openOnly) override {
    return mInner->StockAlerts(openOnly);
  }
  std::optional<protocol::HandReceipt> Receipt(const StationScope& scope,
                                               std::int64_t number) override {
    return mInner->Receipt(scope, number);
  }
  protocol::HandReceipt PrintReceipt(const SaveContext& context, std::int64_t number) override {
    return mInner->PrintReceipt(context, number);
  }
  std::vector<StockHolding> StockOnHand(const StockQuery& query) override {
    return mInner->StockOnHand(query);
  }
  void LoadInventory(const std::vector<FormRange>& ranges, const SaveContext& context,
                     bool recordCustody) override {
    mInner->LoadInventory(ranges, context, recordCustody);
  }

 protected:
  Store& Inner() { return *mInner; }

 private:
  std::shared_ptr<Store> mInner;
};

}  // namespace fm::server::testing
