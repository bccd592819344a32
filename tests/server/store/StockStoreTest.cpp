// Minimum stock and its alerts on both backends: one alert per crossing whatever saves,
// receipts and uses follow, and the minimum refused when it cannot be kept.
#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "RandomSaves.h"
#include "StoreBackends.h"
#include "server/store/StoreError.h"
#include "server/store/UseTypes.h"

namespace fm::server::testing {
namespace {

using ::testing::HasSubstr;

SaveContext Clerk(std::string id, const char* stations = "A1") {
  SaveContext c{std::move(id), "test", 1001, "Margaret Hartley"};
  c.scope = StationScope::Parse(stations);
  return c;
}

template <typename Backend>
class StockSuite : public StoreFixture<Backend> {
 protected:
  void SetUp() override {
    StoreFixture<Backend>::SetUp();
    if (this->IsSkipped() || this->HasFatalFailure()) return;
    S().LoadInventory({Stock("C", 1100001, 1100120), Stock("C", 1100121, 1100300, 1002),
                       Stock("C", 1200001, 1200500, 0, "A", "B", "2")},
                      Clerk("load", "*"), true);
  }
  Store& S() { return *this->mStore; }
  StoredRange Held(std::int64_t from) {
    RangeQuery q;
    q.formNumber = from;
    return S().FindRanges(q).at(0);
  }
  // The forms from..to of the stored range holding `from` go to officer 1002.
  void Assign(std::int64_t from, std::int64_t to, const std::string& id) {
    const StoredRange s = Held(from);
    RangeChange entered = Rewrite(s);
    entered.registry = 1002;
    S().ApplyChanges(Clerk(id, "*"), ScreenSplit(s, from, to, entered));
  }
  void Receive(std::int64_t from, std::int64_t to, const std::string& id) {
    StoredRange received;
    received.range = Stock("C", from, to);
    RangeChange add = Rewrite(received);
    add.action = RangeChange::Action::Add;
    add.rowVersion.reset();
    S().ApplyChanges(Clerk(id), {add});
  }
  // "open 120/150" or "cleared 120/150 at 210" for each alert, oldest first.
  std::vector<std::string> Alerts() {
    std::vector<std::string> out;
    for (const auto& a : S().StockAlerts(false)) {
      out.insert(out.begin(), a.clearedAt ? fmt::format("cleared {}/{} at {}", a.onHand, a.minimum,
                                                        *a.clearedOnHand)
                                          : fmt::format("open {}/{}", a.onHand, a.minimum));
    }
    return out;
  }
};

TYPED_TEST_SUITE(StockSuite, StoreBackends, BackendNames);

TYPED_TEST(StockSuite, OneAlertPerCrossingWhateverSavesFollow) {
  const StockMinimum set = this->S().SetStockMinimum(Clerk("min"), {"A", "1", "C", 150});
  EXPECT_EQ(set.setBy, "Margaret Hartley");
  EXPECT_EQ(this->S().StockMinimums(), std::vector<StockMinimum>{set});
  EXPECT_THAT(this->Alerts(), ::testing::ElementsAre("open 120/150"));

  this->Assign(1100001, 1100010, "a1");  // 110 left: still the one alert
  this->Assign(1100011, 1100020, "a2");
  EXPECT_THAT(this->Alerts(), ::testing::ElementsAre("open 120/150"));

  this->Receive(1100301, 1100400, "r1");  // 200: back above
  EXPECT_THAT(this->Alerts(), ::testing::ElementsAre("cleared 120/150 at 200"));
  this->Receive(1100401, 1100410, "r2");
  EXPECT_EQ(this->S().StockAlerts(true).size(), 0u);

  // Uses of unassigned forms take them off the shelf too: 210 - 61 = 149.
  UseBatch batch;
  batch.sourceText = "desk";
  batch.rules.today = "2099-12-31";
  batch.lines = [](const std::function<void(const UseLine&)>& each) {
    for (std::int64_t n = 1100301; n <= 1100361; ++n) {
      each({n - 1100300, {"C", std::to_string(n), "LOST", "2026-06-01", "", "", "", ""}, ""});
    }
  };
  const auto outcome = this->S().RecordUses(Clerk("u1"), batch);
  ASSERT_EQ(outcome.badLineCount, 0) << outcome.badLines.at(0).message;
  ASSERT_EQ(outcome.recorded, 61);
  EXPECT_THAT(this->Alerts(), ::testing::ElementsAre("cleared 120/150 at 200", "open 149/150"));

  // Another station's saves leave A1's alert as it is; no minimum, no alert.
  this->Assign(1200001, 1200400, "b1");
  this->S().SetStockMinimum(Clerk("off"), {"A", "1", "C", 0});
  EXPECT_THAT(this->Alerts(),
              ::testing::ElementsAre("cleared 120/150 at 200", "cleared 149/150 at 149"));
  EXPECT_TRUE(this->S().StockMinimums().empty());
}

TYPED_TEST(StockSuite, MinimumRefusedWhenItCannotBeKept) {
  struct Case {
    StockMinimum minimum;
    const char* stations;
    StoreError::Kind kind;
    const char* message;
  };
  const Case cases[] = {
      {{"Q", "9", "C", 10}, "*", StoreError::Kind::Rejected, "There is no Troop/District Q9"},
      {{"A", "1", "?", 10}, "*", StoreError::Kind::Rejected, "Form Type \"?\" is not known"},
      {{"A", "1", "C", -1}, "*", StoreError::Kind::Rejected, "0 or more; -1 is not"},
      {{"B", "2", "C", 10}, "A1", StoreError::Kind::Forbidden, "may not set the minimum stock"},
  };
  for (const auto& c : cases) {
    try {
      this->S().SetStockMinimum(Clerk("bad", c.stations), c.minimum);
      ADD_FAILURE() << c.message << ": accepted";
    } catch (const StoreError& e) {
      EXPECT_EQ(e.GetKind(), c.kind) << c.message;
      EXPECT_THAT(e.what(), HasSubstr(c.message));
    }
  }
  EXPECT_TRUE(this->S().StockMinimums().empty());
  EXPECT_TRUE(this->S().StockAlerts(false).empty());
}

}  // namespace
}  // namespace fm::server::testing
