// Stock on hand and the minimum stock through the request handler (types 39 and 40, as the
// desktop and the HTTP front ask them) on both backends: the alert of a crossing, the use per
// week from uses and handouts, and who may read and set what.
#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "RandomSaves.h"
#include "StoreBackends.h"
#include "protocol/Json.h"
#include "protocol/Stock.h"
#include "protocol/Usage.h"
#include "server/handler/RequestHandler.h"

namespace fm::server::testing {
namespace {

using ::testing::ElementsAre;

constexpr const char* kStockToday = "2026-06-30";  // 13 weeks back: 2026-04-01 to 2026-06-30

const Principal kAdmin{7, "Ann Lee", Role::Admin, StationScope::Everywhere()};

protocol::Request Message(int type, std::string id, std::vector<protocol::Criterion> criteria) {
  protocol::Request r;
  r.requestId = std::move(id);
  r.version = "1.0";
  r.messageType = type;
  r.criteria = std::move(criteria);
  return protocol::RequestFromJson(protocol::RequestToJson(r));  // as it travels
}

template <typename Backend>
class StockRequestSuite : public StoreFixture<Backend> {
 protected:
  void SetUp() override {
    StoreFixture<Backend>::SetUp();
    if (this->IsSkipped() || this->HasFatalFailure()) return;
    StoreOptions options = this->Options();
    options.clock = [this] { return mNow; };  // the days the history is written on
    this->mStore = OpenStore(this->mBackend.Address(), options);
    At("2026-03-02");
    S().LoadInventory({Stock("C", 1100001, 1100120), Stock("C", 1100121, 1100300, 1002),
                       Stock("C", 1200001, 1200500, 0, "A", "B", "2")},
                      {"load", "test", 7, "Ann Lee"}, true);
    RequestHandlerOptions handlerOptions;
    handlerOptions.today = [] { return std::string(kStockToday); };
    mHandler = std::make_unique<RequestHandler>(this->mStore, handlerOptions);
  }
  Store& S() { return *this->mStore; }
  void At(const std::string& day) { mNow = day + "T12:00:00.000Z"; }
  // The forms from..to of the stored range holding `from` go to officer 1002.
  void Assign(std::int64_t from, std::int64_t to) {
    RangeQuery q;
    q.formNumber = from;
    const StoredRange s = S().FindRanges(q).at(0);
    RangeChange entered = Rewrite(s);
    entered.registry = 1002;
    S().ApplyChanges({"a" + std::to_string(from), "test", 7, "Ann Lee", StationScope::Everywhere()},
                     ScreenSplit(s, from, to, entered));
  }
  void Receive(std::int64_t from, std::int64_t to) {
    StoredRange received;
    received.range = Stock("C", from, to);
    RangeChange add = Rewrite(received);
    add.action = RangeChange::Action::Add;
    add.rowVersion.reset();
    S().ApplyChanges({"r" + std::to_string(from), "test", 7, "Ann Lee", StationScope::Everywhere()},
                     {add});
  }
  // A spoiled pad from..to, used by officer 1002 on `day`, recorded through type 37.
  void Spoiled(std::int64_t from, std::int64_t to, const std::string& day) {
    protocol::Request r = Message(protocol::kRecordUsageMessage, "u" + std::to_string(from),
                                  {{"key:SOURCE", "handed back", "=", "T"}});
    r.dataSets.emplace(
        protocol::kUseRowDataSet,
        protocol::UseRowsToDataSet({{"C", std::to_string(from), "SPOILED", day, "1002", "",
                                     "water damage", std::to_string(to)}}));
    const auto answer = mHandler->Handle(r, kAdmin).reply;
    ASSERT_TRUE(answer.ok) << answer.error;
  }
  HandledRequest Report(const Principal& who, const std::string& station = "A1") {
    std::vector<protocol::Criterion> c;
    if (!station.empty()) c.push_back({"key:TRP_ID", station.substr(0, 1), "=", "T"});
    if (station.size() > 1) c.push_back({"key:TRP_DIST_ID", station.substr(1), "=", "T"});
    return mHandler->Handle(Message(protocol::kStockMessage, "s", c), who);
  }
  // The line of station's form type C, from the report of that station or of `scope`.
  protocol::StockLine LineOf(const std::string& station, const Principal& who = kAdmin,
                             std::optional<std::string> scope = std::nullopt) {
    const auto answer = Report(who, scope.value_or(station)).reply;
    EXPECT_TRUE(answer.ok) << answer.error;
    const auto report = protocol::StockReportFromDataSets(answer.dataSets);
    for (const auto& l : report.lines) {
      if (l.troop + l.district == station && l.formType == "C") return l;
    }
    ADD_FAILURE() << "no line of " << station;
    return {};
  }
  HandledRequest SetMinimum(const Principal& who, const std::string& station, int minimum) {
    return mHandler->Handle(
        Message(protocol::kSetStockMinimumMessage, fmt::format("m{}{}", station, minimum),
                {{"key:TRP_ID", station.substr(0, 1), "=", "T"},
                 {"key:TRP_DIST_ID", station.substr(1), "=", "T"},
                 {"key:REF_TYP_CD", "C", "=", "T"},
                 {"key:MINIMUM_QTY", std::to_string(minimum), "=", "T"}}),
        who);
  }
  // "open 120/150" or "cleared 120/150" for each alert, oldest first, as type 39 and the
  // alert list answer them.
  std::vector<std::string> Alerts() {
    std::vector<std::string> out;
    for (const auto& a : mHandler->StockAlerts(true, kAdmin)) {
      out.insert(out.begin(), fmt::format("{} {}/{}", a.clearedAt.empty() ? "open" : "cleared",
                                          a.onHand, a.minimum));
    }
    return out;
  }

