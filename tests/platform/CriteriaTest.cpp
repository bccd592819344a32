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

TEST(Criteria, CodeWithoutEndDateFilterOfTheFormTypeLookup) {
  const char* criterion = "CD_TBL_CD='C' And END_DT = NULL";
  EXPECT_TRUE(Meets(criterion, Row({{"CD_TBL_CD", "C"}})));
  EXPECT_TRUE(Meets(criterion, Row({{"CD_TBL_CD", "c"}})));
  EXPECT_FALSE(Meets(criterion, Row({{"CD_TBL_CD", "C"}, {"END_DT", "2030-01-01"}})));
  EXPECT_FALSE(Meets(criterion, Row({{"CD_TBL_CD", "C"}, {"END_DT", ""}})))
      << "an empty text is not null";
  EXPECT_FALSE(Meets(criterion, Row({{"CD_TBL_CD", "CC"}})));
}

TEST(Criteria, RegistryNumberFindAcceptsLeadingZeros) {
  const auto row = Row({{"INSP_ID", 123}});
  EXPECT_TRUE(Meets("INSP_ID = 0123", row));
  EXPECT_TRUE(Meets("INSP_ID = 123", row));
  EXPECT_FALSE(Meets("INSP_ID = 1234", row));
  EXPECT_TRUE(Meets("INSP_ID = 1234", Row({{"INSP_ID", 1234}})));
  EXPECT_TRUE(Meets("INSP_ID = '0123'", row)) << "a quoted number against a numeric column";
  EXPECT_FALSE(Meets("INSP_ID = 1234", Row({})));
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
  EXPECT_TRUE(Meets(overlap, range(50, 100)));
  EXPECT_TRUE(Meets(overlap, range(200, 300)));
  EXPECT_TRUE(
      Meets(overlap, Row({{"FORM_TYP_CD", "b"}, {"FRM_FORM_NBR", 100}, {"TO_FORM_NBR", 100}})));
  EXPECT_FALSE(Meets(overlap, range(150, 160)));
  EXPECT_FALSE(Meets(overlap, range(101, 199)));
  EXPECT_FALSE(Meets(overlap, range(1, 99)));
  EXPECT_FALSE(
      Meets(overlap, Row({{"FORM_TYP_CD", "C"}, {"FRM_FORM_NBR", 90}, {"TO_FORM_NBR", 210}})));
  // Beyond 2^53 a double cannot tell these apart; whole numbers must still compare exactly.
  EXPECT_FALSE(Meets("FRM_FORM_NBR = 9007199254740993",
                     Row({{"FRM_FORM_NBR", std::int64_t{9007199254740992}}})));
}

// --- Meaning of comparisons

TEST(Criteria, NullMeetsOnlyNullTests) {
  const auto empty = Row({});
  EXPECT_TRUE(Meets("INSP_ID = NULL", empty));
  EXPECT_TRUE(Meets("INSP_ID IS NULL", empty));
  EXPECT_FALSE(Meets("INSP_ID <> NULL", empty));
  EXPECT_FALSE(Meets("INSP_ID is not null", empty));
  for (const char* criterion : {"INSP_ID = 1", "INSP_ID <> 1", "INSP_ID < 1", "INSP_ID >= 1",
                                "CD_TBL_CD <> 'A'", "CD_TBL_CD LIKE '*'"}) {
    EXPECT_FALSE(Meets(criterion, empty)) << criterion;
  }
  EXPECT_TRUE(Meets("INSP_ID <> NULL", Row({{"INSP_ID", 0}})));
}

TEST(Criteria, TextComparisonsIgnoreLetterCase) {
  const auto row = Row({{"INSP_NME_LST", "McDonald"}});
  EXPECT_TRUE(Meets("insp_nme_lst = 'MCDONALD'", row));
  EXPECT_TRUE(Meets("INSP_NME_LST > 'mb'", row));
  EXPECT_TRUE(Meets("INSP_NME_LST < 'MCE'", row));
  EXPECT_FALSE(Meets("INSP_NME_LST <> 'mcdonald'", row));
  EXPECT_TRUE(Meets("INSP_NME_LST = 'O''Brien'", Row({{"INSP_NME_LST", "o'brien"}})))
      << "a doubled quote is one quote";
  EXPECT_TRUE(Meets("END_DT >= '2024-01-01'", Row({{"END_DT", "2024-06-30"}})))
      << "ISO dates compare as texts";
  EXPECT_TRUE(Meets("END_DT < #2024-07-01#", Row({{"END_DT", "2024-06-30"}})));
}

