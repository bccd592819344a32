// The custody answers travel as data sets inside a reply: whatever the server computes must
// come out of the JSON the same on the desktop.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <random>

#include "protocol/Custody.h"
#include "protocol/Json.h"
#include "protocol/ProtocolError.h"

namespace fm::protocol {
namespace {

class Random {
 public:
  explicit Random(unsigned seed) : mEngine(seed) {}
  std::int64_t Pick(std::int64_t low, std::int64_t high) {
    return std::uniform_int_distribution<std::int64_t>(low, high)(mEngine);
  }
  std::string Text() {
    static const char* const kWords[] = {
        "", "A", "1", "Void", "comma, inside", "quote \"q\"", "line\nbreak", "Ünïcode"};
    return kWords[Pick(0, 7)];
  }
  SerialTally Tally() {
    SerialTally t;
    for (auto n = Pick(0, 3); n > 0; --n) {
      const auto from = Pick(1, 9'999'999'999);
      t.Add({from, from + Pick(0, 500)});
    }
    return t;
  }
  CustodyState State() {
    return {Text(), Text(), Pick(0, 2000), Text(), Pick(0, 1) ? "A" : "V", Text()};
  }

 private:
  std::mt19937_64 mEngine;
};

Reply Carried(std::map<std::string, DataSet> sets) {
  Reply reply;
  reply.requestId = "r";
  reply.identity = "Accountability#1";
  reply.ok = true;
  reply.dataSets = std::move(sets);
  return ReplyFromJson(ReplyToJson(reply));
}

TEST(CustodyWire, ReportsAndHistoriesComeBackAsTheyWereSent) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE(fmt::format("seed {}", seed));
  Random random(seed);
  for (int round = 0; round < 50; ++round) {
    AccountabilityReport report;
    report.parameters = {
        random.Text(),
        random.Text(),
        random.Pick(0, 1) == 1,
        random.Pick(0, 1) ? std::optional<std::int64_t>(random.Pick(1, 9999)) : std::nullopt,
        random.Text(),
        "2026-11-01",
        "2026-11-30",
        "2026-11-01T05:00:00.000Z",
        "2026-12-01T05:00:00.000Z",
        random.Text(),
        "2026-12-06T10:00:00.000Z",
        random.Pick(0, 99999),
        random.Text()};
    for (auto lines = random.Pick(0, 4); lines > 0; --lines) {
      AccountabilityLine line;
      line.formType = fmt::format("{}", static_cast<char>('A' + random.Pick(0, 25)));
      line.description = random.Text();
      for (auto& tally : line.tallies) tally = random.Tally();
      // A reason is listed by its ranges: one without any does not travel.
      for (const char* code : {"V", "L"}) {
        SerialTally tally = random.Tally();
        if (!tally.ranges.empty()) line.delistedByReason[code] = tally;
      }
      line.issued = random.Pick(0, 1000);
      if (std::none_of(report.lines.begin(), report.lines.end(),
                       [&](const auto& l) { return l.formType == line.formType; })) {
        for (const auto& [code, tally] : line.delistedByReason) {
          report.reasonDescriptions[code] = code == "V" ? "Void" : "Lost";
        }
        report.lines.push_back(std::move(line));
      }
    }
    EXPECT_EQ(AccountabilityFromDataSets(Carried(AccountabilityToDataSets(report)).dataSets),
              report);

    FormHistory history;
    history.formType = "C";
    history.number = random.Pick(0, 9'999'999'999);
    history.summary = random.Text();
    for (auto n = random.Pick(0, 5); n > 0; --n) {
      HistoryEntry e;
      e.at = "2026-11-02T10:00:00.000Z";
      e.userId = random.Pick(0, 2000);
      e.userName = random.Text();
      e.event = "CHANGE";
      e.what = random.Text();
      e.range = {random.Pick(1, 100), random.Pick(100, 200)};
      if (random.Pick(0, 1)) e.before = random.State();
      e.after = random.State();
      e.comment = random.Text();
      e.reason = random.Text();
      e.requestId = random.Text();
      history.entries.push_back(e);
    }
    if (random.Pick(0, 1)) {
      history.currentRange = SerialRange{5, 9};
      history.current = random.State();
    }
    EXPECT_EQ(FormHistoryFromDataSets(Carried(FormHistoryToDataSets(history)).dataSets), history);
  }
}

TEST(CustodyWire, AReplyMissingItsPartsIsRefusedNamingThem) {
  AccountabilityReport report;
  report.lines.push_back({});
  report.lines[0].formType = "C";
  report.lines[0].Tally(AccountLine::Received).Add({1, 5});
  const auto good = AccountabilityToDataSets(report);
  const struct {
    std::function<void(std::map<std::string, DataSet>&)> spoil;
    const char* says;
  } kCases[] = {
      {[](auto& sets) { sets.erase(kAccountLineDataSet); }, "no data set \"ACCTLINE\""},
      {[](auto& sets) { sets[kAccountParameterDataSet].rows.clear(); }, "exactly one row"},
      {[](auto& sets) { sets[kAccountLineDataSet].columns[2].name = "OTHER"; },
       "has no column BGN_CNT"},
      {[](auto& sets) { sets[kAccountLineDataSet].rows[0][2] = std::string("7"); },
       "column BGN_CNT: expected a whole number"},
      {[](auto& sets) { sets[kAccountSpanDataSet].rows[0][1] = std::string("lost"); },
       "no line \"lost\" of form type \"C\""},
  };
  for (const auto& c : kCases) {
    auto sets = good;
    c.spoil(sets);
    try {
      AccountabilityFromDataSets(sets);
      ADD_FAILURE() << "accepted: " << c.says;
    } catch (const ProtocolError& e) {
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
    }
  }
}

TEST(CustodyWire, TalliesJoinTouchingRangesAndKeepFormsCountedTwice) {
  SerialTally t;
  for (SerialRange r :
       {SerialRange{20, 29}, SerialRange{10, 19}, SerialRange{40, 40}, SerialRange{15, 16}}) {
    t.Add(r);
  }
  t.Normalize();
  EXPECT_EQ(t.count, 23);
  EXPECT_EQ(SerialRangesText(t.ranges), "10-19, 15-16, 20-29, 40");
  AccountabilityLine line;
  line.Tally(AccountLine::Beginning).count = 10;
  line.Tally(AccountLine::Received).count = 5;
  line.Tally(AccountLine::Reinstated).count = 1;
  line.Tally(AccountLine::Delisted).count = 2;
  line.Tally(AccountLine::Ending).count = 14;
  EXPECT_EQ(line.Imbalance(), 0);
  line.Tally(AccountLine::Withdrawn).count = 1;
  EXPECT_EQ(line.Imbalance(), -1);
}

}  // namespace
}  // namespace fm::protocol
