// The models of the custody windows, the reassignment and the windows of the uses of form
// numbers, without a window: what each sends for the entries given, and what it says of
// refusals and of answers it cannot use. Their happy paths through a real inventory are in
// tests/qt/accountability and tests/qt/usage.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "TempFolder.h"
#include "document/DocumentFixture.h"
#include "platform/ReplyStore.h"
#include "shell/Accountability.h"
#include "shell/FormHistory.h"
#include "shell/PhysicalCount.h"
#include "shell/RecordUse.h"
#include "shell/StockOnHand.h"
#include "shell/TrooperReassignment.h"
#include "shell/UnaccountedForms.h"
#include "shell/UsageImport.h"
#include "transport/RecordsetWire.h"

namespace fm::shell {
namespace {

protocol::UsageOutcome Outcome(std::int64_t lines, std::int64_t recorded, std::int64_t already,
                               bool preview = false) {
  protocol::UsageOutcome o;
  o.lines = lines;
  o.recorded = recorded;
  o.alreadyRecorded = already;
  o.preview = preview;
  return o;
}

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
    const auto& sent = messages->LastSent();
    if (error.empty() || !replies.empty()) {
      messages->ReplyOk(sent.requestId, replies);
      // A refusal that carries what it refused (a batch of uses and its bad lines).
      if (!error.empty()) Services::Replies()->SetError(sent.identity, sent.requestId, error);
    } else {
      messages->ReplyError(sent.requestId, error);
    }
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
  withdrawn.overrideReason = "approved by Lt. Ames";  // travels in the data sets too
  model.Request(0, "42");
  auto sets = protocol::FormHistoryToDataSets(history);
  sets.emplace(
      protocol::kFormCountDataSet,
      protocol::FormCountsToDataSet(
          {{3, "A", "1", "2026-12-01T11:00:00.000Z", "Avery Auditor", "missing", "lost"},
           {4, "A", "1", "2026-12-02T11:00:00.000Z", "Avery Auditor", "other_station", ""}}));
  Answer(sets);
  EXPECT_EQ(model.Status().text, "1 change of form 42 of " + description + ".");
  EXPECT_EQ(model.CountRows().at(0),
            (FormHistory::CountRow{"3", "A1", "local 2026-12-01T11:00:00.000Z", "Avery Auditor",
                                   "missing", "lost"}));
  EXPECT_EQ(model.CountRows().at(1)[4], "unexpected: held by another station");
  const auto row = model.Rows().at(0);
  EXPECT_EQ(
      std::vector<std::string>(row.begin(), row.end()),
      (std::vector<std::string>{"local 2026-11-02T14:05:00.000Z", "", "", "5-9", "A1", "Activate",
                                "(withdrawn)", "", "Destroyed", "approved by Lt. Ames", ""}));
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
  report.parameters = {"A", "1", false, 1001, "", first, last, "", "", "A1", "", 0, ""};
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

TEST_F(CustodyModelsTest, AnImportFileIsSentOnlyWhenItIsWithinTheLimitAndUtf8) {
  const testing::TempFolder folder;
  const struct {
    std::string bytes;
    std::uintmax_t limit;
    std::string problem;  // the start of what is said; empty: fit to send
  } cases[] = {
      {"form_type,number\nC,1\n", 100, ""},
      {"\xEF\xBB\xBF"
       "form_type\n",
       100, ""},
      {"a\nb\nc\xFF\n", 100, "is not UTF-8 text: byte 6 (on line 3) is not"},
      {"a\n\xE2\x82", 100, "is not UTF-8 text: byte 3 (on line 2) is not"},
      {"123456789012", 10, "is 12 bytes, larger than the 10 bytes the desktop imports"},
  };
  for (const auto& c : cases) {
    const auto path = folder.Path() / "uses.csv";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << c.bytes;
    ImportFile file;
    const std::string problem = ReadImportFile(path, c.limit, file);
    if (c.problem.empty()) {
      EXPECT_EQ(problem, "") << c.bytes;
      EXPECT_EQ(file.text, c.bytes);
      EXPECT_EQ(file.name, "uses.csv");
    } else {
      EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
      EXPECT_NE(problem.find("nothing was sent"), std::string::npos) << problem;
    }
  }
  ImportFile none;
  EXPECT_NE(ReadImportFile(folder.Path() / "missing.csv", 100, none).find("cannot be read"),
            std::string::npos);
}

TEST_F(CustodyModelsTest, AnImportIsPreviewedFirstAndOnlyAFileThatChangesSomethingImports) {
  const testing::TempFolder folder;
  const auto path = folder.Path() / "november.csv";
  const std::string bytes = "form_type,number,disposition,used_on,officer,reference,note\n";
  std::ofstream(path, std::ios::binary) << bytes;
  int recorded = 0;
  UsageImport model({}, [&] { ++recorded; });
  model.Preview(path, " ");
  EXPECT_TRUE(model.Status().problem && Sent().empty());

  const auto answer = [&](protocol::UsageOutcome outcome, const std::string& error = {}) {
    Answer(protocol::UsageOutcomeToDataSets(outcome), error);
  };
  model.Preview(path, " Court export ");
  EXPECT_EQ(Sent(), "SOURCE=Court export PREVIEW=Y");
  const Recordset& file = *messages->LastSent().dataSets.at(protocol::kUseFileDataSet);
  EXPECT_EQ(file.ValueAt(0, file.FindField("FILE_NAME")).ToText(), "november.csv");
  EXPECT_EQ(file.ValueAt(0, file.FindField("FILE_TEXT")).ToText(), bytes);
  protocol::UsageOutcome bad = Outcome(2, 0, 0, true);
  bad.badLines = {{3, "the number is missing"}};
  bad.badLineCount = 5;
  answer(bad, "No use was recorded: 5 lines are bad");
  EXPECT_FALSE(model.CanImport());
  EXPECT_EQ(model.Summary().rfind("5 lines of the 2 lines are bad (the first 1 listed)", 0), 0u)
      << model.Summary();
  const auto row = model.Rows().at(0);
  EXPECT_EQ(std::vector<std::string>(row.begin(), row.end()),
            (std::vector<std::string>{"3", "Bad line", "the number is missing"}));

  protocol::UsageOutcome fine = Outcome(2, 1, 1, true);
  model.Preview(path, "Court export");
  answer(fine);
  ASSERT_TRUE(model.CanImport()) << model.Summary();
  model.Import();
  EXPECT_EQ(Sent(), "SOURCE=Court export");
  fine.preview = false;
  answer(fine);
  EXPECT_TRUE(model.Imported() && !model.CanImport());
  EXPECT_EQ(recorded, 1);
  EXPECT_EQ(model.Status().text,
            "Imported 2 lines: 1 use recorded, 1 already recorded, 0 conflicts kept apart.");

  protocol::UsageOutcome again = Outcome(2, 0, 0, true);
  again.sameFileAgain = true;
  model.Preview(path, "Court export");
  answer(again);
  EXPECT_FALSE(model.CanImport());
  EXPECT_NE(model.Summary().find("changes nothing"), std::string::npos) << model.Summary();
}

TEST_F(CustodyModelsTest, ARecordedUseIsCheckedAgainstItsRangeAndDisposition) {
  int recorded = 0;
  RecordUse model(
      {"C", "Citation", 100, 199, 1001}, [] { return std::string("2026-11-30"); }, {},
      [&] { ++recorded; });
  using D = protocol::Disposition;
  const struct {
    UseEntries entries;
    const char* said;
  } refused[] = {
      {{"99", "", D::Lost, "2026-11-30", "", "", "", "desk"}, "Type a number of the range 100-199"},
      {{"150", "140", D::Lost, "2026-11-30", "", "", "", "desk"}, "Type a number of the range"},
      {{"150", "200", D::Lost, "2026-11-30", "", "", "", "desk"}, "Type a number of the range"},
      {{"150", "", D::Lost, "", "", "", "", "desk"}, "Type the day the form was used."},
      {{"150", "", D::Lost, "2026-12-01", "", "", "", "desk"}, "The day of use cannot be after"},
      {{"150", "", D::Issued, "2026-11-30", "1001", "", "", "desk"},
       "Issued form needs a reference."},
      {{"150", "", D::Spoiled, "2026-11-30", " ", "", "", ""},
       "Spoiled form needs the officer, a note saying why and the source."},
      {{"150", "", D::Stolen, "2026-11-30", "", "", "", "desk"}, "Stolen form needs a reference."},
  };
  for (const auto& c : refused) {
    model.Record(c.entries);
    EXPECT_EQ(model.Status().text.rfind(c.said, 0), 0u) << model.Status().text;
    EXPECT_TRUE(model.Status().problem && Sent().empty()) << c.said;
  }
  model.Record({" 105 ", "107", D::Lost, "2026-11-29", "", "", " fell off ", " desk "});
  EXPECT_EQ(Sent(), "SOURCE=desk");
  const auto uses =
      protocol::UseRowsFromDataSet(ToWireDataSet(*messages->LastSent().dataSets.at("USEROW")));
  ASSERT_EQ(uses.size(), 1u);
  EXPECT_EQ(uses[0],
            (protocol::ReportedUse{"C", "105", "LOST", "2026-11-29", "", "", "fell off", "107"}));
  Answer(protocol::UsageOutcomeToDataSets(Outcome(1, 3, 0)));
  EXPECT_EQ(model.Status().text, "Recorded 3 forms (105-107): Lost.");
  model.Record({"105", "", D::Lost, "2026-11-29", "", "", "", "desk"});
  protocol::UsageOutcome conflict = Outcome(1, 0, 0);
  conflict.conflicts = {{1, "form 105 ... kept apart"}};
  conflict.conflictCount = 1;
  Answer(protocol::UsageOutcomeToDataSets(conflict));
  EXPECT_EQ(model.Status().text, "Kept apart as a conflict: form 105 ... kept apart");
  EXPECT_EQ(recorded, 2);
}

TEST_F(CustodyModelsTest, UnaccountedFormsAsksForOneHolderAndSaysWhatToFollowUp) {
  UnaccountedForms model({}, {}, {});
  const struct {
    UnaccountedEntries entries;
    const char* sent;  // empty: refused
  } cases[] = {
      {{"a1", "1001", "", "2026-11-30", "30"}, ""},
      {{"", "", "", "2026-11-30", "30"}, ""},
      {{"a1", "", "", "", "30"}, ""},
      {{"a1", "", "", "2026-11-30", "x"}, ""},
      {{"", "1001", "C", "2026-11-30", " 7 "},
       "ASGND_REG_NBR=1001 REF_TYP_CD=C AS_OF_DT=2026-11-30 GAP_DAYS=7"},
      {{" a1 ", "", "", "2026-11-30", "30"},
       "TRP_ID=A TRP_DIST_ID=1 AS_OF_DT=2026-11-30 GAP_DAYS=30"},
  };
  for (const auto& c : cases) {
    model.Run(c.entries);
    EXPECT_EQ(Sent(), c.sent);
    EXPECT_EQ(model.Status().problem, !*c.sent) << model.Status().text;
    if (*c.sent) Answer({}, "no");
  }
  protocol::Reconciliation report;
  report.troop = "A";
  report.district = "1";
  report.asOf = "2026-11-30";
  report.holder = "A1 Capital City";
  auto& line = report.lines.emplace_back();
  line.holder = "A1 Ann Lee (1001)";
  line.formType = "C";
  line.held.Add({1, 10});
  line.unaccounted.Add({3, 4});
  report.exceptions.emplace_back().facts = "held by A1 Bob (1002)";
  model.Run(cases[5].entries);
  Answer(protocol::ReconciliationToDataSets(report));
  EXPECT_EQ(model.Status().text, "2 forms unaccounted; 1 exception to follow up.");
  EXPECT_EQ(model.LineRows().at(0).back(), "3-4");
  EXPECT_EQ(model.ExceptionRows().at(0).back(), "held by A1 Bob (1002)");
  EXPECT_EQ(model.SuggestedFileName("csv"), "unaccounted-A1-2026-11-30.csv");
  const auto blocks = model.Blocks();
  ASSERT_EQ(blocks.at(3).kind, ReportBlock::Kind::Table);
  EXPECT_TRUE(blocks.at(3).table.rows.at(0).defect);
}

TEST_F(CustodyModelsTest, StockOnHandSetsAMinimumThenAsksAgainAndTheStatusBarNamesTheAlerts) {
  StockOnHand model({}, {});
  for (const auto& [minimum, sent] : std::vector<std::pair<const char*, const char*>>{
           {"x", ""}, {"-1", ""}, {"150", "TRP_ID=A TRP_DIST_ID=1 REF_TYP_CD=C MINIMUM_QTY=150"}}) {
    model.SetMinimum(" a1", "C", minimum);
    EXPECT_EQ(Sent(), sent);
    EXPECT_EQ(model.Status().problem, !*sent) << model.Status().text;
  }
  Answer(protocol::StockMinimumToDataSets({"A", "1", "C", 150, "Ann", "t"}));
  EXPECT_EQ(Sent(), "TRP_ID=A TRP_DIST_ID=1") << "the report of the station, none shown yet";
  protocol::StockReport report;
  report.troop = "A";
  report.district = "1";
  report.asOf = "2026-11-30";
  auto& line = report.lines.emplace_back();
  line.troop = "A";
  line.district = "1";
  line.formType = "C";
  line.unassigned = 120;
  line.withOfficers = 30;
  line.minimum = 150;
  line.weeks = {{"2026-11-24", 30, protocol::WeekSource::Uses}, {"2026-11-17", 0, {}}};
  report.alerts.push_back({1, "A", "1", "C", 120, 150, "t", "r", "", std::nullopt});
  report.countDueDays = 90;
  report.counts = {{"A", "1", 3, "2026-09-01T10:00:00.000Z", true}, {"A", "2", 0, "", true}};
  Answer(protocol::StockReportToDataSets(report));
  EXPECT_EQ(model.Status().text, "1 line is below its minimum.");
  EXPECT_EQ(model.CountHeading(), "Physical counts (one due every 90 days)");
  EXPECT_EQ(model.CountRows(), (std::vector<std::vector<std::string>>{
                                   {"A1", "3", "2026-09-01T10:00:00.000Z", "COUNT OVERDUE"},
                                   {"A2", "never counted", "", "COUNT OVERDUE"}}));
  EXPECT_EQ(model.LineRows().at(0), (std::vector<std::string>{"A1", "C", "120", "30", "150", "15.0",
                                                              "10.0", "Below minimum"}));
  EXPECT_EQ(model.SuggestedFileName("pdf"), "stock-A1-2026-11-30.pdf");
  EXPECT_TRUE(model.Blocks().at(3).table.rows.at(0).defect);
  report.alerts.push_back(report.alerts[0]);
  EXPECT_EQ(
      StockAlertSummary(report.alerts, {{"C", "ENF001 Citation"}}),
      "Stock below minimum: A1 ENF001 Citation (120 of 150); A1 ENF001 Citation (120 of 150)");
}

TEST_F(CustodyModelsTest, APhysicalCountSendsOnlyWhatTheServerCanTakeAndShowsItsResult) {
  PhysicalCount model({}, {});
  const int citation = CodeIndex(model.FormTypes(), "C");
  ASSERT_GE(citation, 0);
  protocol::CountSheet sheet;
  sheet.head = {3, "A", "1", {"C"}, "Avery Auditor", "2026-12-01T09:00:00.000Z", "", "", ""};
  sheet.book = {{"C", 1100001, 1100200, 0, "A"}, {"C", 1100201, 1100300, 1002, "A"}};
  sheet.found = {{"C", 1100001, 1100200, 0, "A"}};
  sheet.missing = {{"C", 1100201, 1100300, 1002, "A"}};
  sheet.unexpected = {{"C", 1200050, 1200050, "other_station", "Troop/District B2"}};
  const std::string statement(PhysicalCount::kMaxStatementLength + 1, 'x');
  const struct {
    const char* what;
    std::function<void()> act;
    const char* sent;  // empty: nothing, and the status says what to correct
  } steps[] = {
      {"no station", [&] { model.ListCounts(" "); }, ""},
      {"not a station", [&] { model.ListCounts("1A"); }, ""},
      {"list", [&] { model.ListCounts(" a1"); }, "TRP_ID=A TRP_DIST_ID=1"},
      {"no form type", [&] { model.Open("A1", {-1}); }, ""},
      {"nothing shown", [&] { model.EnterSpan(-1, "1100001", ""); }, ""},
      {"open", [&] { model.Open("a1", {citation}); }, "TRP_ID=A TRP_DIST_ID=1 REF_TYP_CD=C"},
      {"not a number", [&] { model.EnterSpan(-1, "11000x1", ""); }, ""},
      {"backwards", [&] { model.EnterSpan(-1, "1100005", "1100004"); }, ""},
      {"no statement", [&] { model.Certify("  "); }, ""},
      {"too long", [&] { model.Certify(statement); }, ""},
      {"span", [&] { model.EnterSpan(-1, " 1100001", "1100200"); }, "CNT_NBR=3"},
      {"certify", [&] { model.Certify("Counted."); }, "CNT_NBR=3"},
  };
  for (const auto& step : steps) {
    step.act();
    EXPECT_EQ(Sent(), step.sent) << step.what;
    EXPECT_EQ(model.Status().problem, !*step.sent) << step.what << ": " << model.Status().text;
    if (!*step.sent) continue;
    const auto& carried = messages->LastSent().dataSets;
    if (std::string(step.what) == "span") {
      EXPECT_EQ(protocol::CountEntriesFromDataSet(
                    ToWireDataSet(*carried.at(protocol::kCountEntryDataSet))),
                (std::vector<std::vector<std::string>>{{"", "1100001", "1100200"}}));
    }
    if (std::string(step.what) == "list") {
      Answer(protocol::CountListToDataSets({}));
      EXPECT_EQ(model.Status().text,
                "A1 has no physical count yet: choose its form types and open one.");
    } else if (std::string(step.what) == "certify") {
      Answer({}, "Your account (clerk) holds custody at Troop/District A1 and may not certify");
      EXPECT_EQ(model.Status().text,
                "Your account (clerk) holds custody at Troop/District A1 and may not certify");
    } else {
      Answer(protocol::CountSheetToDataSets(sheet));
    }
  }
  EXPECT_EQ(model.Summary(), "Book: 300 forms in 2 spans. Found 200, missing 100, unexpected 1.");
  EXPECT_EQ(model.CountChoices().size(), 1u) << "the count opened joins the station's list";
  EXPECT_EQ(model.MissingRows().at(0)[4], "officer 1002");
  EXPECT_EQ(model.UnexpectedRows().at(0),
            (std::vector<std::string>{"ENF001 Citation", "1200050", "1200050", "1",
                                      "held by another station", "Troop/District B2"}));

  sheet.head.certifiedAt = "2026-12-01T11:00:00.000Z";
  sheet.head.certifiedBy = "Avery Auditor";
  sheet.head.statement = "Counted.";
  model.Pick(0);
  EXPECT_EQ(Sent(), "CNT_NBR=3");
  Answer(protocol::CountSheetToDataSets(sheet));
  EXPECT_FALSE(model.CanChange());
  model.EnterSpan(-1, "1100250", "");
  EXPECT_TRUE(Sent().empty() && model.Status().problem) << "a certified count never changes";
  EXPECT_EQ(model.Blocks().back().text,
            "Certified by Avery Auditor at 2026-12-01T11:00:00.000Z: Counted.");
}

}  // namespace
}  // namespace fm::shell
