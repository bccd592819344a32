// Requests 33 to 36 through the request handler, on both backends.
#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "StoreBackends.h"
#include "protocol/Custody.h"
#include "protocol/Json.h"
#include "protocol/Messages.h"
#include "protocol/Receipt.h"
#include "server/handler/Principal.h"
#include "server/handler/RequestHandler.h"

namespace fm::server::testing {
namespace {

using protocol::AccountLine;
using protocol::Cell;
using protocol::ColumnType;
using protocol::Criterion;
using protocol::DataSet;
using protocol::Reply;
using protocol::Request;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

Criterion Key(std::string name, std::string value, std::string op = "=") {
  return Criterion{"key:" + name, std::move(value), std::move(op), "QUILLMAR"};
}

Request Search(std::vector<Criterion> criteria) {
  static std::atomic<int> counter{0};
  Request r;
  r.requestId = fmt::format("search-{}", counter++);
  r.identity = "TARVO_FormsMaint#1";
  r.version = "1.0";
  r.requester = "FORMSMAINT";
  r.userId = 1001;
  r.messageType = protocol::kSearchMessage;
  r.criteria = std::move(criteria);
  return r;
}

// The change rows as the screen's "TROOPFORM" data set carries them: all texts, and the
// ROW_VERSION the message component fills in ("" leaves it null).
DataSet ChangeRows(const std::vector<std::vector<std::string>>& rows) {
  DataSet set;
  for (const char* name :
       {"ACTION", "FRM_FORM_NBR", "TO_FORM_NBR", "TRP_ID", "TRP_DIST_ID", "FORM_TYP_CD",
        "ASGND_REG_NBR", "TRP_ACTN_CD", "TRP_FORM_CMMT_TXT", "ROW_VERSION"}) {
    set.columns.push_back({name, ColumnType::Text});
  }
  for (const auto& row : rows) {
    protocol::Row cells;
    for (const auto& text : row) cells.emplace_back(text);
    if (cells.size() + 1 == set.columns.size()) cells.emplace_back("1");  // as first stored
    set.rows.push_back(std::move(cells));
  }
  return set;
}

// The reply's "TROOPFORM" cell of the range starting at `from`, or null.
Cell CellOf(const Reply& reply, std::int64_t from, const std::string& column) {
  const DataSet& set = reply.dataSets.at("TROOPFORM");
  for (const auto& row : set.rows) {
    if (std::get<std::int64_t>(row[set.ColumnIndex("FRM_FORM_NBR")]) == from) {
      return row[set.ColumnIndex(column)];
    }
  }
  return Cell{};
}

// "B 100-199" for each "TROOPFORM" row of a reply.
std::vector<std::string> Ranges(const Reply& reply) {
  std::vector<std::string> out;
  const DataSet& set = reply.dataSets.at("TROOPFORM");
  int type = set.ColumnIndex("FORM_TYP_CD");
  int from = set.ColumnIndex("FRM_FORM_NBR");
  int to = set.ColumnIndex("TO_FORM_NBR");
  for (const auto& row : set.rows) {
    out.push_back(fmt::format("{} {}-{}", std::get<std::string>(row[type]),
                              std::get<std::int64_t>(row[from]), std::get<std::int64_t>(row[to])));
  }
  return out;
}

template <typename Backend>
class HandlerSuite : public StoreFixture<Backend> {
 protected:
  void SetUp() override {
    StoreFixture<Backend>::SetUp();
    if (this->IsSkipped() || this->HasFatalFailure()) return;
    this->mStore->LoadInventory({Stock("B", 100, 199, 1002), Stock("B", 200, 299, 0, "A", "A", "2"),
                                 Stock("B", 300, 399, 0, "V"), Stock("C", 1100001, 1100100, 1002),
                                 Stock("C", 1100101, 1100200, 1003, "R", "B", "2"),
                                 Stock("Y", 1, 50), Stock("Z", 5000, 5999)},
                                SaveContext{"load", "test", 0}, true);
    RequestHandlerOptions options;
    options.today = [] { return std::string("2024-05-01"); };
    options.maxRanges = 6;
    mHandler = std::make_unique<RequestHandler>(this->mStore, options);
  }

