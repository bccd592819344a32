// The uses of form numbers on both backends: what an import refuses and keeps, the remaining
// counts that follow uses, corrections, and message type 37 through the request handler.
#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "StoreBackends.h"
#include "protocol/Clearance.h"
#include "protocol/Json.h"
#include "server/handler/ReportRequest.h"
#include "server/handler/RequestError.h"
#include "server/handler/RequestHandler.h"
#include "server/handler/UsageImport.h"
#include "server/store/StoreError.h"

namespace fm::server::testing {
namespace {

using protocol::Disposition;
using protocol::UsageOutcome;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr const char* kHeader = "form_type,number,disposition,used_on,officer,reference,note\n";
constexpr const char* kToday = "2026-06-30";

SaveContext Admin(std::string id) { return {std::move(id), "test", 7, "Ann Lee"}; }

protocol::ReportedUse Reported(std::string number, std::string disposition, std::string officer,
                               std::string reference, std::string note = "", std::string to = "") {
  return {"C",
          std::move(number),
          std::move(disposition),
          "2026-06-10",
          std::move(officer),
          std::move(reference),
          std::move(note),
          std::move(to)};
}

RangeChange Row(RangeChange::Action action, std::int64_t from, std::int64_t to,
                std::string district, std::int64_t registry) {
  RangeChange c;
  c.action = action;
  c.formType = "C";
  c.from = from;
  c.to = to;
  c.troop = district == "1" ? "A" : "B";
  c.district = std::move(district);
  c.registry = registry;
  if (action == RangeChange::Action::Add) c.status = "A";
  return c;
}

// "C 1100005 ISSUED 2026-06-01 1002 CIT-5" for each use of the store, standing ones only.
std::vector<std::string> Standing(Store& store, const std::string& type = "C") {
  std::vector<std::string> out;
  for (const auto& u : store.UsesIn(type, 0, 9'999'999'999)) {
    out.push_back(fmt::format("{} {} {} {} {} {}", u.formType, u.number,
                              protocol::DispositionKey(u.disposition), u.usedOn, u.registry,
                              u.reference));
  }
  return out;
}

std::vector<std::int64_t> Remaining(Store& store) {
  std::vector<std::int64_t> out;
  for (const auto& s : store.FindRanges({})) out.push_back(s.range.remaining);
  return out;
}

template <typename Backend>
class UsageSuite : public StoreFixture<Backend> {
 protected:
  void SetUp() override {
    StoreFixture<Backend>::SetUp();
    if (this->IsSkipped() || this->HasFatalFailure()) return;
    FormRange counted = Stock("C", 1100101, 1100200, 1003, "A", "B", "2");
    counted.remaining = 70;  // what a person recorded, lowest numbers first
    S().LoadInventory({Stock("C", 1100001, 1100100, 1002), counted}, Admin("load"), true);
  }
  Store& S() { return *this->mStore; }
  UseRules Rules(std::uint64_t fileBytes = 1 << 20) const {
    UseRules rules{kToday, {}};
    rules.limits.fileBytes = fileBytes;
    return rules;
  }
  // Imports `lines` (after the header) as the file `name`; the text is kept for the batch.
  UsageOutcome Import(const std::string& name, const std::string& lines,
                      const SaveContext& context = Admin("import")) {
    mTexts.push_back(kHeader + lines);
    return S().RecordUses(context, CsvUseBatch(name, TextBytes(mTexts.back()), "e-cite", Rules()));
  }
  // The store's own check of the whole inventory finds nothing wrong.
  void ExpectAccounted() { EXPECT_THAT(S().CheckInventory().violations, ElementsAre()); }
  std::vector<std::string> mTexts;
};

TYPED_TEST_SUITE(UsageSuite, StoreBackends, BackendNames);

TYPED_TEST(UsageSuite, FileWithBadLinesIsRefusedWholeNamingEachAndStoresNothing) {
  struct BadLine {
    std::string line;
    const char* message;
  };
  const BadLine bad[] = {
      {"C,11000x5,ISSUED,2026-06-01,1002,CIT-5,", "the number \"11000x5\" is not a whole number"},
      {"C,1100006,ISSUED,2026-07-01,1002,CIT-6,", "the date of use 2026-07-01 is after today"},
      {"C,1100007,ISSUED,2026-06-01,2001,CIT-7,", "no officer has the registry number 2001"},
      {"C,1000,LOST,2026-06-01,,,", "must be equal to or between 1100001 and 1999999"},
      {"C,-5,LOST,2026-06-01,,,", "the number \"-5\" is not a whole number"},
      {"C,1100008,SPOILED,2026-06-01,1002,,torn \xC3\x28", "the note is not UTF-8 text"},
      {"C,1100009,ISSUED,2026-06-01,1002,\"=HYPERLINK(\"\"http://x\"\")\",",
       "the reference \"=HYPERLINK(\"http://x\")\" starts with \"=\" and looks like a spreadsheet"},
      {"C,1100010,SPOILED,2026-06-01,1002,,@SUM(A1)", "the note \"@SUM(A1)\" starts with \"@\""},
      {"C,1100011,ISSUED,2026-06-01,1002,,", "an issued form needs a reference"},
      {"C,1100012,VOIDED,2026-06-01,1002,X,", "the disposition \"VOIDED\" is not ISSUED"},
      {"C,1100013,ISSUED,2026-02-30,1002,X,", "2026-02-30\" is not a day written YYYY-MM-DD"},
      {"C,1100014,ISSUED", "the line has 3 fields"},
  };
  std::string lines = "C,1100001,ISSUED,2026-06-01,1002,CIT-1,\n";  // good lines around them
  for (const auto& b : bad) lines += b.line + "\nENF001 citation,1100020,lost,2026-06-01,,,\n";
  const auto before = this->S().FindRanges({});
  const UsageOutcome outcome = this->Import("bad.csv", lines);
  ASSERT_EQ(outcome.badLines.size(), std::size(bad));
  EXPECT_EQ(outcome.badLineCount, static_cast<std::int64_t>(std::size(bad)));
  for (std::size_t i = 0; i < std::size(bad); ++i) {
    EXPECT_EQ(outcome.badLines[i].line, static_cast<std::int64_t>(3 + 2 * i)) << bad[i].line;
    EXPECT_THAT(outcome.badLines[i].message, HasSubstr(bad[i].message)) << bad[i].line;
  }
  EXPECT_EQ(outcome.recorded, 0);
  EXPECT_THAT(Standing(this->S()), ElementsAre());
  EXPECT_EQ(this->S().FindRanges({}), before);
  // Refused, the file was not imported: sent again it is checked again, not "the same file".
  EXPECT_FALSE(this->Import("bad.csv", lines).sameFileAgain);

  // A file past the byte limit is refused whole before a line is read.
  this->mTexts.push_back(std::string(kHeader) + "C,1100001,ISSUED,2026-06-01,1002,CIT-1,\n");
  EXPECT_THROW(CsvUseBatch("big.csv", TextBytes(this->mTexts.back()), "e-cite", this->Rules(64)),
               RequestError);
  // A person's uses are checked the same, and so is the source.
  UseBatch person{{},
                  "",
                  this->Rules(),
                  false,
                  ListedUseLines({Reported("1100001", "ISSUED", "1002", "X")}, 10)};
  EXPECT_THROW(this->S().RecordUses(Admin("no source"), person), StoreError);
  EXPECT_THAT(Standing(this->S()), ElementsAre());
}

TYPED_TEST(UsageSuite, SameFileTwiceChangesNothingAndContradictionsAreKeptApart) {
  const std::string file =
      "C,1100001,ISSUED,2026-06-01,1002,CIT-1,\n"
      "c,1100002,spoiled,2026-06-01,1002,,torn\n"
      "C,1100001,ISSUED,2026-06-01,1002,CIT-1,repeated\n"  // the same use: recorded once
      "C,1100002,ISSUED,2026-06-02,1002,CIT-2,\n";         // contradicts the line before
  UsageOutcome first = this->Import("november.csv", file);
  EXPECT_EQ(first.lines, 4);
  EXPECT_EQ(first.recorded, 2);
  EXPECT_EQ(first.alreadyRecorded, 1);
  ASSERT_EQ(first.conflicts.size(), 1u);
  EXPECT_EQ(first.conflicts[0].line, 5);
  EXPECT_THAT(first.conflicts[0].message, HasSubstr("it stands as SPOILED on 2026-06-01"));
  const auto standing = Standing(this->S());
  const auto counts = Remaining(this->S());

  UsageOutcome again = this->Import("renamed.csv", file);
  EXPECT_TRUE(again.sameFileAgain);
  EXPECT_EQ(again.previousFileName, "november.csv");
  EXPECT_EQ(again.previousRecordedBy, "Ann Lee");
  EXPECT_EQ(again.recorded, 0);

  // Another file reporting one use as it stands and one otherwise.
  UsageOutcome other = this->Import("court.csv",
                                    "C,1100001,ISSUED,2026-06-01,1002,CIT-1,filed\n"
                                    "C,1100001,STOLEN,2026-06-03,,PR-9,\n");
  EXPECT_EQ(other.alreadyRecorded, 1);
  EXPECT_EQ(other.conflictCount, 1);
  EXPECT_EQ(Standing(this->S()), standing);
  EXPECT_EQ(Remaining(this->S()), counts);
  std::vector<std::string> kept;
  this->S().ForEachUseConflict(
      {"C", 1100001, 1100002, std::nullopt, false}, [&](const UseConflict& c, std::size_t) {
        kept.push_back(fmt::format("{} {} {} line {}", c.reported.number,
                                   protocol::DispositionKey(c.reported.disposition),
                                   c.reported.source.fileName, c.line));
        return true;
      });
  EXPECT_THAT(kept,
              ElementsAre("1100001 STOLEN court.csv line 3", "1100002 ISSUED november.csv line 5"));
  this->ExpectAccounted();
}

TYPED_TEST(UsageSuite, RemainingCountsFollowUsesThroughSplitsAndCorrections) {
  Store& s = this->S();
  // Held: 1100001-1100100 (100 remaining) and 1100101-1100200 (70, counted by a person).
  this->Import("uses.csv",
               "C,1100005,ISSUED,2026-06-01,1002,CIT-5,\n"
               "C,1100010,LOST,2026-06-01,,,\n"
               "C,1100050,SPOILED,2026-06-02,1002,,misprint\n");
  EXPECT_THAT(Remaining(s), ElementsAre(97, 70));
  // A split: each piece counts its own uses, one without any its whole size.
  s.ApplyChanges(
      Admin("split"),
      WithCurrentVersions(s, {Row(RangeChange::Action::Update, 1100001, 1100019, "1", 1002),
                              Row(RangeChange::Action::Add, 1100020, 1100049, "2", 1003),
                              Row(RangeChange::Action::Add, 1100050, 1100100, "1", 1002)}));
  EXPECT_THAT(Remaining(s), ElementsAre(17, 30, 50, 70));
  // The first use of the person's range replaces the count they kept.
  this->Import("late.csv", "C,1100150,ISSUED,2026-06-03,1003,CIT-150,\n");
  EXPECT_THAT(Remaining(s), ElementsAre(17, 30, 50, 99));

  const auto lost = s.UsesOf("C", 1100010);
  ASSERT_EQ(lost.size(), 1u);
  const protocol::FormUse corrected =
      s.CorrectUse(Admin("fix"), lost[0].id, Reported("1100010", "ISSUED", "1002", "CIT-10"),
                   "found in the officer's book", this->Rules());
  EXPECT_EQ(corrected.supersedes, lost[0].id);
  EXPECT_THROW(s.CorrectUse(Admin("again"), lost[0].id, Reported("1100010", "LOST", "", ""),
                            "twice", this->Rules()),
               StoreError);
  const auto history = s.UsesOf("C", 1100010);
  ASSERT_EQ(history.size(), 2u);
  EXPECT_FALSE(history[0].standing);
  EXPECT_TRUE(history[1].standing);
  EXPECT_EQ(history[1].correctionReason, "found in the officer's book");
  EXPECT_THAT(Remaining(s), ElementsAre(17, 30, 50, 99));
  // Withdrawn numbers take their uses with them; what stays counts its own.
  s.Withdraw(Admin("wdr"), "C", 1100001, 1100005, "misprinted");
  EXPECT_THAT(Remaining(s), ElementsAre(13, 30, 50, 99));
  this->ExpectAccounted();
}

TYPED_TEST(UsageSuite, RecordUseMessageThroughTheHandlerKeepsRolesAndStations) {
  RequestHandlerOptions options;
  options.today = [] { return std::string(kToday); };
  RequestHandler handler(this->mStore, options);
  auto request = [](std::string id, protocol::DataSet rows, bool preview) {
    protocol::Request r;
    r.requestId = std::move(id);
    r.version = "1.0";
    r.messageType = protocol::kRecordUsageMessage;
    r.criteria = {{"key:SOURCE", "handed back at the desk", "=", "T"}};
    if (preview) r.criteria.push_back({"key:PREVIEW", "Y", "=", "T"});
    r.dataSets.emplace(protocol::kUseRowDataSet, std::move(rows));
    return protocol::RequestFromJson(protocol::RequestToJson(r));  // as it travels
  };
  // A spoiled pad of ten forms, held at A1, and one form held at B2.
  const auto pad = protocol::UseRowsToDataSet(
      {Reported("1100031", "SPOILED", "1002", "", "water damage", "1100040")});
  const auto b2 = protocol::UseRowsToDataSet({Reported("1100150", "ISSUED", "1003", "CIT-150")});
  const Principal viewer{5, "V", Role::Viewer, StationScope::Everywhere()};
  const Principal clerk{6, "C", Role::Clerk, StationScope::Parse("A1")};

  EXPECT_TRUE(handler.Handle(request("v", pad, false), viewer).forbidden);
  const auto refused = handler.Handle(request("c1", b2, false), clerk).reply;
  EXPECT_FALSE(refused.ok);
  EXPECT_THAT(protocol::UsageOutcomeFromDataSets(refused.dataSets).badLines.at(0).message,
              HasSubstr("is held by Troop/District B2, outside your account's stations (A1)"));
  const auto preview = handler.Handle(request("c2", pad, true), clerk).reply;
  ASSERT_TRUE(preview.ok) << preview.error;
  EXPECT_EQ(protocol::UsageOutcomeFromDataSets(preview.dataSets).recorded, 10);
  EXPECT_THAT(Standing(this->S()), ElementsAre());
  const auto recorded = handler.Handle(request("c3", pad, false), clerk).reply;
  ASSERT_TRUE(recorded.ok) << recorded.error;
  EXPECT_EQ(protocol::UsageOutcomeFromDataSets(recorded.dataSets).recorded, 10);
  EXPECT_EQ(this->S().UsesIn("C", 1100031, 1100040).size(), 10u);
  EXPECT_EQ(this->S().UsesOf("C", 1100035).at(0).recordedBy, "C");

  // The report's issued line names the used numbers of its ending balance by disposition.
  ReportParameters june;
  june.station = "A1";
  june.formType = "C";
  june.from = "2026-06-01";
  june.to = kToday;
  const auto report = handler.Accountability(june);
  ASSERT_EQ(report.lines.size(), 1u);
  const protocol::SerialTally spoiled{10, {{1100031, 1100040}}};
  EXPECT_EQ(report.lines[0].usedByDisposition,
            (std::map<std::string, protocol::SerialTally>{{"SPOILED", spoiled}}));
  EXPECT_EQ(report.lines[0].issued, 10);
  EXPECT_EQ(protocol::AccountabilityFromDataSets(protocol::AccountabilityToDataSets(report)),
            report);
  // The form's history shows its use.
  std::vector<protocol::FormUse> uses;
  const auto history = handler.History("C", 1100035, &uses);
  EXPECT_THAT(history.summary, HasSubstr("Used: spoiled on 2026-06-10 by"));
  EXPECT_EQ(uses.size(), 1u);
}

// The auditor's case: officer 1002's book 1100001-1100100 has 60 forms used; the e-citation
// export carries 57 issued and 2 spoiled of them and one citation he wrote on a form of
// officer 1003's range. The reconciliation names the one number missing and the use of the
// other's form with both officers; the same file again changes nothing.
TYPED_TEST(UsageSuite, AuditorFindsTheOneMissingNumberAndTheFormOfAnotherOfficer) {
  std::string lines;
  for (int n = 1; n <= 60; ++n) {
    if (n == 33) continue;  // consumed, never filed
    const bool spoiled = n == 12 || n == 47;
    lines +=
        fmt::format("C,{},{},2026-05-15,1002,{},{}\n", 1100000 + n, spoiled ? "SPOILED" : "ISSUED",
                    spoiled ? "" : fmt::format("CIT-{}", n), spoiled ? "misprinted" : "");
  }
  lines += "C,1100150,ISSUED,2026-05-16,1002,CIT-150,\n";
  const UsageOutcome first = this->Import("ecite-may.csv", lines);
  ASSERT_EQ(first.badLines.size(), 0u);
  EXPECT_EQ(first.recorded, 60);

  RequestHandlerOptions options;
  options.today = [] { return std::string(kToday); };
  RequestHandler handler(this->mStore, options);
  ReconcileParameters asked;
  asked.officer = "1002";
  asked.asOf = kToday;
  const protocol::Reconciliation r = handler.Reconcile(asked);
  ASSERT_EQ(r.lines.size(), 1u);
  const protocol::ReconciliationLine& book = r.lines[0];
  EXPECT_EQ(book.held, (protocol::SerialTally{100, {{1100001, 1100100}}}));
  EXPECT_EQ(book.unaccounted, (protocol::SerialTally{1, {{1100033, 1100033}}}));
  EXPECT_EQ(book.Used(Disposition::Issued).count, 57);
  EXPECT_EQ(book.Used(Disposition::Spoiled).count, 2);
  EXPECT_EQ(book.inStock, (protocol::SerialTally{40, {{1100061, 1100100}}}));
  ASSERT_EQ(r.exceptions.size(), 1u);
  EXPECT_EQ(r.exceptions[0].kind, protocol::UseException::NotHolder);
  EXPECT_EQ(r.exceptions[0].use.number, 1100150);
  EXPECT_THAT(r.exceptions[0].facts, HasSubstr("(1003)"));
  EXPECT_THAT(r.exceptions[0].facts, HasSubstr("(1002)"));

  const UsageOutcome again = this->Import("ecite-may-copy.csv", lines);
  EXPECT_TRUE(again.sameFileAgain);
  EXPECT_EQ(again.recorded, 0);
  const protocol::Reconciliation after = handler.Reconcile(asked);
  EXPECT_EQ(after.lines, r.lines);
  EXPECT_EQ(after.exceptions, r.exceptions);

  // His clearance on leaving: 40 forms in his hands and the one skipped, not clear; once the
  // rest of his book is written and the skipped number reported lost, he is clear.
  const protocol::ClearanceVerdict open = protocol::ClearanceOf(r);
  EXPECT_EQ(open.unused, 41);
  EXPECT_EQ(open.unaccounted, 1);
  EXPECT_FALSE(open.Clear());
  EXPECT_EQ(protocol::ClearanceVerdictText(r).rfind("NOT CLEAR: ", 0), 0u);
  std::string rest = "C,1100033,LOST,2026-05-20,1002,RPT-7,\n";
  for (int n = 61; n <= 100; ++n)
    rest += fmt::format("C,{},ISSUED,2026-06-01,1002,CIT-{},\n", 1100000 + n, n);
  ASSERT_EQ(this->Import("ecite-june.csv", rest).recorded, 41);
  const protocol::Reconciliation cleared = handler.Reconcile(asked);
  EXPECT_TRUE(protocol::ClearanceOf(cleared).Clear()) << protocol::ClearanceText(cleared);
  EXPECT_EQ(protocol::ClearanceVerdictText(cleared).rfind("CLEAR: ", 0), 0u);
}

}  // namespace
}  // namespace fm::server::testing
