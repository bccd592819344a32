#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Criteria.h"
#include "platform/PlatformError.h"
#include "platform/Recordset.h"

namespace fm::detail {
namespace {

// Columns of the kinds criteria meet: code-table rows, officers and form ranges.
const std::vector<FieldDef>& Columns() {
  static const std::vector<FieldDef> columns = {
      {"CD_TBL_CD", FieldType::Text, 8},       {"END_DT", FieldType::Text, 10},
      {"INSP_ID", FieldType::Integer, 0},      {"FORM_TYP_CD", FieldType::Text, 1},
      {"FRM_FORM_NBR", FieldType::Integer, 0}, {"TO_FORM_NBR", FieldType::Integer, 0},
      {"TRP_DIST_ID", FieldType::Text, 2},     {"RATE", FieldType::Double, 0},
      {"INSP_NME_LST", FieldType::Text, 30},
  };
  return columns;
}

// A row with the given values by column name; the others null.
std::vector<Value> Row(std::initializer_list<std::pair<const char*, Value>> cells) {
  std::vector<Value> row(Columns().size());
  for (const auto& [name, value] : cells) {
    row[static_cast<std::size_t>(FindFieldIgnoringCase(Columns(), name))] = value;
  }
  return row;
}

bool Meets(std::string_view criterion, const std::vector<Value>& row) {
  return CompiledCriterion::Compile(criterion, Columns())->Matches(row.data());
}

PlatformError CompileError(std::string_view criterion) {
  try {
    CompiledCriterion::Compile(criterion, Columns());
  } catch (const PlatformError& error) {
    return error;
  }
  ADD_FAILURE() << "no error for: " << criterion;
  return PlatformError(0, "");
}

// --- The criteria texts the screens build

TEST(Criteria, ComparisonsMeanWhatTheScreensCriteriaNeed) {
  const auto registry = Row({{"INSP_ID", 123}});
  const auto name = Row({{"INSP_NME_LST", "Anderson"}});
  const auto mixed = Row({{"INSP_ID", 1}, {"CD_TBL_CD", "X"}});
  const struct {
    std::string criterion;
    std::vector<Value> row;
    bool meets;
  } cases[] = {
      // The form-type look-up's filter: a code without an end date; an empty text is not null.
      {"CD_TBL_CD='C' And END_DT = NULL", Row({{"CD_TBL_CD", "C"}}), true},
      {"CD_TBL_CD='C' And END_DT = NULL", Row({{"CD_TBL_CD", "c"}}), true},
      {"CD_TBL_CD='C' And END_DT = NULL", Row({{"CD_TBL_CD", "C"}, {"END_DT", "2030-01-01"}}),
       false},
      {"CD_TBL_CD='C' And END_DT = NULL", Row({{"CD_TBL_CD", "C"}, {"END_DT", ""}}), false},
      {"CD_TBL_CD='C' And END_DT = NULL", Row({{"CD_TBL_CD", "CC"}}), false},
      // A registry number found with leading zeros, quoted or not.
      {"INSP_ID = 0123", registry, true},
      {"INSP_ID = 123", registry, true},
      {"INSP_ID = 1234", registry, false},
      {"INSP_ID = 1234", Row({{"INSP_ID", 1234}}), true},
      {"INSP_ID = '0123'", registry, true},
      // Null meets only null tests.
      {"INSP_ID = NULL", Row({}), true},
      {"INSP_ID IS NULL", Row({}), true},
      {"INSP_ID <> NULL", Row({}), false},
      {"INSP_ID is not null", Row({}), false},
      {"INSP_ID = 1", Row({}), false},
      {"INSP_ID <> 1", Row({}), false},
      {"INSP_ID < 1", Row({}), false},
      {"INSP_ID >= 1", Row({}), false},
      {"CD_TBL_CD <> 'A'", Row({}), false},
      {"CD_TBL_CD LIKE '*'", Row({}), false},
      {"INSP_ID <> NULL", Row({{"INSP_ID", 0}}), true},
      // Texts compare without regard to letter case; a doubled quote is one quote; ISO
      // dates compare as texts.
      {"insp_nme_lst = 'MCDONALD'", Row({{"INSP_NME_LST", "McDonald"}}), true},
      {"INSP_NME_LST > 'mb'", Row({{"INSP_NME_LST", "McDonald"}}), true},
      {"INSP_NME_LST < 'MCE'", Row({{"INSP_NME_LST", "McDonald"}}), true},
      {"INSP_NME_LST <> 'mcdonald'", Row({{"INSP_NME_LST", "McDonald"}}), false},
      {"INSP_NME_LST = 'O''Brien'", Row({{"INSP_NME_LST", "o'brien"}}), true},
      {"END_DT >= '2024-01-01'", Row({{"END_DT", "2024-06-30"}}), true},
      {"END_DT < #2024-07-01#", Row({{"END_DT", "2024-06-30"}}), true},
      // A text column against a number compares as numbers when the text is one (as texts
      // '9' would sort after '10'), else as texts with the number as written.
      {"TRP_DIST_ID = 1", Row({{"TRP_DIST_ID", "01"}}), true},
      {"TRP_DIST_ID < 10", Row({{"TRP_DIST_ID", "9"}}), true},
      {"TRP_DIST_ID = 1", Row({{"TRP_DIST_ID", "1A"}}), false},
      {"TRP_DIST_ID > 1", Row({{"TRP_DIST_ID", "1A"}}), true},
      // Numeric columns mix whole and decimal numbers.
      {"INSP_ID >= 1.5", Row({{"INSP_ID", 2}}), true},
      {"INSP_ID = 1.5", Row({{"INSP_ID", 1}}), false},
      {"RATE = 2", Row({{"RATE", 2.0}}), true},
      {"RATE < -0.5", Row({{"RATE", -1.25}}), true},
      {"RATE > '1e-3'", Row({{"RATE", 0.01}}), true},
      // LIKE takes * or % for any text and _ for one character, anywhere; a number matches
      // in its written form.
      {"INSP_NME_LST LIKE 'AND*'", name, true},
      {"INSP_NME_LST LIKE '%son'", name, true},
      {"INSP_NME_LST LIKE '*der*'", name, true},
      {"INSP_NME_LST LIKE 'Anders_n'", name, true},
      {"INSP_NME_LST LIKE '*'", name, true},
      {"INSP_NME_LST LIKE 'anderson'", name, true},
      {"INSP_NME_LST like 'And'", name, false},
      {"INSP_NME_LST like '*x*'", name, false},
      {"INSP_NME_LST like 'Anders_'", name, false},
      {"INSP_NME_LST like '_Anderson'", name, false},
      {"INSP_ID LIKE '12*'", Row({{"INSP_ID", 1234}}), true},
      // AND binds tighter than OR; parentheses group; field names may be bracketed.
      {"INSP_ID = 1 OR INSP_ID = 2 AND CD_TBL_CD = 'Y'", mixed, true},
      {"(INSP_ID = 1 OR INSP_ID = 2) AND CD_TBL_CD = 'Y'", mixed, false},
      {"((INSP_ID = 1)) and (cd_tbl_cd = 'x' or CD_TBL_CD = 'Y')", mixed, true},
      {"[INSP_ID] = 1", mixed, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Meets(c.criterion, c.row), c.meets) << c.criterion;
  }
}

TEST(Criteria, OverlapFilterComparesTenDigitNumbersExactly) {
  const std::string filter =
      "(FORM_TYP_CD = 'B' AND FRM_FORM_NBR <= 9999999998 AND TO_FORM_NBR >= 9999999998) OR "
      "(FORM_TYP_CD = 'B' AND FRM_FORM_NBR <= 9999999999 AND TO_FORM_NBR >= 9999999999)";
  auto range = [](std::int64_t from, std::int64_t to) {
    return Row({{"FORM_TYP_CD", "B"}, {"FRM_FORM_NBR", from}, {"TO_FORM_NBR", to}});
  };
  EXPECT_TRUE(Meets(filter, range(9999999999, 9999999999)));
  EXPECT_TRUE(Meets(filter, range(1, 9999999998)));
  EXPECT_FALSE(Meets(filter, range(1, 9999999997)));
  EXPECT_FALSE(Meets(filter, range(5000000000, 9999999997)));
  // The overlap filter catches a range holding either end of the new one, whatever the
  // letter case of its code, but not one wholly inside it nor of another form type.
  const std::string overlap =
      "(FORM_TYP_CD = 'B' AND FRM_FORM_NBR <= 100 AND TO_FORM_NBR >= 100) OR "
      "(FORM_TYP_CD = 'B' AND FRM_FORM_NBR <= 200 AND TO_FORM_NBR >= 200)";
  EXPECT_TRUE(Meets(overlap, range(200, 300)));
  EXPECT_TRUE(
      Meets(overlap, Row({{"FORM_TYP_CD", "b"}, {"FRM_FORM_NBR", 100}, {"TO_FORM_NBR", 100}})));
  EXPECT_FALSE(Meets(overlap, range(101, 199)));
  EXPECT_FALSE(
      Meets(overlap, Row({{"FORM_TYP_CD", "C"}, {"FRM_FORM_NBR", 90}, {"TO_FORM_NBR", 210}})));
  // Beyond 2^53 a double cannot tell these apart; whole numbers must still compare exactly.
  EXPECT_FALSE(Meets("FRM_FORM_NBR = 9007199254740993",
                     Row({{"FRM_FORM_NBR", std::int64_t{9007199254740992}}})));
}

// --- Malformed criteria

struct BadCriterion {
  const char* criterion;
  const char* problem;  // must appear in the message
  std::int64_t number;
};

class CriteriaErrors : public ::testing::TestWithParam<BadCriterion> {};

TEST_P(CriteriaErrors, NameTheProblemAndTheCriterion) {
  const BadCriterion& bad = GetParam();
  const PlatformError error = CompileError(bad.criterion);
  EXPECT_EQ(error.Number(), bad.number);
  EXPECT_NE(error.Description().find(bad.problem), std::string::npos) << error.Description();
  EXPECT_NE(error.Description().find(std::string("in criterion: ") + bad.criterion),
            std::string::npos)
      << error.Description();
}

// Each parenthesis was a level of recursion, so enough of them overflowed the stack.
const std::string kStackOverflowingParentheses = std::string(100000, '(') + "INSP_ID = 1";

INSTANTIATE_TEST_SUITE_P(
    Criteria, CriteriaErrors,
    ::testing::Values(
        BadCriterion{"FOO = 1", "Unknown field 'FOO' in criterion: FOO = 1",
                     PlatformError::kItemNotFound},
        BadCriterion{"FRM_FORM_NBR <= ", "Expected a value after '<=' at position 14",
                     PlatformError::kBadCriterion},
        BadCriterion{"CD_TBL_CD = 'C", "Unterminated text starting at position 13",
                     PlatformError::kBadCriterion},
        BadCriterion{"(INSP_ID = 1", "Missing ')' for the '(' at position 1",
                     PlatformError::kBadCriterion},
        BadCriterion{"INSP_ID = 1)", "Unmatched ')' at position 12", PlatformError::kBadCriterion},
        BadCriterion{"INSP_ID 1", "Expected a comparison operator", PlatformError::kBadCriterion},
        BadCriterion{"INSP_ID = 1 INSP_ID = 2", "Unexpected 'INSP_ID' at position 13",
                     PlatformError::kBadCriterion},
        BadCriterion{"INSP_ID = 1 AND", "Expected a comparison after 'AND'",
                     PlatformError::kBadCriterion},
        BadCriterion{"= 5", "Expected a field name at position 1", PlatformError::kBadCriterion},
        BadCriterion{"INSP_ID = 1 OR AND INSP_ID = 2", "Expected a field name at position 16",
                     PlatformError::kBadCriterion},
        BadCriterion{"   ", "No comparison", PlatformError::kBadCriterion},
        BadCriterion{"INSP_ID = 12x", "Malformed number '12x'", PlatformError::kBadCriterion},
        BadCriterion{"INSP_ID = 1.2.3", "Malformed number '1.2.3'", PlatformError::kBadCriterion},
        BadCriterion{"INSP_ID = 'abc'", "'abc' at position 11 is not a number",
                     PlatformError::kBadCriterion},
        BadCriterion{"INSP_ID < NULL", "NULL can only be tested with = or <>",
                     PlatformError::kBadCriterion},
        BadCriterion{"INSP_ID ! 1", "Unexpected character '!' at position 9",
                     PlatformError::kBadCriterion},
        BadCriterion{"INSP_ID IS 1", "Expected NULL after IS", PlatformError::kBadCriterion},
        BadCriterion{"()", "Empty parentheses", PlatformError::kBadCriterion},
        BadCriterion{"[INSP_ID = 1", "Unterminated field name", PlatformError::kBadCriterion},
        BadCriterion{"INSP_ID = ''", "is not a number", PlatformError::kBadCriterion},
        BadCriterion{"END_DT = #2024-01-01", "Unterminated date", PlatformError::kBadCriterion},
        BadCriterion{kStackOverflowingParentheses.c_str(),
                     "Parentheses nested more than 64 levels deep at position 65",
                     PlatformError::kBadCriterion}));

}  // namespace
}  // namespace fm::detail