  // The reply of Handle; a search (no side effect) is also answered as text, which must be
  // the text of that reply.
  Reply Answer(const Request& request) {
    HandledRequest handled = mHandler->Handle(request, mActor);
    if (request.messageType == protocol::kSearchMessage) {
      std::string text = "left over";
      StreamedReply streamed = mHandler->HandleToJson(request, mActor, text);
      EXPECT_EQ(text, protocol::ReplyToJson(handled.reply));
      EXPECT_EQ(streamed.forbidden, handled.forbidden);
      EXPECT_EQ(streamed.error, handled.reply.error);
    }
    return handled.reply;
  }

  Reply Ok(const Request& request) {
    Reply reply = Answer(request);
    EXPECT_TRUE(reply.ok) << reply.error;
    EXPECT_EQ(reply.requestId, request.requestId);
    EXPECT_EQ(reply.identity, request.identity);
    return reply;
  }
  std::string Error(const Request& request) {
    Reply reply = Answer(request);
    EXPECT_FALSE(reply.ok);
    EXPECT_TRUE(reply.dataSets.empty());
    return reply.error;
  }
  // A save the store refuses: the reason, and the search refreshed all the same.
  Reply Refused(const Request& request) {
    Reply reply = mHandler->Handle(request, mActor).reply;
    EXPECT_FALSE(reply.ok);
    EXPECT_EQ(reply.dataSets.count("TROOPFORM"), 1u);
    EXPECT_EQ(reply.dataSets.count("OFFICER"), 1u);
    return reply;
  }

