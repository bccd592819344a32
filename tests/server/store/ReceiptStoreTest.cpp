// Hand receipts on both backends: a save that gives forms to officers issues one receipt per
// officer and station with a line per range given, nothing else issues any, and a receipt
// printed again is a copy.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "RandomSaves.h"
#include "StoreBackends.h"
#include "server/store/StoreError.h"

namespace fm::server::testing {
namespace {

using ::testing::ElementsAre;

constexpr std::int64_t kOfficer = 1002;  // on duty at A1
constexpr std::int64_t kOther = 1003;    // on duty at B2

SaveContext ReceiptClerk(std::string id, const char* stations = "*") {
  SaveContext c{std::move(id), "test", 7, "Margaret Hartley"};
  c.scope = StationScope::Parse(stations);
  return c;
}

std::string LineText(const protocol::ReceiptLine& l) {
  return fmt::format("{} {}-{} {}", l.formType, l.from, l.to, l.forms);
}

template <typename Backend>
class ReceiptSuite : public StoreFixture<Backend> {
 protected:
  void SetUp() override {
    StoreFixture<Backend>::SetUp();
    if (this->IsSkipped() || this->HasFatalFailure()) return;
    S().LoadInventory({Stock("C", 1100001, 1100100), Stock("C", 1100101, 1100200),
                       Stock("K", 500, 599), Stock("C", 1200001, 1200050, 0, "A", "B", "2")},
                      ReceiptClerk("load"), true);
  }
  Store& S() { return *this->mStore; }
  StoredRange Held(const std::string& type, std::int64_t from) {
    RangeQuery q;
    q.formNumber = from;
    for (StoredRange& s : S().FindRanges(q)) {
      if (s.range.formType == type) return s;
    }
    ADD_FAILURE() << "no range of " << type << " holds " << from;
    return {};
  }
  RangeChange To(const std::string& type, std::int64_t from, std::int64_t registry) {
    RangeChange c = Rewrite(Held(type, from));
    c.registry = registry;
    return c;
  }
  std::vector<std::string> Lines(std::int64_t number) {
    std::vector<std::string> out;
    const protocol::HandReceipt receipt = S().Receipt(StationScope::Everywhere(), number).value();
    for (const auto& l : receipt.lines) {
      out.push_back(LineText(l));
    }
    return out;
  }
};

TYPED_TEST_SUITE(ReceiptSuite, StoreBackends, BackendNames);

TYPED_TEST(ReceiptSuite, OneReceiptPerOfficerAndStationWithALinePerRange) {
  const std::vector<RangeChange> rows{this->To("C", 1100001, kOfficer),
                                      this->To("C", 1100101, kOfficer),
                                      this->To("K", 500, kOfficer), this->To("C", 1200001, kOther)};
  const SaveOutcome saved = this->S().ApplyChanges(ReceiptClerk("give"), rows);
  ASSERT_EQ(saved.receipts.size(), 2u);
  const auto first = this->S().Receipt(StationScope::Everywhere(), saved.receipts[0]).value();
  EXPECT_EQ(first.registry, kOfficer);
  EXPECT_EQ(first.troop + first.district, "A1");
  EXPECT_EQ(first.clerkName, "Margaret Hartley");
  EXPECT_EQ(first.requestId, "give");
  EXPECT_FALSE(first.officerName.empty());
  EXPECT_THAT(this->Lines(first.number),
              ElementsAre("C 1100001-1100100 100", "C 1100101-1100200 100", "K 500-599 100"));
  EXPECT_EQ(first.Total(), 300);
  EXPECT_THAT(this->Lines(saved.receipts[1]), ElementsAre("C 1200001-1200050 50"));

  // The form history links each range given to its receipt, and nothing else.
  const auto history = this->S().FormHistory("C", 1100150);
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0].receipt, std::nullopt);  // the load
  EXPECT_EQ(history[1].receipt, first.number);

  // The same request again changes nothing and issues nothing.
  EXPECT_TRUE(this->S().ApplyChanges(ReceiptClerk("give"), rows).receipts.empty());
}

TYPED_TEST(ReceiptSuite, OnlyFormsComingIntoAnOfficersHandsAreReceipted) {
  this->S().ApplyChanges(ReceiptClerk("give"), {this->To("C", 1100001, kOfficer)});
  // His own range split, its comment changed: still his, nothing handed over.
  const StoredRange his = this->Held("C", 1100001);
  RangeChange commented = Rewrite(his);
  commented.comment = "book 7";
  EXPECT_TRUE(
      this->S()
          .ApplyChanges(ReceiptClerk("split"), ScreenSplit(his, 1100041, 1100060, commented))
          .receipts.empty());
  // Part of his range given to another officer: a receipt for that part alone, and it counts
  // the forms handed over (those still unused).
  UseBatch batch;
  batch.sourceText = "desk";
  batch.rules.today = "2099-12-31";
  batch.lines = [](const std::function<void(const UseLine&)>& each) {
    for (std::int64_t n = 1100061; n <= 1100062; ++n) {
      each(
          {n - 1100060, {"C", std::to_string(n), "ISSUED", "2026-06-01", "1002", "T", "", ""}, ""});
    }
  };
  ASSERT_EQ(this->S().RecordUses(ReceiptClerk("uses"), batch).recorded, 2);
  const StoredRange rest = this->Held("C", 1100061);
  RangeChange moved = Rewrite(rest);
  moved.registry = kOther;
  moved.troop = "B";
  moved.district = "2";
  const SaveOutcome given = this->S().ApplyChanges(ReceiptClerk("move"), {moved});
  ASSERT_EQ(given.receipts.size(), 1u);
  EXPECT_THAT(this->Lines(given.receipts[0]), ElementsAre("C 1100061-1100100 38"));
}

TYPED_TEST(ReceiptSuite, APrintAfterTheFirstIsACopyAndScopeIsKept) {
  const auto number = this->S()
                          .ApplyChanges(ReceiptClerk("give"), {this->To("C", 1100001, kOfficer)})
                          .receipts.at(0);
  EXPECT_EQ(this->S().PrintReceipt(ReceiptClerk("p1"), number).printCount, 0);
  EXPECT_TRUE(this->S().PrintReceipt(ReceiptClerk("p2"), number).IsCopy());
  EXPECT_EQ(this->S().Receipt(StationScope::Everywhere(), number)->printCount, 2);

  EXPECT_FALSE(this->S().Receipt(StationScope::Everywhere(), number + 100).has_value());
  EXPECT_THROW(this->S().PrintReceipt(ReceiptClerk("p3"), number + 100), StoreError);
  EXPECT_THROW(this->S().Receipt(StationScope::Parse("B2"), number), StoreError);
  EXPECT_THROW(this->S().PrintReceipt(ReceiptClerk("p4", "B"), number), StoreError);
  EXPECT_EQ(this->S().Receipt(StationScope::Parse("A"), number)->printCount, 2);
}

}  // namespace
}  // namespace fm::server::testing