  std::string mNow;
  std::unique_ptr<RequestHandler> mHandler;
};

TYPED_TEST_SUITE(StockRequestSuite, StoreBackends, BackendNames);

TYPED_TEST(StockRequestSuite, BelowItsMinimumRaisesOneAlertPerCrossing) {
  const auto set = this->SetMinimum(kAdmin, "A1", 150).reply;
  ASSERT_TRUE(set.ok) << set.error;
  EXPECT_EQ(protocol::StockMinimumFromDataSets(set.dataSets).setBy, "Ann Lee");
  const protocol::StockLine line = this->LineOf("A1");
  EXPECT_EQ(line.unassigned, 120);
  EXPECT_EQ(line.withOfficers, 180);
  EXPECT_TRUE(protocol::BelowMinimum(line));
  const auto report = protocol::StockReportFromDataSets(this->Report(kAdmin).reply.dataSets);
  ASSERT_EQ(report.alerts.size(), 1u);
  EXPECT_EQ(report.alerts[0].onHand, 120);

  this->Assign(1100001, 1100010);  // 110, 100: still the one alert
  this->Assign(1100011, 1100020);
  EXPECT_THAT(this->Alerts(), ElementsAre("open 120/150"));
  this->Receive(1100301, 1100400);  // 200: cleared
  EXPECT_FALSE(protocol::BelowMinimum(this->LineOf("A1")));
  this->Assign(1100301, 1100360);  // 140: a second crossing
  EXPECT_THAT(this->Alerts(), ElementsAre("cleared 120/150", "open 140/150"));
  EXPECT_EQ(this->mHandler->StockAlerts(false, kAdmin).size(), 1u);
}

TYPED_TEST(StockRequestSuite, WeeksOfSupplyCountUsesWhereRecordedElseHandouts) {
  this->At("2026-04-02");  // week 1: 10 handed out, no use recorded
  this->Assign(1100001, 1100010);
  this->At("2026-05-13");  // week 7: 20 handed out, but 5 uses recorded count instead
  this->Assign(1100011, 1100030);
  this->Spoiled(1100121, 1100125, "2026-05-14");
  this->Spoiled(1100126, 1100128, "2026-06-30");  // week 13, today
  this->Spoiled(1100129, 1100129, "2026-03-31");  // the day before the first week
  this->At("2026-07-01");                         // after today: counts in no week
  this->Assign(1100031, 1100031);

  const protocol::StockLine line = this->LineOf("A1");
  EXPECT_EQ(line.unassigned, 89);
  EXPECT_EQ(line.withOfficers, 180 - 9 + 31);
  const auto weeksOf = [](const protocol::StockLine& l) {
    std::vector<std::string> weeks;
    for (const auto& w : l.weeks) {
      if (w.source != protocol::WeekSource::None) {
        weeks.push_back(
            fmt::format("{} {} {}", w.firstDay, w.used, protocol::WeekSourceKey(w.source)));
      }
    }
    return weeks;
  };
  EXPECT_THAT(weeksOf(line),
              ElementsAre("2026-04-01 10 handed_out", "2026-05-13 5 uses", "2026-06-24 3 uses"));
  // The troop's and every station's reports find the weeks' uses from the days, not from
  // the station's ranges: the same weeks.
  for (const std::string scope : {"A", ""}) {
    EXPECT_EQ(weeksOf(this->LineOf("A1", kAdmin, scope)), weeksOf(line)) << "scope " << scope;
  }
  ASSERT_EQ(line.weeks.size(), 13u);
  EXPECT_DOUBLE_EQ(protocol::WeeklyUse(line), 18.0 / 13);
  EXPECT_DOUBLE_EQ(*protocol::WeeksOfSupply(line), (89.0 + 202) * 13 / 18);
  EXPECT_FALSE(protocol::WeeksOfSupply(this->LineOf("B2")).has_value());  // nothing used
}

TYPED_TEST(StockRequestSuite, StationsAndRolesAsForSaves) {
  const Principal viewer{5, "Vic", Role::Viewer, StationScope::Parse("A1")};
  const Principal clerkB2{6, "Bea", Role::Clerk, StationScope::Parse("B2")};
  struct Case {
    const char* what;
    const Principal& who;
    bool set;  // else read
    const char* station;
    bool forbidden;
  };
  const Case cases[] = {
      {"a clerk sets his station's minimum", clerkB2, true, "B2", false},
      {"a clerk of another station is refused", clerkB2, true, "A1", true},
      {"a read-only principal may not set one", viewer, true, "A1", true},
      {"a read-only principal reads his station", viewer, false, "A1", false},
      {"a clerk does not see other stations", clerkB2, false, "A1", true},
      {"an admin reads every station", kAdmin, false, "", false},
  };
  for (const Case& c : cases) {
    const HandledRequest answer =
        c.set ? this->SetMinimum(c.who, c.station, 150) : this->Report(c.who, c.station);
    EXPECT_EQ(answer.forbidden, c.forbidden) << c.what << ": " << answer.reply.error;
    EXPECT_EQ(answer.reply.ok, !c.forbidden) << c.what << ": " << answer.reply.error;
  }
  EXPECT_THAT(this->Alerts(), ElementsAre());  // B2's 500 are above 150
  // Without a station a clerk's report lists his stations only.
  const auto mine = protocol::StockReportFromDataSets(this->Report(clerkB2, "").reply.dataSets);
  ASSERT_EQ(mine.lines.size(), 1u);
  EXPECT_EQ(mine.lines[0].troop + mine.lines[0].district, "B2");
  EXPECT_EQ(mine.lines[0].minimum, 150);
}

}  // namespace
}  // namespace fm::server::testing
