#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>

#include "server/Store.h"

namespace fm::server::testing {

// A store that passes every call to a real one, except that range searches can be held
// at a gate: tests use it to keep a request in flight for as long as they need.
class GateStore : public Store {
 public:
  explicit GateStore(std::shared_ptr<Store> inner) : mInner(std::move(inner)) {}

  // From now on FindRanges waits at the gate until Open.
  void Close() {
    std::lock_guard lock(mMutex);
    mClosed = true;
  }
  void Open() {
    std::lock_guard lock(mMutex);
    mClosed = false;
    mChanged.notify_all();
  }
  // Blocks until a search waits at the closed gate.
  void WaitUntilHeld() {
    std::unique_lock lock(mMutex);
    mChanged.wait(lock, [this] { return mHeld > 0; });
  }

  std::string BackendName() const override { return mInner->BackendName(); }
  int SchemaVersion() override { return mInner->SchemaVersion(); }
  std::vector<StoredRange> FindRanges(const RangeQuery& query) override {
    {
      std::unique_lock lock(mMutex);
      if (mClosed) {
        ++mHeld;
        mChanged.notify_all();
        mChanged.wait(lock, [this] { return !mClosed; });
        --mHeld;
      }
    }
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
  HoldingsHistory ScopeHistory(const ScopeHistoryQuery& query) override {
    return mInner->ScopeHistory(query);
  }
  std::vector<FormTypeInfo> FormTypes() override { return mInner->FormTypes(); }
  const ReferenceData& Reference() const override { return mInner->Reference(); }
  std::size_t RangeCount() override { return mInner->RangeCount(); }
  void LoadInventory(const std::vector<FormRange>& ranges, const SaveContext& context,
                     bool recordCustody) override {
    mInner->LoadInventory(ranges, context, recordCustody);
  }

 private:
  std::shared_ptr<Store> mInner;
  std::mutex mMutex;
  std::condition_variable mChanged;
  bool mClosed = false;
  int mHeld = 0;
};

}  // namespace fm::server::testing
