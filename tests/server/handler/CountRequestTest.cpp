// Physical counts through the request handler on both backends: an audit's count of a
// station of ten ranges (one book missing, one number held by B2 counted), who may open,
// certify and settle, and a certified count that never changes and shows in the history of
// each form it counted; the count messages refused exactly where the count methods refuse.
// Then the counted numbers read from typed or scanned text.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "StoreBackends.h"
#include "protocol/Count.h"
#include "server/handler/CountRequest.h"
#include "server/handler/ReportRequest.h"
#include "server/handler/RequestError.h"
#include "server/handler/RequestHandler.h"
#include "server/store/ReferenceData.h"
#include "server/store/StoreError.h"

namespace fm::server::testing {
namespace {

using ::testing::HasSubstr;

const Principal kAuditor{40, "Avery Auditor", Role::Auditor, StationScope::Parse("A")};
const Principal kClerkA1{1001, "Margaret Hartley", Role::Clerk, StationScope::Parse("A1")};
const Principal kClerkB2{1003, "Bea Burns", Role::Clerk, StationScope::Parse("B2")};
const Principal kCountAdmin{1, "Ann Admin", Role::Admin, StationScope::Everywhere()};
const Principal kViewer{7, "Vera Viewer", Role::Viewer, StationScope::Everywhere()};
const Principal kAuditorB{41, "Basil Auditor", Role::Auditor, StationScope::Parse("B")};

template <typename Backend>
class CountRequestSuite : public StoreFixture<Backend> {
 protected:
  void SetUp() override {
    StoreFixture<Backend>::SetUp();
    if (this->IsSkipped() || this->HasFatalFailure()) return;
    std::vector<FormRange> ranges;
    for (int i = 0; i < 10; ++i) {
      ranges.push_back(Stock("C", 1100001 + 100 * i, 1100100 + 100 * i, i % 2 ? 1002 : 0));
    }
    ranges.push_back(Stock("C", 1200001, 1200100, 0, "A", "B", "2"));
    this->mStore->LoadInventory(ranges, {"load", "test", 1, "Ann Admin"}, true);
    mHandler = std::make_unique<RequestHandler>(this->mStore);
  }
  // Refused as forbidden, with these words.
  void ExpectForbidden(const std::function<void()>& act, const char* says) {
    try {
      act();
      ADD_FAILURE() << "not refused: " << says;
    } catch (const StoreError& e) {
      EXPECT_EQ(e.GetKind(), StoreError::Kind::Forbidden) << e.what();
      EXPECT_THAT(e.what(), HasSubstr(says));
    }
  }
  std::unique_ptr<RequestHandler> mHandler;
};

TYPED_TEST_SUITE(CountRequestSuite, StoreBackends, BackendNames);

TYPED_TEST(CountRequestSuite, TheIssuesCountFromOpeningToTheHistoryOfEachForm) {
  RequestHandler& h = *this->mHandler;
  const std::int64_t n = h.OpenCount({"A1", {"c"}}, kAuditor, "open", "test").number;
  // The shelf typed as spans, the officers' books scanned one number a line, and a CSV.
  h.AddCounted(n, {{"", "1100001", "1100300"}, {"C", "1100401", "1100500"}}, kAuditor, "typed",
               "test");
  std::string scanned;
  for (int k = 1100501; k <= 1100700; ++k) scanned += std::to_string(k) + "\n";
  h.ImportCounted(n, scanned, kAuditor, "scanned", "test");
  h.ImportCounted(n, "form type,from,to\nC,1100701,1101000\nC,1200050\n", kAuditor, "csv", "test");

  const CountView open = *h.Count(n, kViewer);
  EXPECT_EQ(open.result.missing, (std::vector<BookSpan>{{"C", 1100301, 1100400, 1002, "A"}}));
  EXPECT_EQ(open.result.unexpected,
            (std::vector<UnexpectedSpan>{
                {"C", 1200050, 1200050, UnexpectedReason::OtherStation, "Troop/District B2"}}));

  struct Refusal {
    const Principal* who;
    const char* says;
  };
  for (const Refusal& r :
       {Refusal{&kClerkA1, "holds custody at Troop/District A1"},
        Refusal{&kClerkB2, "only an auditor does"}, Refusal{&kCountAdmin, "only an auditor does"},
        Refusal{&kViewer, "only an auditor does"}, Refusal{&kAuditorB, "may not certify count"}}) {
    this->ExpectForbidden(
        [&] { h.CertifyCount(n, "All there.", *r.who, "c-" + r.who->displayName, "test"); },
        r.says);
  }
  this->ExpectForbidden(
      [&] {
        h.OpenCount({"A1", {"C"}}, kClerkA1, "clerk-open", "test");
      },
      "an auditor counts");
  this->ExpectForbidden(
      [&] {
        h.SettleCount(n, {"", "1100301", "1100400", "lost", ""}, kAuditor, "s", "test");
      },
      "an administrator does");
  EXPECT_FALSE(h.Count(n, kViewer)->count.certified);

  h.CertifyCount(n, "Counted with Tpr. Smith present.", kAuditor, "certify", "test");
  try {
    h.AddCounted(n, {{"", "1100350", ""}}, kAuditor, "late", "test");
    ADD_FAILURE() << "a certified count changed";
  } catch (const StoreError& e) {
    EXPECT_THAT(e.what(), HasSubstr("a certified count never changes"));
  }
  for (const CountSpan& s : open.count.counted) {
    for (std::int64_t k = s.from; k <= s.to; k += s.from == s.to ? 1 : 37) {
      std::vector<CountOfForm> counts;
      h.History("C", k, nullptr, &counts);
      ASSERT_EQ(counts.size(), 1u) << k;
      EXPECT_EQ(counts[0].number, n);
      EXPECT_EQ(counts[0].outcome, k == 1200050 ? "other_station" : "found") << k;
    }
  }

  const CountSettlement lost = h.SettleCount(
      n, {"", "1100301", "1100400", "Lost", "not on the shelf"}, kCountAdmin, "settle", "test");
  EXPECT_EQ(lost.kind, SettlementKind::Lost);
  const auto lastEntry = h.History("C", 1100333).entries.back();
  EXPECT_EQ(lastEntry.requestId, "settle");
  EXPECT_EQ(lastEntry.comment, "Lost: physical count 1: not on the shelf");
  EXPECT_EQ(h.Counts(kAuditorB).size(), 0u) << "A1's count is outside B";
  EXPECT_EQ(h.Counts(kClerkA1).size(), 1u);

  // The stock report: A1's count (stamped in 2024 by the test clock) is due 90 days later,
  // so overdue now, and not within a century; B2, never counted, is overdue either way.
  RequestHandlerOptions century;
  century.countDueDays = 36'500;
  ASSERT_TRUE(h.Stock({}, kCountAdmin).counts.at(0).overdue);
  const protocol::StockReport stock = RequestHandler(this->mStore, century).Stock({}, kCountAdmin);
  std::map<std::string, protocol::StockCountLine> due;
  for (const auto& c : stock.counts) due[c.troop + c.district] = c;
  ASSERT_TRUE(due.count("A1") && due.count("B2"));
  EXPECT_EQ(due["A1"].lastCount, n);
  EXPECT_FALSE(due["A1"].overdue);
  EXPECT_EQ(due["B2"].lastCount, 0);
  EXPECT_TRUE(due["B2"].overdue);
}

// Each step a message of the desktop, in order, by whom, and the words of its refusal (none:
// answered). The roles are the count methods': a message is refused where they are.
struct MessageStep {
  int type;
  const Principal* who;
  std::vector<std::pair<const char*, const char*>> criteria;
  const char* text;  // kCountTextDataSet: a statement, an imported text, a note
  const char* id;
  const char* refusal;
};

TYPED_TEST(CountRequestSuite, EveryCountMessageIsRefusedWhereTheCountMethodsAre) {
  using namespace protocol;
  const std::vector<std::pair<const char*, const char*>> count = {{"CNT_NBR", "1"}};
  const std::vector<MessageStep> steps = {
      {kCountOpenMessage,
       &kClerkA1,
       {{"TRP_ID", "A"}, {"TRP_DIST_ID", "1"}, {"REF_TYP_CD", "C"}},
       nullptr,
       "o1",
       "an auditor counts"},
      {kCountOpenMessage,
       &kCountAdmin,
       {{"TRP_ID", "A"}, {"TRP_DIST_ID", "1"}, {"REF_TYP_CD", "C"}},
       nullptr,
       "o2",
       "an auditor counts"},
      {kCountOpenMessage,
       &kAuditor,
       {{"TRP_ID", "A"}, {"TRP_DIST_ID", "1"}, {"REF_TYP_CD", "C"}},
       nullptr,
       "o3",
       ""},
      {kCountEntryMessage, &kClerkA1, count, "1100001", "e1", "an auditor counts"},
      {kCountEntryMessage, &kAuditor, count, "C,1100001,1100300\nC,1100401,1101000\nC,1200050\n",
       "e2", ""},
      // Sent again under its request id, whatever it holds now: nothing is added.
      {kCountEntryMessage, &kAuditor, count, "1100350", "e2", ""},
      {kCountEntryMessage, &kAuditor, {}, "1100001", "e3", "needs the Count Number"},
      {kCountShowMessage, &kAuditorB, count, nullptr, "", "outside your stations"},
      {kCountCertifyMessage, &kClerkA1, count, "All there.", "c1",
       "holds custody at Troop/District A1"},
      {kCountCertifyMessage, &kCountAdmin, count, "All there.", "c2", "only an auditor does"},
      {kCountCertifyMessage, &kAuditor, count, "Counted with Tpr. Smith.", "c3", ""},
      {kCountEntryMessage, &kAuditor, count, "1100350", "e4", "a certified count never changes"},
      {kCountSettleMessage,
       &kAuditor,
       {{"CNT_NBR", "1"},
        {"FRM_FORM_NBR", "1100301"},
        {"TO_FORM_NBR", "1100400"},
        {"OUTCOME_CD", "lost"}},
       "gone",
       "s1",
       "an administrator does"},
      {kCountSettleMessage,
       &kCountAdmin,
       {{"CNT_NBR", "1"},
        {"FRM_FORM_NBR", "1100301"},
        {"TO_FORM_NBR", "1100400"},
        {"OUTCOME_CD", "found later"}},
       "in the safe",
       "s2",
       ""},
  };
  for (const MessageStep& step : steps) {
    Request request;
    request.version = "1.0";
    request.requestId = step.id;
    request.messageType = step.type;
    for (const auto& [key, value] : step.criteria) {
      request.criteria.push_back({std::string("key:") + key, value, "=", ""});
    }
    if (step.text) request.dataSets.emplace(kCountTextDataSet, CountTextToDataSet(step.text));
    const HandledRequest answer = this->mHandler->Handle(request, *step.who);
    const std::string what = std::to_string(step.type) + " by " + step.who->displayName;
    if (*step.refusal) {
      EXPECT_FALSE(answer.reply.ok) << what;
      EXPECT_THAT(answer.reply.error, HasSubstr(step.refusal)) << what;
      continue;
    }
    ASSERT_TRUE(answer.reply.ok) << what << ": " << answer.reply.error;
    const CountSheet sheet = CountSheetFromDataSets(answer.reply.dataSets);
    EXPECT_EQ(sheet.head.number, 1) << what;
    if (step.type == kCountSettleMessage) {
      EXPECT_EQ(sheet.settlements.at(0).outcome, "found_later");
      EXPECT_EQ(sheet.missing, (std::vector<CountLine>{{"C", 1100301, 1100400, 1002, "A"}}));
      EXPECT_EQ(sheet.unexpected.at(0).reason, "other_station");
      EXPECT_EQ(sheet.head.statement, "Counted with Tpr. Smith.");
    }
  }
  Request listed;
  listed.version = "1.0";
  listed.messageType = kCountListMessage;
  listed.criteria.push_back({"key:TRP_ID", "A", "=", ""});
  listed.criteria.push_back({"key:TRP_DIST_ID", "1", "=", ""});
  const auto list = this->mHandler->Handle(listed, kViewer);
  ASSERT_TRUE(list.reply.ok) << list.reply.error;
  EXPECT_EQ(CountListFromDataSets(list.reply.dataSets).at(0).certifiedBy, "Avery Auditor");
}

struct TextCase {
  const char* name;
  const char* text;
  const char* onlyType;
  std::vector<CountSpan> spans;
  const char* refusal;
};

class CountedText : public ::testing::TestWithParam<TextCase> {};

TEST_P(CountedText, IsReadIntoSpansOrRefusedNamingTheLine) {
  static const ReferenceData reference = ReferenceData::FromDemoDatabase("NORTH");
  const TextCase& t = GetParam();
  if (*t.refusal) {
    try {
      ReadCountedText(t.text, t.onlyType, reference, 3);
      ADD_FAILURE() << "read";
    } catch (const RequestError& e) {
      EXPECT_THAT(e.what(), HasSubstr(t.refusal));
    }
    return;
  }
  EXPECT_EQ(ReadCountedText(t.text, t.onlyType, reference, 3), t.spans);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, CountedText,
    ::testing::Values(
        TextCase{"Scanned",
                 "1100001\r\n\n1100002\n",
                 "C",
                 {{"C", 1100001, 1100001}, {"C", 1100002, 1100002}},
                 ""},
        TextCase{"Csv",
                 "Form Type;From;To\n\"C\";1100001;1100050\nK,500\n",
                 "",
                 {{"C", 1100001, 1100050}, {"K", 500, 500}},
                 ""},
        TextCase{"NoType", "1100001\n", "", {}, "Line 1 (\"1100001\") names no form type"},
        TextCase{"UnknownType", "ZZ,1\n", "", {}, "Form Type \"ZZ\", which is not known"},
        TextCase{"Backwards", "C,1100050,1100001\n", "", {}, "Line 1"},
        TextCase{"NotANumber", "1100001\n11000x2\n", "C", {}, "Line 2 (\"11000x2\") is not"},
        TextCase{"TooMany", "1\n2\n3\n4\n", "K", {}, "more than 3 lines"}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace fm::server::testing
