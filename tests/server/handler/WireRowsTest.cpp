#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "server/handler/RequestError.h"
#include "server/handler/WireRows.h"

namespace fm::server {
namespace {

using protocol::Cell;
using protocol::ColumnType;
using protocol::DataSet;
using ::testing::HasSubstr;

DataSet Rows(std::vector<protocol::Column> columns, std::vector<protocol::Row> rows) {
  return DataSet{std::move(columns), std::move(rows)};
}

std::string ErrorOf(const DataSet& set) {
  try {
    ChangesFromDataSet(set);
  } catch (const RequestError& e) {
    return e.what();
  }
  return "accepted";
}

TEST(ChangesFromDataSet, ReadsTextsIntegersAndWholeDoubles) {
  DataSet set = Rows({{"ACTION", ColumnType::Text},
                      {"FRM_FORM_NBR", ColumnType::Integer},
                      {"TO_FORM_NBR", ColumnType::Double},
                      {"TRP_ID", ColumnType::Text},
                      {"FORM_TYP_CD", ColumnType::Text},
                      {"ASGND_REG_NBR", ColumnType::Text},
                      {"FORM_QTR_DT", ColumnType::Text},
                      {"TRP_FORM_CMMT_TXT", ColumnType::Text},
                      {"SOMETHING_ELSE", ColumnType::Text},
                      {"ROW_VERSION", ColumnType::Text}},
                     {{std::string("upd "), std::int64_t{100}, 199.0, std::string("b"),
                       std::string("y"), std::string(" 1003"), std::string(""),
                       std::string("  (stamp)"), std::string("ignored"), std::string(" 7")}});
  auto changes = ChangesFromDataSet(set);
  ASSERT_EQ(changes.size(), 1u);
  const RangeChange& c = changes[0];
  EXPECT_EQ(c.action, RangeChange::Action::Update);
  EXPECT_EQ(c.from, 100);
  EXPECT_EQ(c.to, 199);
  EXPECT_EQ(c.troop, "B");
  EXPECT_EQ(c.district, "");
  EXPECT_EQ(c.formType, "Y");
  EXPECT_EQ(c.registry, 1003);
  EXPECT_FALSE(c.quarter.has_value()) << "a blank text is null";
  EXPECT_FALSE(c.status.has_value()) << "a missing column is null";
  EXPECT_EQ(c.comment, "  (stamp)") << "comments travel as written";
  EXPECT_EQ(c.rowVersion, 7);
}

TEST(ChangesFromDataSet, RefusalsNameTheRowAndColumn) {
  std::vector<protocol::Column> columns{{"ACTION", ColumnType::Text},
                                        {"FRM_FORM_NBR", ColumnType::Text},
                                        {"TO_FORM_NBR", ColumnType::Double},
                                        {"TRP_ID", ColumnType::Text},
                                        {"FORM_TYP_CD", ColumnType::Text}};
  auto row = [](Cell action, Cell from, Cell to, Cell troop) {
    return protocol::Row{action, from, to, troop, std::string("B")};
  };
  const Cell add = std::string("ADD");
  EXPECT_THAT(ErrorOf(Rows(columns, {row(add, std::string("1"), 2.0, std::string("A")),
                                     row(add, std::string("x1"), 2.0, std::string("A"))})),
              HasSubstr("Change row 2, column FRM_FORM_NBR: \"x1\" is not a whole number"));
  EXPECT_THAT(ErrorOf(Rows(columns, {row(add, std::string("1"), 2.5, std::string("A"))})),
              HasSubstr("column TO_FORM_NBR: 2.5 is not a whole number"));
  EXPECT_THAT(ErrorOf(Rows(columns, {row(add, Cell{}, 2.0, std::string("A"))})),
              HasSubstr("column FRM_FORM_NBR: the value is missing"));
  EXPECT_THAT(
      ErrorOf(Rows(columns, {row(std::string("NEW"), std::string("1"), 2.0, std::string("A"))})),
      HasSubstr("\"NEW\" is neither \"ADD\" nor \"UPD\""));
  EXPECT_THAT(
      ErrorOf(Rows(columns, {row(std::string("UPD"), std::string("1"), 2.0, std::string("A"))})),
      HasSubstr("Change row 1, column ROW_VERSION: an \"UPD\" row must carry the version"));
  columns.pop_back();
  EXPECT_THAT(ErrorOf(Rows(columns, {})), HasSubstr("no column FORM_TYP_CD"));
}

// The check the HTTP front answers 422 with, before the handler runs.
TEST(MissingRowVersion, NamesTheFirstUpdateWithoutOne) {
  struct Case {
    std::vector<std::pair<std::string, Cell>> rows;  // ACTION, ROW_VERSION
    std::optional<std::string> expected;             // start of the message
  };
  const Cell none;
  const std::vector<Case> cases = {
      {{{"ADD", none}, {"add", none}}, std::nullopt},
      {{{"UPD", Cell{std::int64_t{3}}}, {"ADD", none}}, std::nullopt},
      {{{"UPD", Cell{std::string("3")}}}, std::nullopt},
      {{{"UPD", none}}, "Change row 1, column ROW_VERSION"},
      {{{" upd", Cell{std::string("  ")}}}, "Change row 1, column ROW_VERSION"},
      {{{"UPD", Cell{std::int64_t{3}}}, {"UPD", none}}, "Change row 2, column ROW_VERSION"},
  };
  for (const auto& c : cases) {
    DataSet set;
    set.columns = {{"ACTION", ColumnType::Text}, {"ROW_VERSION", ColumnType::Text}};
    for (const auto& [action, version] : c.rows) set.rows.push_back({Cell{action}, version});
    auto missing = MissingRowVersion(set);
    ASSERT_EQ(missing.has_value(), c.expected.has_value()) << c.rows.size();
    if (c.expected) {
      EXPECT_THAT(*missing, ::testing::StartsWith(*c.expected));
    }
  }
  DataSet noColumn;
  noColumn.columns = {{"ACTION", ColumnType::Text}};
  noColumn.rows = {{Cell{std::string("UPD")}}};
  EXPECT_TRUE(MissingRowVersion(noColumn).has_value());
}

TEST(ReplyDataSets, OfficerRowsCarryNullForEmptyTexts) {
  Officer o;
  o.troop = "A";
  o.district = "1";
  o.registry = 1002;
  o.lastName = "Smith,jr";
  DataSet set = OfficerDataSet({o});
  ASSERT_EQ(set.rows.size(), 1u);
  EXPECT_EQ(set.columns.size(), 11u);
  EXPECT_EQ(std::get<std::int64_t>(set.rows[0][set.ColumnIndex("INSP_ID")]), 1002);
  EXPECT_TRUE(
      std::holds_alternative<std::monostate>(set.rows[0][set.ColumnIndex("INSP_NME_FRST")]));
}

}  // namespace
}  // namespace fm::server
