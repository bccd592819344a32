// Physical counts on both backends: the book fixed at the opening, the result of an audit's
// count of ten ranges (one book missing, one number of B2 counted), a certified count that
// never changes and shows in each counted form's history, and the settling of what was missing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "RandomSaves.h"
#include "StoreBackends.h"
#include "server/store/StoreError.h"

namespace fm::server::testing {
namespace {

using ::testing::HasSubstr;

const SaveContext kAuditor{"audit", "test", 40, "Avery Auditor"};
const SaveContext kAdmin{"admin", "test", 1, "Ann Admin"};

template <typename Backend>
class CountSuite : public StoreFixture<Backend> {
 protected:
  void SetUp() override {
    StoreFixture<Backend>::SetUp();
    if (this->IsSkipped() || this->HasFatalFailure()) return;
    // Ten books of 100 at A1, every third with officer 1002; one book at B2.
    std::vector<FormRange> ranges;
    for (int i = 0; i < 10; ++i) {
      ranges.push_back(Stock("C", 1100001 + 100 * i, 1100100 + 100 * i, i % 3 == 0 ? 1002 : 0));
    }
    ranges.push_back(Stock("C", 1200001, 1200100, 0, "A", "B", "2"));
    S().LoadInventory(ranges, As(kAdmin, "load"), true);
  }
  Store& S() { return *this->mStore; }
  // Every book of A1 counted but 1100301-1100400, and 1200050 of B2 with them.
  PhysicalCount CountOfTheIssue() {
    const PhysicalCount opened = S().OpenCount(As(kAuditor, "open"), "A", "1", {"C"});
    S().AddCounted(As(kAuditor, "shelf"), opened.number,
                   {{"C", 1100001, 1100300}, {"C", 1100401, 1100700}});
    return S().AddCounted(As(kAuditor, "officers"), opened.number,
                          {{"C", 1100650, 1101000}, {"C", 1200050, 1200050}});
  }
  void ExpectRefused(const std::function<void()>& change, const char* says) {
    try {
      change();
      ADD_FAILURE() << "not refused: " << says;
    } catch (const StoreError& e) {
      EXPECT_THAT(e.what(), HasSubstr(says));
    }
  }
};

TYPED_TEST_SUITE(CountSuite, StoreBackends, BackendNames);

TYPED_TEST(CountSuite, TheResultNamesExactlyTheMissingBookAndTheNumberHeldByB2) {
  const PhysicalCount count = this->CountOfTheIssue();
  ASSERT_EQ(count.book.size(), 10u);
  EXPECT_EQ(count.counted.size(), 3u) << "spans typed twice are merged";
  const CountResult result = this->S().CountResultOf(count);
  EXPECT_EQ(result.missing, (std::vector<BookSpan>{{"C", 1100301, 1100400, 1002, "A"}}));
  EXPECT_EQ(result.unexpected,
            (std::vector<UnexpectedSpan>{
                {"C", 1200050, 1200050, UnexpectedReason::OtherStation, "Troop/District B2"}}));
  std::int64_t found = 0;
  for (const BookSpan& f : result.found) found += f.to - f.from + 1;
  EXPECT_EQ(found, 900);
}

TYPED_TEST(CountSuite, TheBookIsFixedAtTheOpeningAndLeavesOutWhatTheRangesCountAsUsed) {
  Store& s = this->S();
  const PhysicalCount opened = s.OpenCount(As(kAuditor, "open"), "A", "1", {"C"});
  EXPECT_EQ(s.OpenCount(As(kAuditor, "open"), "A", "1", {"C"}).number, opened.number)
      << "an opening sent again opens nothing new";
  // 1100901-1101000 goes to B2 after the opening: still in the book, and counted at A1 it is
  // found; the inventory now says it is B2's.
  RangeQuery q;
  q.formNumber = 1100901;
  RangeChange moved = Rewrite(s.FindRanges(q).at(0));
  moved.district = "2";
  moved.troop = "B";
  moved.registry = kNoOfficer;
  s.ApplyChanges(As(kAdmin, "move"), {moved});
  EXPECT_EQ(s.Count(opened.number)->book, opened.book);

  // A book with 40 of its 100 forms used: the lowest 40 are not on the shelf.
  this->TearDown();
  this->StoreFixture<TypeParam>::SetUp();
  FormRange partly = Stock("C", 1100001, 1100100);
  partly.remaining = 60;
  this->S().LoadInventory({partly}, As(kAdmin, "load"), true);
  const PhysicalCount used = this->S().OpenCount(As(kAuditor, "open"), "A", "1", {"C"});
  EXPECT_EQ(used.book, (std::vector<BookSpan>{{"C", 1100041, 1100100, 0, "A"}}));
}

TYPED_TEST(CountSuite, ACertifiedCountNeverChangesAndShowsInTheHistoryOfEveryFormItCounted) {
  Store& s = this->S();
  const PhysicalCount count = this->CountOfTheIssue();
  const PhysicalCount certified =
      s.CertifyCount(As(kAuditor, "certify"), count.number, "Counted at A1 with both officers.");
  ASSERT_TRUE(certified.certified);
  EXPECT_EQ(certified.certified->userName, "Avery Auditor");
  const char* never = "a certified count never changes";
  this->ExpectRefused(
      [&] {
        s.AddCounted(As(kAuditor, "late"), count.number, {{"C", 1100350, 1100350}});
      },
      never);
  this->ExpectRefused([&] { s.CertifyCount(As(kAuditor, "again"), count.number, "Once more."); },
                      never);
  // The inventory changes, the certified result does not: B2's number is withdrawn.
  s.Withdraw(As(kAdmin, "wdr"), "C", 1200050, 1200050, "misprint");
  EXPECT_EQ(s.CountResultOf(*s.Count(count.number)).unexpected.at(0).reason,
            UnexpectedReason::OtherStation);

  struct Seen {
    std::int64_t number;
    const char* outcome;
  };
  for (const Seen& seen : {Seen{1100001, "found"}, Seen{1101000, "found"}, Seen{1100350, "missing"},
                           Seen{1200050, "other_station"}}) {
    const auto counts = s.CountsOf("C", seen.number);
    ASSERT_EQ(counts.size(), 1u) << seen.number;
    EXPECT_EQ(counts[0].number, count.number);
    EXPECT_EQ(counts[0].outcome, seen.outcome) << seen.number;
  }
  EXPECT_TRUE(s.CountsOf("C", 1200051).empty()) << "B2's number not counted";
  EXPECT_EQ(s.LastCounts(),
            (std::vector<StationCount>{{"A", "1", count.number, certified.certified->at}}));
}

TYPED_TEST(CountSuite, AnAdministratorSettlesEachMissingSpanAsLostOrFoundLater) {
  Store& s = this->S();
  const PhysicalCount count = this->CountOfTheIssue();
  this->ExpectRefused(
      [&] {
        s.SettleCount(As(kAdmin, "early"), count.number,
                      {"C", 1100301, 1100400, SettlementKind::Lost, ""});
      },
      "not certified yet");
  s.CertifyCount(As(kAuditor, "certify"), count.number, "Counted.");
  const CountSettlement lost = s.SettleCount(
      As(kAdmin, "lost"), count.number, {"C", 1100321, 1100350, SettlementKind::Lost, "not found"});
  EXPECT_EQ(lost.userName, "Ann Admin");
  // Delisted by a save: the range cut in three, the lost piece citing the count.
  RangeQuery q;
  q.formNumber = 1100330;
  const StoredRange piece = s.FindRanges(q).at(0);
  EXPECT_EQ(piece.range.from, 1100321);
  EXPECT_EQ(piece.range.to, 1100350);
  EXPECT_EQ(piece.range.status, "L");
  EXPECT_EQ(piece.range.comment, "Lost: physical count 1: not found");
  EXPECT_EQ(s.FormHistory("C", 1100330).back().requestId, "lost");
  s.SettleCount(As(kAdmin, "found"), count.number,
                {"C", 1100301, 1100320, SettlementKind::FoundLater, "in the safe"});
  EXPECT_EQ(s.CountsOf("C", 1100310).at(0).settlement->kind, SettlementKind::FoundLater);
  EXPECT_EQ(s.SettleCount(As(kAdmin, "lost"), count.number,
                          {"C", 1100321, 1100350, SettlementKind::Lost, "not found"}),
            lost)
      << "a settlement sent again settles nothing more";

  struct Refusal {
    CountSettlement asked;
    const char* says;
  };
  const Refusal refusals[] = {
      {{"C", 1100340, 1100360, SettlementKind::FoundLater, ""}, "was settled by Ann Admin"},
      {{"C", 1100001, 1100010, SettlementKind::Lost, ""}, "did not find 1100001-1100010"},
      {{"C", 1200050, 1200050, SettlementKind::Lost, ""}, "did not find"},
  };
  for (const Refusal& r : refusals) {
    this->ExpectRefused([&] { s.SettleCount(As(kAdmin, "refused"), count.number, r.asked); },
                        r.says);
  }
  EXPECT_EQ(s.Count(count.number)->settlements.size(), 2u);
}

TYPED_TEST(CountSuite, WrongOpeningsAndEntriesAreRefusedWholeWithTheirReason) {
  Store& s = this->S();
  SaveContext b2 = As(kAuditor, "b2");
  b2.scope = StationScope::Parse("B2");
  struct Opening {
    SaveContext who;
    std::string troop, district;
    std::vector<std::string> types;
    const char* says;
  };
  const Opening openings[] = {
      {As(kAuditor, "o1"), "Q", "9", {"C"}, "There is no Troop/District Q9"},
      {As(kAuditor, "o2"), "A", "1", {}, "none was given"},
      {As(kAuditor, "o3"), "A", "1", {"C", "C"}, "given twice"},
      {As(kAuditor, "o4"), "A", "1", {"ZZ"}, "is not known"},
      {b2, "A", "1", {"C"}, "may not open a count of Troop/District A1"},
  };
  for (const Opening& o : openings) {
    this->ExpectRefused([&] { s.OpenCount(o.who, o.troop, o.district, o.types); }, o.says);
  }
  EXPECT_TRUE(s.Counts().empty());
  const std::int64_t n = s.OpenCount(As(kAuditor, "open"), "A", "1", {"C"}).number;
  this->ExpectRefused(
      [&] {
        s.AddCounted(As(kAuditor, "k"), n, {{"K", 500, 510}});
      },
      "counts C only");
  this->ExpectRefused(
      [&] {
        s.AddCounted(As(kAuditor, "bad"), n, {{"C", 1100010, 1100020}, {"C", 5, 1}});
      },
      "is not a span");
  this->ExpectRefused([&] { s.CertifyCount(As(kAuditor, "blank"), n, "   "); }, "is required");
  this->ExpectRefused([&] { s.AddCounted(As(kAuditor, "x"), 99, {}); }, "no physical count 99");
  EXPECT_TRUE(s.Count(n)->counted.empty()) << "a refused entry keeps nothing";
}

}  // namespace
}  // namespace fm::server::testing
