// The use vocabulary on the wire: a reconciliation survives its data sets whole, its JSON
// names each holder's unaccounted numbers as [from, to] pairs, and damaged data sets are
// refused by name.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "protocol/ProtocolError.h"
#include "protocol/Usage.h"

namespace fm::protocol {
namespace {

Reconciliation Sample() {
  Reconciliation r;
  r.troop = "A";
  r.district = "4";
  r.asOf = "2026-12-01";
  r.gapDays = 30;
  r.holder = "Troop/District A4";
  r.computedAt = "2026-12-07T09:00:00.000Z";
  ReconciliationLine& line = r.lines.emplace_back();
  line.troop = "A";
  line.district = "4";
  line.registry = 1001;
  line.holder = "Margaret Hartley (1001) at Troop/District A4";
  line.formType = "C";
  line.description = "ENF001 Citation";
  line.held.Add({1100001, 1100100});
  line.Used(Disposition::Issued).Add({1100001, 1100041});
  line.Used(Disposition::Spoiled).Add({1100043, 1100043});
  line.unaccounted.Add({1100042, 1100042});
  line.inStock.Add({1100044, 1100100});
  r.lines.push_back(line);
  r.lines.back().registry = 0;
  ReconciliationException& e = r.exceptions.emplace_back();
  e.kind = UseException::NotHolder;
  e.use.formType = "C";
  e.use.number = 1100150;
  e.use.usedOn = "2026-10-15";
  e.use.registry = 1001;
  e.use.reference = "CIT-9";
  e.facts = "held that day by A4 John Smith (1002)";
  return r;
}

TEST(UsageWireTest, AReconciliationSurvivesItsDataSets) {
  const Reconciliation r = Sample();
  EXPECT_EQ(ReconciliationFromDataSets(ReconciliationToDataSets(r)), r);
}

TEST(UsageWireTest, DamagedDataSetsAreRefusedByName) {
  auto sets = ReconciliationToDataSets(Sample());
  auto spans = sets;
  spans[kReconcileSpanDataSet].rows[0][1] = Cell{std::string("eaten")};
  auto lines = sets;
  lines[kReconcileSpanDataSet].rows[0][0] = Cell{std::int64_t{9}};
  auto missing = sets;
  missing.erase(kReconcileExceptionDataSet);
  for (const auto& [damaged, says] :
       {std::pair{spans, "no part \"eaten\""}, std::pair{lines, "no line 9"},
        std::pair{missing, "RCNEXCP"}}) {
    try {
      ReconciliationFromDataSets(damaged);
      ADD_FAILURE() << says;
    } catch (const ProtocolError& e) {
      EXPECT_NE(std::string(e.what()).find(says), std::string::npos) << e.what();
    }
  }
}

TEST(UsageWireTest, JsonNamesUnaccountedNumbersAsPairs) {
  const auto json = nlohmann::json::parse(ReconciliationToJson(Sample()));
  EXPECT_EQ(json["station"], "A4");
  EXPECT_EQ(json["holders"][0]["officer"], 1001);
  EXPECT_TRUE(json["holders"][1]["officer"].is_null());
  EXPECT_EQ(json["holders"][0]["unaccounted"], nlohmann::json::parse("[[1100042, 1100042]]"));
  EXPECT_EQ(json["holders"][0]["used"]["spoiled"]["count"], 1);
  EXPECT_EQ(json["holders"][0]["in_stock"]["count"], 57);
  EXPECT_EQ(json["exceptions"][0]["kind"], "not_holder");
  EXPECT_EQ(ReconciliationCsvRecords(Sample()).size(), 1 + 2 * 7 + 1u);
}

TEST(UsageWireTest, DispositionsReadInAnyCase) {
  for (Disposition d : kDispositions) {
    std::string lower = DispositionKey(d);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(DispositionFromKey(lower), d);
  }
  EXPECT_EQ(DispositionFromKey("ISSUE"), std::nullopt);
  EXPECT_EQ(DispositionFromKey(""), std::nullopt);
}

}  // namespace
}  // namespace fm::protocol