  std::unique_ptr<RequestHandler> mHandler;
  // Whom the requests act for, as a server authenticated it.
  Principal mActor = Principal::LocalAdministrator(1001, "Margaret Hartley");
};

TYPED_TEST_SUITE(HandlerSuite, StoreBackends, BackendNames);

// Each key and comparison selects its ranges; values are bound, never spliced into the SQL.
TYPED_TEST(HandlerSuite, EachCriterionSelectsItsRanges) {
  const std::vector<std::string> kB = {"B 100-199", "B 200-299", "B 300-399"};
  auto status = [](const char* op, const char* value) {
    return std::vector<Criterion>{Key("TRP_ID", "A"), Key("REF_TYP_CD", "B"),
                                  Key("TRP_ACTN_CD", value, op)};
  };
  const struct {
    std::vector<Criterion> criteria;
    std::vector<std::string> ranges;
  } kCases[] = {
      {{Key("TRP_ID", "A"), Key("REF_TYP_CD", "B")}, kB},
      {{Key("TRP_ID", "A"), Key("TRP_DIST_ID", "1")},
       {"B 100-199", "B 300-399", "C 1100001-1100100", "Y 1-50", "Z 5000-5999"}},
      {{Key("REF_TYP_CD", "C")}, {"C 1100001-1100100", "C 1100101-1100200"}},
      {{Key("ASGND_REG_NBR", "1002")}, {"B 100-199", "C 1100001-1100100"}},
      {{Key("ASGND_REG_NBR", "1002", ">")}, {"C 1100101-1100200"}},
      {{Key("FORM_SEARCH_NBR", "150")}, {"B 100-199"}},
      {{Key("FORM_SEARCH_NBR", "1100150")}, {"C 1100101-1100200"}},
      {{Key("FORM_SEARCH_NBR", "4999")}, {}},
      {{Key("INACTIVE", "Y")}, {"B 300-399", "C 1100101-1100200"}},
      // "N" asks nothing by itself; the screen adds the status condition.
      {{Key("REF_TYP_CD", "B"), Key("INACTIVE", "N"), Key("TRP_ACTN_CD", "V", "<>")},
       {"B 100-199", "B 200-299"}},
      {status("=", "V"), {"B 300-399"}},
      {status("<>", "V"), {"B 100-199", "B 200-299"}},
      {status("<", "V"), {"B 100-199", "B 200-299"}},
      {status("<=", "V"), kB},
      {status(">", "A"), {"B 300-399"}},
      {status(">=", "A"), kB},
      {{Key("TRP_ID", "A' OR '1'='1")}, {}},
      {{Key("REF_TYP_CD", "B'; DROP TABLE form_range; --")}, {}},
      {{Key("REF_TYP_CD", "B")}, kB},
  };
  for (std::size_t i = 0; i < std::size(kCases); ++i) {
    EXPECT_EQ(Ranges(this->Ok(Search(kCases[i].criteria))), kCases[i].ranges) << "case " << i;
  }
}

TYPED_TEST(HandlerSuite, ThinReplyLeavesOutDescriptionsAndLastChange) {
  const DataSet thin =
      this->Ok(Search({Key("REF_TYP_CD", "C"), Key("THIN", "YES")})).dataSets.at("TROOPFORM");
  EXPECT_EQ(thin.columns.size(), 14u);
  ASSERT_EQ(thin.rows.size(), 2u);
  EXPECT_EQ(std::get<std::int64_t>(thin.rows[0][thin.ColumnIndex("ROW_VERSION")]), 1);
  EXPECT_TRUE(
      std::holds_alternative<std::monostate>(thin.rows[0][thin.ColumnIndex("FORM_TYP_DESC")]));
  EXPECT_EQ(std::get<std::int64_t>(thin.rows[0][thin.ColumnIndex("RMNG_FORM_CNT")]), 100);

  const DataSet full =
      this->Ok(Search({Key("REF_TYP_CD", "C"), Key("THIN", "NO")})).dataSets.at("TROOPFORM");
  EXPECT_EQ(full.columns.size(), 17u);
  EXPECT_EQ(std::get<std::string>(full.rows[0][full.ColumnIndex("FORM_TYP_DESC")]),
            "ENF001 Citation");
  EXPECT_EQ(std::get<std::string>(full.rows[0][full.ColumnIndex("LAST_CHG_REQ_ID")]), "load");
}

TYPED_TEST(HandlerSuite, OfficersAreThoseOnDutyAtTheStationOrTheOneSearched) {
  const DataSet station =
      this->Ok(Search({Key("TRP_ID", "A"), Key("TRP_DIST_ID", "2")})).dataSets.at("OFFICER");
  ASSERT_FALSE(station.rows.empty());
  std::int64_t last = 0;
  for (const auto& row : station.rows) {
    EXPECT_EQ(std::get<std::string>(row[0]), "A");
    EXPECT_EQ(std::get<std::string>(row[1]), "2");
    auto id = std::get<std::int64_t>(row[2]);
    EXPECT_NE(id, 1010) << "an officer whose duty ended in 2019";
    EXPECT_GT(id, last) << "officers in registry order";
    last = id;
  }
  const DataSet searched = this->Ok(Search({Key("ASGND_REG_NBR", "1003")})).dataSets.at("OFFICER");
  ASSERT_EQ(searched.rows.size(), 1u);
  EXPECT_EQ(std::get<std::string>(searched.rows[0][searched.ColumnIndex("INSP_NME_LST")]),
            "Brown,SR");
  EXPECT_TRUE(this->Ok(Search({Key("REF_TYP_CD", "C")})).dataSets.at("OFFICER").rows.empty());
}

TYPED_TEST(HandlerSuite, SearchFindingTooManyRangesAsksForANarrowerSelection) {
  EXPECT_THAT(this->Error(Search({})), HasSubstr("more than 6 ranges"));
}

// Saves answered as text (their requery cut short at the limit): applied, applied before
// (the same id), stale, forbidden; comments JSON must escape, and bytes that are not UTF-8.
TYPED_TEST(HandlerSuite, ReplyAnsweredAsTextIsTheTextOfTheReply) {
  const std::vector<std::string> comments = {"plain", "quote \" and \\ back",
                                             "line\nbreak\ttab\x01", "caf\xc3\xa9"};
  const Principal viewer{7, "Vera Viewer", Role::Viewer, StationScope::Everywhere()};
  for (std::size_t i = 0; i < comments.size(); ++i) {
    SCOPED_TRACE(comments[i]);
    Request save = Search({Key("THIN", i % 2 ? "YES" : "NO")});
    save.requestId = fmt::format("text-save-{}", i);
    save.messageType = protocol::kSaveRequeryMessage;
    save.dataSets.emplace("TROOPFORM", ChangeRows({{"UPD", "100", "199", "A", "1", "B", "1002", "A",
                                                    comments[i], std::to_string(i + 1)}}));
    auto expectSameText = [&](const Principal& principal) {
      std::string text;
      StreamedReply streamed = this->mHandler->HandleToJson(save, principal, text);
      HandledRequest again = this->mHandler->Handle(save, principal);  // the same id again
      EXPECT_EQ(text, protocol::ReplyToJson(again.reply));
      EXPECT_EQ(streamed.error, again.reply.error);
      EXPECT_EQ(streamed.forbidden, again.forbidden);
      return again;
    };
    HandledRequest applied = expectSameText(this->mActor);
    ASSERT_TRUE(applied.reply.ok) << applied.reply.error;
    EXPECT_EQ(applied.reply.dataSets.at("TROOPFORM").rows.size(), 6u);
    EXPECT_EQ(CellOf(applied.reply, 100, "TRP_FORM_CMMT_TXT"), Cell{comments[i]});
    save.requestId += "-stale";  // the version sent is the one just replaced
    EXPECT_THAT(expectSameText(this->mActor).reply.error, HasSubstr("after your search"));
    save.requestId += "-viewer";
    EXPECT_TRUE(expectSameText(viewer).forbidden);
  }
}

// Applied once (a retry after a lost reply gets the same kind of answer), answered with the
// refreshed search, and recorded for the principal whatever user the request claims.
TYPED_TEST(HandlerSuite, SaveAppliesTheRowsOnceAndRecordsThePrincipal) {
  Request save = Search({Key("TRP_ID", "A"), Key("REF_TYP_CD", "B"), Key("INACTIVE", "N"),
                         Key("TRP_ACTN_CD", "V", "<>"), Key("THIN", "YES")});
  save.messageType = protocol::kSaveRequeryMessage;
  save.userId = 1002;  // claims to be John Smith
  save.dataSets.emplace("TROOPFORM",
                        ChangeRows({{"UPD", "100", "119", "A", "1", "B", "1002", "A", "C0"},
                                    {"ADD", "150", "199", "A", "1", "B", "1002", "A", "C0"},
                                    {"ADD", "120", "149", "A", "1", "B", "1003", "A", "stamped"}}));
  Reply reply = this->Ok(save);
  EXPECT_THAT(Ranges(reply), ElementsAre("B 100-119", "B 120-149", "B 150-199", "B 200-299"));
  // The replaced range moved on to version 2; its pieces start at 1.
  EXPECT_EQ(CellOf(reply, 100, "ROW_VERSION"), Cell{std::int64_t{2}});
  EXPECT_EQ(CellOf(reply, 150, "ROW_VERSION"), Cell{std::int64_t{1}});
  EXPECT_EQ(Ranges(this->Ok(save)), Ranges(reply));

  const auto history = this->mStore->FormHistory("B", 130);
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[1].userId, 1001);
  EXPECT_EQ(history[1].userName, "Margaret Hartley");
  EXPECT_EQ(history[1].claimedUserId, 1002);
  EXPECT_EQ(history[0].claimedUserId, std::nullopt) << "a load claims nothing";
  const auto stamp = this->mStore->FindRanges({}).at(1).lastChange;
  EXPECT_EQ(stamp.userId, 1001);
  EXPECT_EQ(stamp.userName, "Margaret Hartley");
}

// A save the store refuses is answered with the reason and the current state. Rows that do
// not read (their messages are the wire rows' own), a save without rows and a bad criterion
// stop the save before the store sees it.
TYPED_TEST(HandlerSuite, RefusedSaveAnswersTheReasonAndTheCurrentStateAndChangesNothing) {
  auto save = [](std::vector<std::string> row) {
    Request r = Search({Key("TRP_ID", "A"), Key("REF_TYP_CD", "B"), Key("THIN", "YES")});
    r.messageType = protocol::kSaveRequeryMessage;
    r.requestId += "-" + row[1] + "-" + row[7];
    r.dataSets.emplace("TROOPFORM", ChangeRows({std::move(row)}));
    return r;
  };
  // Clerk B moves 200-299 to officer 1003; clerk A then voids it from the search she made
  // before.
  this->mActor = Principal::LocalAdministrator(1002, "John Smith,jr");
  this->Ok(save({"UPD", "200", "299", "A", "2", "B", "1003", "A", "", "1"}));
  this->mActor = Principal::LocalAdministrator(1001, "Margaret Hartley");
  Reply refused = this->Refused(save({"UPD", "200", "299", "A", "2", "B", "0", "V", "", "1"}));
  EXPECT_THAT(refused.error,
              ::testing::MatchesRegex("Range 200-299 of OOS Decals was changed by John Smith,jr at "
                                      "[0-9/]+ [0-9:]+ [AP]M after your search\\. Search again and "
                                      "repeat the change\\."));
  EXPECT_EQ(CellOf(refused, 200, "ASGND_REG_NBR"), Cell{std::int64_t{1003}});
  EXPECT_EQ(CellOf(refused, 200, "ROW_VERSION"), Cell{std::int64_t{2}});
  EXPECT_EQ(CellOf(refused, 200, "TRP_ACTN_CD"), Cell{std::string("A")});

  const Request current = save({"UPD", "200", "299", "A", "2", "B", "0", "V", "", "2"});
  Request bad = current;
  bad.dataSets["TROOPFORM"] = ChangeRows({{"UPD", "1OO", "149", "A", "1", "B", "0", "A", ""}});
  EXPECT_THAT(this->Error(bad), HasSubstr("Change row 1, column FRM_FORM_NBR"));
  bad.dataSets.clear();
  EXPECT_THAT(this->Error(bad), HasSubstr("\"TROOPFORM\""));
  bad = current;
  bad.criteria.push_back(Key("NOPE", "1"));
  EXPECT_THAT(this->Error(bad), HasSubstr("key:NOPE"));
  EXPECT_EQ(CellOf(this->Ok(Search({Key("REF_TYP_CD", "B")})), 200, "TRP_ACTN_CD"),
            Cell{std::string("A")});
}

TYPED_TEST(HandlerSuite, SaveOutsideTheRoleOrScopeIsForbiddenAndChangesNothing) {
  // ACTION FROM TO TROOP DIST TYPE REG STATUS COMMENT VERSION
  const std::vector<std::string> kVoid = {"UPD", "200", "299", "A", "2", "B", "0", "V", "", "1"};
  const std::vector<std::string> kToB2 = {"UPD", "200", "299", "B", "2", "B", "0", "A", "", "1"};
  struct Case {
    Role role;
    const char* stations;
    std::vector<std::string> row;
    const char* refusal;  // empty: applied
  };
  const Case cases[] = {
      {Role::Viewer, "*", kVoid, "Your account (viewer) may search"},
      {Role::Clerk, "A2", kVoid, ""},
      {Role::Clerk, "A", kVoid, ""},
      {Role::Clerk, "A1", kVoid,
       "Your account may not change ranges of Troop/District A2. Range 200-299 of OOS Decals is "
       "held "
       "there; nothing was saved."},
      {Role::Clerk, "A2", kToB2,
       "Your account may not change ranges of Troop/District B2. Row 1 would put forms 200-299 "
       "of OOS Decals there; nothing was saved."},
      {Role::Clerk,
       "A1",
       {"ADD", "900", "950", "B", "", "B", "0", "A", "", ""},
       "Troop/District B. Row 1 would put forms 900-950"},
      {Role::Admin, "*", kToB2, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(fmt::format("{} {} {}", RoleName(c.role), c.stations, c.row[0]));
    const auto before = this->mStore->FindRanges({});
    std::vector<std::string> row = c.row;
    // The applied cases change 200-299 in turn: each replaces the version it finds.
    if (row[0] == "UPD") row[9] = std::to_string(before.at(1).version);
    Request save = Search({Key("TRP_ID", "A"), Key("REF_TYP_CD", "B")});
    save.messageType = protocol::kSaveRequeryMessage;
    save.dataSets.emplace("TROOPFORM", ChangeRows({row}));
    Principal principal{1001, "Margaret Hartley", c.role, StationScope::Parse(c.stations)};
    const HandledRequest handled = this->mHandler->Handle(save, principal);
    if (*c.refusal == '\0') {
      EXPECT_TRUE(handled.reply.ok) << handled.reply.error;
      EXPECT_FALSE(handled.forbidden);
    } else {
      EXPECT_TRUE(handled.forbidden);
      EXPECT_FALSE(handled.reply.ok);
      EXPECT_THAT(handled.reply.error, HasSubstr(c.refusal));
      EXPECT_TRUE(handled.reply.dataSets.empty());
      EXPECT_EQ(this->mStore->FindRanges({}), before) << "nothing applied";
    }
  }
}

TYPED_TEST(HandlerSuite, OneHandlerServesManyThreads) {
  std::vector<std::thread> threads;
  std::atomic<int> good{0};
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 10; ++i) {
        Request save = Search({Key("REF_TYP_CD", "Z"),
                               Key("FORM_SEARCH_NBR", fmt::format("{}", 10000 + t * 100 + i))});
        save.messageType = protocol::kSaveRequeryMessage;
        const std::string n = std::to_string(10000 + t * 100 + i);
        save.dataSets.emplace("TROOPFORM",
                              ChangeRows({{"ADD", n, n, "A", "1", "Z", "0", "A", ""}}));
        Reply reply = this->mHandler->Handle(save, this->mActor).reply;
        if (reply.ok && Ranges(reply) == std::vector<std::string>{"Z " + n + "-" + n}) ++good;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(good.load(), 80);
}

Request Custody(int type, std::vector<Criterion> criteria) {
  Request r = Search(std::move(criteria));
  r.messageType = type;
  return r;
}

TYPED_TEST(HandlerSuite, HistoryAndReportRequestsAnswerInWordsAndInRanges) {
  // Margaret Hartley (user 1001) assigns B 220-239 of the unassigned 200-299 to John Smith.
  Request save = Search({Key("TRP_ID", "A"), Key("TRP_DIST_ID", "2")});
  save.messageType = protocol::kSaveRequeryMessage;
  save.dataSets.emplace(
      "TROOPFORM",
      ChangeRows({{"UPD", "200", "219", "A", "2", "B", "0", "A", ""},
                  {"ADD", "240", "299", "A", "2", "B", "0", "A", ""},
                  {"ADD", "220", "239", "A", "2", "B", "1002", "A", "for the night shift", ""}}));
  this->Ok(save);

  const auto history = protocol::FormHistoryFromDataSets(
      this->Ok(Custody(protocol::kFormHistoryMessage,
                       {Key("REF_TYP_CD", "b"), Key("FORM_SEARCH_NBR", "230")}))
          .dataSets);
  ASSERT_EQ(history.entries.size(), 2u);
  EXPECT_EQ(history.entries[0].what, "received with the initial inventory");
  EXPECT_EQ(history.entries[1].what, "assigned to John Smith,jr (1002); split from 200-299");
  EXPECT_EQ(history.entries[1].userName, "Margaret Hartley");
  EXPECT_EQ(history.entries[1].comment, "for the night shift");
  EXPECT_EQ(protocol::HolderText(*history.entries[1].before), "A2");
  EXPECT_EQ(protocol::HolderText(history.entries[1].after), "A2 John Smith,jr (1002)");
  EXPECT_EQ(history.summary,
            "Form 230 of OOS Decals is held by Troop/District A2 Fairview, assigned to John "
            "Smith,jr (1002), status in use, in the range 220-239.");

  auto report = [&](std::vector<Criterion> criteria) {
    criteria.push_back(Key("FROM_DT", "2024-04-30"));
    criteria.push_back(Key("TO_DT", "2024-05-02"));
    return protocol::AccountabilityFromDataSets(
        this->Ok(Custody(protocol::kAccountabilityMessage, std::move(criteria))).dataSets);
  };
  const auto station = report({Key("TRP_ID", "A"), Key("TRP_DIST_ID", "2")});
  ASSERT_EQ(station.lines.size(), 1u);
  EXPECT_EQ(station.lines[0].Tally(AccountLine::Received).count, 100);
  EXPECT_EQ(station.lines[0].Tally(AccountLine::Ending).count, 100);  // assigned within A2
  const ChainHead head = this->mStore->RecordChainHead();
  EXPECT_GT(head.seq, 0);
  EXPECT_EQ(std::make_pair(station.parameters.chainLink, station.parameters.chainHash),
            std::make_pair(head.seq, head.linkHash));
  const auto officer = report({Key("ASGND_REG_NBR", "1002"), Key("REF_TYP_CD", "B")});
  ASSERT_EQ(officer.lines.size(), 1u);
  const auto& line = officer.lines[0];
  EXPECT_EQ(line.Tally(AccountLine::Received).count, 100);  // B 100-199 loaded as his
  EXPECT_EQ(line.Tally(AccountLine::TransferredIn).ranges,
            (std::vector<protocol::SerialRange>{{220, 239}}));
  EXPECT_EQ(line.Tally(AccountLine::Ending).ranges,
            (std::vector<protocol::SerialRange>{{100, 199}, {220, 239}}));
  EXPECT_EQ(line.Imbalance(), 0);
  EXPECT_EQ(officer.parameters.holder, "John Smith,jr (1002)");
}

TYPED_TEST(HandlerSuite, CustodyRequestsSayWhatIsWrongWithTheirCriteria) {
  const struct {
    int type;
    std::vector<Criterion> criteria;
    const char* says;
  } kCases[] = {
      {35, {Key("REF_TYP_CD", "B")}, "A form history needs the Form Type and the Form Number"},
      {35,
       {Key("REF_TYP_CD", "Q"), Key("FORM_SEARCH_NBR", "5")},
       "The Form Type \"Q\" is not known"},
      {35,
       {Key("REF_TYP_CD", "B"), Key("FORM_SEARCH_NBR", "5x")},
       "The Form Number \"5x\" is not a form number; it is written in digits only"},
      {35,
       {Key("REF_TYP_CD", "B"), Key("FORM_SEARCH_NBR", "5", ">")},
       "The Form Number criterion takes only the operator \"=\", not \">\""},
      {35,
       {Key("TRP_ID", "A")},
       "A form history does not take the Troop/District (troop) criterion; it takes the Form "
       "Type and the Form Number"},
      {36,
       {Key("TRP_DIST_ID", "2")},
       "The Troop/District has a district (\"2\") but no troop; a district is of a troop"},
      {36,
       {Key("TRP_ID", "A"), Key("TRP_ID", "B")},
       "The Troop/District (troop) criterion is given twice"},
      {36,
       {Key("TRP_ID", "A"), Key("OFFICER", "1002")},
       "An accountability report does not take the \"key:OFFICER\" criterion; it takes the "
       "Troop/District (troop), the Troop/District (district), the Registry #, the Form Type, "
       "the first day of the period and the last day of the period"},
  };
  for (const auto& c : kCases) EXPECT_EQ(this->Error(Custody(c.type, c.criteria)), c.says);
}

// Assigning three ranges to an officer in one save: its reply names one receipt, whose three
// lines message 41 answers; a print after the first is a copy, and a viewer may read it.
TYPED_TEST(HandlerSuite, AssigningThreeRangesGivesOneReceiptWithThreeLines) {
  Request save = Search({Key("TRP_ID", "A"), Key("TRP_DIST_ID", "1")});
  save.messageType = protocol::kSaveRequeryMessage;
  save.dataSets.emplace("TROOPFORM",
                        ChangeRows({{"UPD", "1", "50", "A", "1", "Y", "1002", "A", ""},
                                    {"UPD", "5000", "5299", "A", "1", "Z", "1002", "A", ""},
                                    {"ADD", "5600", "5999", "A", "1", "Z", "0", "A", ""},
                                    {"ADD", "5300", "5599", "A", "1", "Z", "1002", "A", ""}}));
  const auto issued = protocol::IssuedReceiptsFromDataSets(this->Ok(save).dataSets);
  ASSERT_EQ(issued.size(), 1u);
  EXPECT_EQ(issued[0].registry, 1002);
  EXPECT_EQ(issued[0].forms, 650);
  EXPECT_TRUE(protocol::IssuedReceiptsFromDataSets(this->Ok(save).dataSets).empty())
      << "the same save again issues nothing";

  const std::string number = std::to_string(issued[0].number);
  auto ask = [&](const char* print) {
    return Custody(protocol::kHandReceiptMessage, {Key("RCPT_NBR", number), Key("PRINT", print)});
  };
  const auto receipt = protocol::HandReceiptFromDataSets(this->Ok(ask("1")).dataSets);
  ASSERT_EQ(receipt.lines.size(), 3u);
  EXPECT_EQ(receipt.lines[2],
            (protocol::ReceiptLine{"Z", 5300, 5599, 300, receipt.lines[2].description}));
  EXPECT_EQ(receipt.clerkName, "Margaret Hartley");
  EXPECT_FALSE(receipt.IsCopy());
  EXPECT_TRUE(protocol::HandReceiptFromDataSets(this->Ok(ask("1")).dataSets).IsCopy());
  this->mActor = Principal{7, "Vera Viewer", Role::Viewer, StationScope::Everywhere()};
  EXPECT_EQ(protocol::HandReceiptFromDataSets(this->Ok(ask("0")).dataSets).printCount, 2);

  // The form history names the receipt of the entry that gave the form.
  const auto history =
      this->Ok(Custody(35, {Key("REF_TYP_CD", "Z"), Key("FORM_SEARCH_NBR", "5400")}));
  EXPECT_EQ(protocol::FormHistoryFromDataSets(history.dataSets).entries.back().receipt,
            issued[0].number);

  EXPECT_EQ(this->Error(Custody(protocol::kHandReceiptMessage, {Key("RCPT_NBR", "9999")})),
            "There is no hand receipt 9999");
  EXPECT_EQ(this->Error(Custody(protocol::kHandReceiptMessage, {})),
            "A hand receipt (message type 41) needs the criterion key:RCPT_NBR");
}

// An assignment over an allotment cap: refused with the figures, and offered an override only
// to an administrator; the same save with his reason passes, and the form's history keeps it.
TYPED_TEST(HandlerSuite, AnAssignmentOverACapPassesOnlyWithAnAdministratorsOverride) {
  this->mStore->SetAllotmentCap({"caps", "test", 1, "Admin"}, {"A", "1", "Z", 250});
  Request save = Search({Key("TRP_ID", "A"), Key("TRP_DIST_ID", "1")});
  save.requestId = "over-the-cap";
  save.messageType = protocol::kSaveRequeryMessage;
  save.dataSets.emplace("TROOPFORM",
                        ChangeRows({{"UPD", "5000", "5299", "A", "1", "Z", "1002", "A", ""},
                                    {"ADD", "5300", "5999", "A", "1", "Z", "0", "A", ""}}));
  const Reply refused = this->Refused(save);
  EXPECT_THAT(refused.error, HasSubstr("would hold 300 unused forms of Seals at Troop/District A1, "
                                       "over its allotment cap of 250: 0 held before and 300"));
  EXPECT_EQ(refused.dataSets.count(protocol::kOverrideDataSet), 1u);

  this->mActor = Principal{8, "Carl Clerk", Role::Clerk, StationScope::Parse("A1")};
  const Reply clerk = this->Refused(save);
  EXPECT_THAT(clerk.error, HasSubstr("An administrator may save it with an override"));
  EXPECT_EQ(clerk.dataSets.count(protocol::kOverrideDataSet), 0u) << "nothing he may do";

  this->mActor = Principal::LocalAdministrator(1001, "Margaret Hartley");
  save.criteria.push_back(Key("OVERRIDE_REASON", "court week: two shifts"));
  this->Ok(save);
  const auto history =
      this->Ok(Custody(35, {Key("REF_TYP_CD", "Z"), Key("FORM_SEARCH_NBR", "5100")}));
  EXPECT_EQ(protocol::FormHistoryFromDataSets(history.dataSets).entries.back().overrideReason,
            "court week: two shifts");

  Request search = Search({Key("TRP_ID", "A"), Key("OVERRIDE_REASON", "x")});
  EXPECT_THAT(this->Error(search), HasSubstr("is a criterion of a save"));
}

}  // namespace
}  // namespace fm::server::testing