TEST(Criteria, TextColumnAgainstNumberComparesNumericallyWhenTheTextIsANumber) {
  EXPECT_TRUE(Meets("TRP_DIST_ID = 1", Row({{"TRP_DIST_ID", "01"}})));
  EXPECT_TRUE(Meets("TRP_DIST_ID < 10", Row({{"TRP_DIST_ID", "9"}})))
      << "as texts '9' would sort after '10'";
  EXPECT_FALSE(Meets("TRP_DIST_ID = 1", Row({{"TRP_DIST_ID", "1A"}})));
  EXPECT_TRUE(Meets("TRP_DIST_ID > 1", Row({{"TRP_DIST_ID", "1A"}})))
      << "a text that is no number compares as text with the number as written";
}

TEST(Criteria, NumericColumnsMixWholeAndDecimalNumbers) {
  EXPECT_TRUE(Meets("INSP_ID >= 1.5", Row({{"INSP_ID", 2}})));
  EXPECT_FALSE(Meets("INSP_ID = 1.5", Row({{"INSP_ID", 1}})));
  EXPECT_TRUE(Meets("RATE = 2", Row({{"RATE", 2.0}})));
  EXPECT_TRUE(Meets("RATE < -0.5", Row({{"RATE", -1.25}})));
  EXPECT_TRUE(Meets("RATE > '1e-3'", Row({{"RATE", 0.01}})));
}

TEST(Criteria, LikeTakesWildcardsAnywhere) {
  const auto row = Row({{"INSP_NME_LST", "Anderson"}});
  for (const char* match :
       {"'AND*'", "'%son'", "'*der*'", "'a%d%n'", "'Anders_n'", "'*'", "'anderson'", "'A*N'"}) {
    EXPECT_TRUE(Meets(std::string("INSP_NME_LST LIKE ") + match, row)) << match;
  }
  for (const char* miss : {"'And'", "'*x*'", "'Anders_'", "'_Anderson'", "'son*'"}) {
    EXPECT_FALSE(Meets(std::string("INSP_NME_LST like ") + miss, row)) << miss;
  }
  EXPECT_TRUE(Meets("INSP_ID LIKE '12*'", Row({{"INSP_ID", 1234}})))
      << "a number matches in its written form";
}

TEST(Criteria, AndBindsTighterThanOrAndParenthesesGroup) {
  const auto row = Row({{"INSP_ID", 1}, {"CD_TBL_CD", "X"}});
  EXPECT_TRUE(Meets("INSP_ID = 1 OR INSP_ID = 2 AND CD_TBL_CD = 'Y'", row));
  EXPECT_FALSE(Meets("(INSP_ID = 1 OR INSP_ID = 2) AND CD_TBL_CD = 'Y'", row));
  EXPECT_TRUE(Meets("((INSP_ID = 1)) and (cd_tbl_cd = 'x' or CD_TBL_CD = 'Y')", row));
  EXPECT_TRUE(Meets("[INSP_ID] = 1", row)) << "bracketed field names";
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
        BadCriterion{"END_DT = #2024-01-01", "Unterminated date", PlatformError::kBadCriterion}));

TEST(Criteria, ACompiledCriterionKeepsItsTextAndCanBeSharedAcrossRows) {
  auto compiled = CompiledCriterion::Compile("INSP_ID > 10", Columns());
  EXPECT_EQ(compiled->Text(), "INSP_ID > 10");
  int matches = 0;
  for (int id = 0; id < 20; ++id) {
    const auto row = Row({{"INSP_ID", id}});
    if (compiled->Matches(row.data())) ++matches;
  }
  EXPECT_EQ(matches, 9);
}

}  // namespace
}  // namespace fm::detail
