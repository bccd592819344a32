// Physical counts on the wire: a count with every part, a list and a form's counts survive
// their data sets and the JSON of a reply whole; the spans a request carries may be numbers
// or texts; damaged data sets are refused by name.
#include <gtest/gtest.h>

#include "protocol/Count.h"
#include "protocol/Json.h"
#include "protocol/ProtocolError.h"

namespace fm::protocol {
namespace {

CountSheet SampleSheet() {
  CountSheet s;
  s.head = {3,
            "A",
            "1",
            {"C", "K"},
            "Avery Auditor",
            "2026-12-01T09:00:00.000Z",
            "Avery Auditor",
            "2026-12-01T11:00:00.000Z",
            "Counted with Tpr. Smith present."};
  s.book = {{"C", 1100001, 1100100, 0, "A"}, {"C", 1100101, 1100200, 1002, "A"}};
  s.counted = {{"C", 1100001, 1100100, 0, ""}, {"C", 1200050, 1200050, 0, ""}};
  s.found = {{"C", 1100001, 1100100, 0, "A"}};
  s.missing = {{"C", 1100101, 1100200, 1002, "A"}};
  s.unexpected = {{"C", 1200050, 1200050, "other_station", "Troop/District B2"}};
  s.settlements = {
      {"C", 1100101, 1100150, "lost", "not on the shelf", "Ann Admin", "2026-12-02T08:00:00.000Z"}};
  return s;
}

// Through a reply's JSON, as a server's answer reaches the desktop.
std::map<std::string, DataSet> CarriedSets(std::map<std::string, DataSet> sets) {
  Reply reply;
  reply.ok = true;
  reply.dataSets = std::move(sets);
  return ReplyFromJson(ReplyToJson(reply)).dataSets;
}

TEST(CountWireTest, ACountAListAndAFormsCountsSurviveTheReply) {
  const CountSheet sheet = SampleSheet();
  EXPECT_EQ(CountSheetFromDataSets(CarriedSets(CountSheetToDataSets(sheet))), sheet);
  CountSheet open = sheet;
  open.head.certifiedAt.clear();
  open.head.certifiedBy.clear();
  open.head.statement.clear();
  open.head.district.clear();  // the troop's own stock
  EXPECT_FALSE(CountSheetFromDataSets(CarriedSets(CountSheetToDataSets(open))).head.Certified());

  const std::vector<CountHead> list = {sheet.head, open.head};
  EXPECT_EQ(CountListFromDataSets(CarriedSets(CountListToDataSets(list))), list);

  const std::vector<FormCount> counts = {
      {3, "A", "1", "2026-12-01T11:00:00.000Z", "Avery Auditor", "missing", "found_later"}};
  std::map<std::string, DataSet> history;
  history.emplace(kFormCountDataSet, FormCountsToDataSet(counts));
  EXPECT_EQ(FormCountsFromDataSets(CarriedSets(history)), counts);
  EXPECT_TRUE(FormCountsFromDataSets({}).empty()) << "an older server sends none";
}

TEST(CountWireTest, ARequestsSpansAndTextTravelAsTyped) {
  const std::vector<std::vector<std::string>> typed = {{"C", "1100001", "1100300"},
                                                       {"", " 1100401", ""}};
  Request request;
  request.dataSets.emplace(kCountEntryDataSet, CountEntriesToDataSet(typed));
  request.dataSets.emplace(kCountTextDataSet, CountTextToDataSet("1100001\n1100002\n"));
  const Request carried = RequestFromJson(RequestToJson(request));
  EXPECT_EQ(CountEntriesFromDataSet(carried.dataSets.at(kCountEntryDataSet)), typed);
  EXPECT_EQ(CountTextFromDataSets(carried.dataSets), "1100001\n1100002\n");

  DataSet numbers;  // another client may send the numbers as numbers, and no To column
  numbers.columns = {{"FORM_TYP_CD", ColumnType::Text}, {"FRM_FORM_NBR", ColumnType::Integer}};
  numbers.rows = {{Cell{std::string("C")}, Cell{std::int64_t{1100001}}}};
  EXPECT_EQ(CountEntriesFromDataSet(numbers),
            (std::vector<std::vector<std::string>>{{"C", "1100001", ""}}));
}

TEST(CountWireTest, DamagedDataSetsAreRefusedByName) {
  const auto sets = CountSheetToDataSets(SampleSheet());
  auto part = sets;
  part[kCountSpanDataSet].rows[0][0] = Cell{std::string("eaten")};
  auto number = sets;
  number[kCountSpanDataSet].rows[0][2] = Cell{std::string("12x")};
  auto heads = sets;
  heads[kCountHeadDataSet].rows.push_back(heads[kCountHeadDataSet].rows[0]);
  auto missing = sets;
  missing.erase(kCountSettlementDataSet);
  for (const auto& [damaged, says] :
       std::vector<std::pair<std::map<std::string, DataSet>, std::string>>{
           {part, "no part \"eaten\""},
           {number, "column FRM_FORM_NBR: expected a whole number"},
           {heads, "must hold exactly one row"},
           {missing, "no data set \"CNTSETL\""}}) {
    try {
      CountSheetFromDataSets(damaged);
      ADD_FAILURE() << "read: " << says;
    } catch (const ProtocolError& e) {
      EXPECT_NE(std::string(e.what()).find(says), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace fm::protocol
