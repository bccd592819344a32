// The models of the custody windows and the reassignment, without a window: what each sends
// for the entries given, and what it says of refusals and of answers it cannot use. Their
// happy paths through a real inventory are in tests/qt/accountability.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "document/DocumentFixture.h"
#include "shell/Accountability.h"
#include "shell/FormHistory.h"
#include "shell/TrooperReassignment.h"
#include "transport/RecordsetWire.h"

namespace fm::shell {
namespace {

class CustodyModelsTest : public testing::DocumentFixture {
 protected:
  // The criteria of the last request ("TRP_ID=A TRP_DIST_ID=1"); empty when nothing was sent
  // since the last call.
  std::string Sent() {
    std::string criteria;
    if (messages->Sent().size() == mSeen) return criteria;
    mSeen = messages->Sent().size();
    for (const auto& c : messages->LastSent().criteria) {
      criteria += (criteria.empty() ? "" : " ") + c.key.substr(4) + "=" + c.value;
    }
    return criteria;
  }
  void Answer(const std::map<std::string, protocol::DataSet>& sets, const std::string& error = {}) {
    std::map<std::string, std::shared_ptr<Recordset>> replies;
    for (const auto& [name, set] : sets) replies[name] = FromWireDataSet(set);
    const std::string& id = messages->LastSent().requestId;
    error.empty() ? messages->ReplyOk(id, replies) : messages->ReplyError(id, error);
    Deliver();
  }

