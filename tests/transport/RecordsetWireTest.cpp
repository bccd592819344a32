#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "platform/PlatformError.h"
#include "platform/Recordset.h"
#include "transport/RecordsetWire.h"

namespace fm {
namespace {

using ::testing::HasSubstr;

std::shared_ptr<Recordset> MixedRecordset() {
  auto rs = std::make_shared<Recordset>(std::vector<FieldDef>{
      {"TRP_ID", FieldType::Text, 1},
      {"FRM_FORM_NBR", FieldType::Integer, 0},
      {"RATE", FieldType::Double, 0},
  });
  const auto add = [&](Value text, Value number, Value rate) {
    rs->AddNew();
    rs->SetValue(0, std::move(text));
    rs->SetValue(1, std::move(number));
    rs->SetValue(2, std::move(rate));
    rs->Update();
  };
  add("A", std::int64_t{9999999999}, 0.5);          // ten digits
  add(Value(), Value(), Value());                   // nulls everywhere
  add("", std::int64_t{9007199254740993}, -1e300);  // past a double's precision
  add("O'Brien \"Bob\" \xC3\xA9", std::numeric_limits<std::int64_t>::min(), 3.0);
  add("Z", std::numeric_limits<std::int64_t>::max(), Value());
  return rs;
}

void ExpectSameRows(Recordset& a, Recordset& b) {
  ASSERT_EQ(a.FieldCount(), b.FieldCount());
  ASSERT_EQ(a.RecordCount(), b.RecordCount());
  for (int f = 0; f < a.FieldCount(); ++f) {
    EXPECT_EQ(a.Fields()[f].name, b.Fields()[f].name);
    EXPECT_EQ(a.Fields()[f].type, b.Fields()[f].type);
  }
  for (long r = 0; r < a.RecordCount(); ++r) {
    for (int f = 0; f < a.FieldCount(); ++f) {
      EXPECT_EQ(a.ValueAt(r, f), b.ValueAt(r, f)) << "row " << r << " field " << f;
    }
  }
}

TEST(RecordsetWireTest, RoundTripKeepsTypesNullsTenDigitAndFullRangeNumbersAndTexts) {
  const auto original = MixedRecordset();
  const protocol::DataSet wire = ToWireDataSet(*original);

  ASSERT_EQ(wire.columns.size(), 3u);
  EXPECT_EQ(wire.columns[1].type, protocol::ColumnType::Integer);
  EXPECT_EQ(wire.columns[2].type, protocol::ColumnType::Double);
  EXPECT_EQ(wire.rows[0][1], protocol::Cell(std::int64_t{9999999999}));
  EXPECT_TRUE(std::holds_alternative<std::monostate>(wire.rows[1][0]));
  // The empty text is a value, not a null.
  EXPECT_EQ(wire.rows[2][0], protocol::Cell(std::string()));

  const auto back = FromWireDataSet(wire);
  ExpectSameRows(*original, *back);
  EXPECT_TRUE(back->ValueAt(1, 1).IsNull());
  EXPECT_TRUE(back->ValueAt(2, 0).IsText());
  // A data set that may be taken gives the same rows.
  ExpectSameRows(*original, *FromWireDataSet(protocol::DataSet(wire)));
}

TEST(RecordsetWireTest, SendsTheVisibleRowsInTheirOrderWithoutMovingTheCursor) {
  const auto rs = MixedRecordset();
  rs->SetFilter("TRP_ID <> NULL");
  rs->SetSort("TRP_ID DESC");
  rs->MoveLast();
  const auto bookmark = rs->GetBookmark();

  const protocol::DataSet wire = ToWireDataSet(*rs);
  ASSERT_EQ(wire.rows.size(), 4u);
  EXPECT_EQ(wire.rows.front()[0], protocol::Cell(std::string("Z")));
  EXPECT_EQ(wire.rows.back()[0], protocol::Cell(std::string()));
  EXPECT_EQ(rs->GetBookmark(), bookmark);
}

TEST(RecordsetWireTest, AnEditNotYetEndedTravelsAsItStands) {
  const auto rs = MixedRecordset();
  rs->AddNew();
  rs->SetValue("TRP_ID", "B");
  const protocol::DataSet wire = ToWireDataSet(*rs);
  ASSERT_EQ(wire.rows.size(), 6u);
  EXPECT_EQ(wire.rows.back()[0], protocol::Cell(std::string("B")));
}

TEST(RecordsetWireTest, ARecordsetFromTheWireStandsOnItsFirstRowAndTakesTemplateSizes) {
  protocol::DataSet wire;
  wire.columns = {{"trp_id", protocol::ColumnType::Text}, {"EXTRA", protocol::ColumnType::Text}};
  wire.rows = {{std::string("A"), std::monostate{}}, {std::string("B"), std::string("x")}};
  const auto rs = FromWireDataSet(wire, "TROOPFORM");
  EXPECT_EQ(rs->AbsolutePosition(), 1);
  EXPECT_EQ(rs->GetText("TRP_ID"), "A");
  EXPECT_EQ(rs->Fields()[0].size, 1);  // the layout's size for TRP_ID
  EXPECT_EQ(rs->Fields()[1].size, 0);  // a column the layout does not know

  const auto empty = FromWireDataSet(protocol::DataSet{{{"A", protocol::ColumnType::Text}}, {}});
  EXPECT_TRUE(empty->IsEOF());
  EXPECT_EQ(empty->RecordCount(), 0);
}

TEST(RecordsetWireTest, MalformedRowsAreRefusedAndNonFiniteNumbersNotSentNamingRowAndColumn) {
  using protocol::ColumnType;
  const std::pair<protocol::DataSet, const char*> cases[] = {
      {{{{"A", ColumnType::Text}, {"B", ColumnType::Text}},
        {{std::string("x"), std::string("y")}, {std::string("x")}}},
       "Row 2 of the data set has 1 values for 2"},
      {{{{"TO_FORM_NBR", ColumnType::Integer}}, {{std::int64_t{5}}, {std::string("12")}}},
       "Row 2, column 'TO_FORM_NBR'"},
      {{{{"TO_FORM_NBR", ColumnType::Integer}}, {{2.5}}},
       "Row 1: Cannot store a value in field 'TO_FORM_NBR'"},
      {{{{"TRP_ID", ColumnType::Text}, {"trp_id", ColumnType::Integer}}, {}},
       "two columns named 'trp_id'"},
  };
  for (const auto& [wire, says] : cases) {
    for (const bool taken : {false, true}) {
      try {
        taken ? FromWireDataSet(protocol::DataSet(wire)) : FromWireDataSet(wire);
        ADD_FAILURE() << "accepted: " << says;
      } catch (const PlatformError& error) {
        EXPECT_THAT(error.Description(), HasSubstr(says)) << (taken ? "taken" : "copied");
      }
    }
  }

  Recordset rs({{"RATE", FieldType::Double, 0}});
  rs.AddNew();
  rs.SetValue(0, std::numeric_limits<double>::quiet_NaN());
  rs.Update();
  try {
    ToWireDataSet(rs);
    FAIL() << "NaN was sent";
  } catch (const PlatformError& error) {
    EXPECT_THAT(error.Description(), HasSubstr("Row 1, column 'RATE'"));
  }
}

}  // namespace
}  // namespace fm