 private:
  std::size_t mSeen = 0;
};

TEST_F(CustodyModelsTest, FormHistorySendsOnlyAFormAndSaysWhatWentWrong) {
  FormHistory model([](const std::string& utc) { return "local " + utc; }, {});
  const int types = static_cast<int>(model.FormTypes().size());
  const auto& [code, description] = model.FormTypes().at(0);
  for (const auto& [type, number] : std::vector<std::pair<int, const char*>>{
           {-1, "5"}, {types, "5"}, {0, ""}, {0, "12x"}, {0, "-"}, {0, "99999999999999999999"}}) {
    model.Request(type, number);
    EXPECT_EQ(model.Status().text, "Choose a form type and type the form number.") << number;
    EXPECT_TRUE(model.Status().problem && Sent().empty()) << number;
  }
  model.Request(0, " 0042 ");
  EXPECT_EQ(Sent(), "REF_TYP_CD=" + code + " FORM_SEARCH_NBR=0042");
  EXPECT_EQ(model.Status().text, "Requesting the history of form 42 of " + description + "...");
  Answer({}, "The server is down.");
  EXPECT_EQ(model.Status().text, "The server is down.");
  model.Request(0, "42");
  Answer({});  // not even the holder
  EXPECT_EQ(model.Status().text.rfind("The history could not be read: ", 0), 0u);
  EXPECT_FALSE(model.HasHistory());

  protocol::FormHistory history{code, 42, {}, std::nullopt, std::nullopt, "Held by A1"};
  auto& withdrawn = history.entries.emplace_back();
  withdrawn.at = "2026-11-02T14:05:00.000Z";
  withdrawn.event = "WITHDRAW";
  withdrawn.range = {5, 9};
  withdrawn.before = protocol::CustodyState{"A", "1", 0, "", "A", "Activate"};
  withdrawn.reason = "Destroyed";
  model.Request(0, "42");
  Answer(protocol::FormHistoryToDataSets(history));
  EXPECT_EQ(model.Status().text, "1 change of form 42 of " + description + ".");
  const auto row = model.Rows().at(0);
  EXPECT_EQ(std::vector<std::string>(row.begin(), row.end()),
            (std::vector<std::string>{"local 2026-11-02T14:05:00.000Z", "", "", "5-9", "A1",
                                      "Activate", "(withdrawn)", "", "Destroyed"}));
  model.ExportToCsv("/no/such/folder/history.csv");
  ASSERT_EQ(ui->messages.size(), 1u);
  EXPECT_EQ(ui->messages[0].title, "Form History");
}

TEST_F(CustodyModelsTest, AccountabilitySendsTheHolderAndPeriodGivenAndCountsWhatDoesNotBalance) {
  Accountability model({}, [](const std::string& day) { return "day " + day; }, {});
  const std::string first = "2026-11-01";
  const std::string last = "2026-11-30";
  using Problem = Accountability::Problem;
  const struct {
    AccountabilityEntries entries;
    Problem problem;
    const char* sent;
  } cases[] = {
      {{"", false, "", "", first, last}, Problem::None, ""},
      {{"A1", false, "", "", "", last}, Problem::FirstDay, ""},
      {{"", false, "1001", "", first, ""}, Problem::LastDay, ""},
      {{"A1", false, "", "", first, last}, Problem::None, "TRP_ID=A TRP_DIST_ID=1"},
      {{"A1", true, "1001", "C", first, last},
       Problem::None,
       "TRP_ID=A ASGND_REG_NBR=1001 REF_TYP_CD=C"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(model.Run(c.entries), c.problem) << c.sent;
    const std::string dates = " FROM_DT=" + first + " TO_DT=" + last;
    EXPECT_EQ(Sent(), *c.sent ? c.sent + dates : "") << c.sent;
    model.Run(c.entries);  // while a report is awaited nothing more is asked
    EXPECT_TRUE(Sent().empty());
    if (*c.sent) Answer({}, "no");
  }
  EXPECT_EQ(model.Status().text, "no");

  protocol::AccountabilityReport report;
  report.parameters = {"A", "1", false, 1001, "", first, last, "", "", "A1", ""};
  for (const char* type : {"C", "M", "P"}) {
    auto& line = report.lines.emplace_back();
    line.formType = type;
    line.Tally(protocol::AccountLine::Received).Add({1, 100});
    if (*type != 'C') line.Tally(protocol::AccountLine::Ending).Add({1, 99});
  }
  model.Run(cases[3].entries);
  Answer(protocol::AccountabilityToDataSets(report));
  EXPECT_EQ(model.Status().text, "3 form types do not balance: a defect of the history.");
  EXPECT_EQ(model.Heading(), "A1 \u2014 day 2026-11-01 to day 2026-11-30");
  EXPECT_EQ(model.SuggestedFileName("pdf"), "accountability-A1-1001-2026-11-01-2026-11-30.pdf");
}

TEST_F(CustodyModelsTest, AReassignmentSavesEveryRangeFoundInOneRequestOrNothing) {
  using Trooper = TrooperReassignment::Trooper;
  const Trooper ann{1001, "Ann Lee", "A", "1"};
  const Trooper bob{1002, "Bob Ray", "A", "1"};
  EXPECT_EQ(TrooperReassignment::Colleagues({ann, bob, {1003, "Cy", "A", "2"}}, ann).size(), 1u);
  std::optional<std::int64_t> chosen;
  TrooperReassignment model([&](const Trooper&, const std::vector<Trooper>&) { return chosen; },
                            {});
  model.Start(ann, {});
  model.Start(ann, {bob});  // cancelled
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(ui->messages.at(0).text,
            "No other trooper of A1 is listed to take the ranges of Ann Lee.");

  chosen = bob.registry;
  protocol::DataSet found{{{"FRM_FORM_NBR", protocol::ColumnType::Integer},
                           {"TO_FORM_NBR", protocol::ColumnType::Text},
                           {"ROW_VERSION", protocol::ColumnType::Integer}},
                          {{std::int64_t{1}, std::string("1000"), std::int64_t{7}},
                           {std::int64_t{2001}, std::string("2500"), std::int64_t{3}}}};
  model.Start(ann, {bob});
  const std::string search = "TRP_ID=A TRP_DIST_ID=1 ASGND_REG_NBR=1001 TRP_ACTN_CD=A INACTIVE=N";
  EXPECT_EQ(Sent(), search + " THIN=YES");
  ui->QueueAnswer(MsgBoxResult::Yes);
  Answer({{protocol::kTroopFormDataSet, found}});
  EXPECT_EQ(ui->messages.back().text.rfind("Reassign the 2 ranges in use at A1 (1,500 forms)", 0),
            0u);
  EXPECT_EQ(Sent(), search + " THIN=YES");  // the save, with the search's criteria
  const Recordset& rows = *messages->LastSent().dataSets.at(protocol::kTroopFormDataSet);
  EXPECT_EQ(rows.RecordCount(), 2);
  EXPECT_EQ(rows.ValueAt(1, rows.FindField("TO_FORM_NBR")).ToText(), "2500");

  // A range the search answers without its numbers: nothing is saved.
  found.rows[1][1] = std::string("25x0");
  model.Start(ann, {bob});
  Sent();
  Answer({{protocol::kTroopFormDataSet, found}});
  EXPECT_TRUE(Sent().empty());
  EXPECT_NE(ui->messages.back().text.find("the answer has a range without its form numbers"),
            std::string::npos);
}

}  // namespace
}  // namespace fm::shell
