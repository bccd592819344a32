#include <gtest/gtest.h>

#include <array>
#include <string>

#include "common/FormsMaintBas.h"
#include "platform/PlatformError.h"

namespace fm {
namespace {

TEST(ProperNameTest, JoinsTheTrimmedUpperCasedPartsAndRepairsTheSuffix) {
  // last, first, middle, suffix, the name as shown
  const std::array<const char*, 5> cases[] = {
      // worked examples
      {"smith,jr", "john", "q", "", "SMITH, JR, JOHN Q."},
      {"  Lee  ", "J", "", "", "LEE, J."},
      {"Doe", "", "A", "", "DOE, A."},
      {"Brown,SR", "", "", "", "BROWN, SR"},
      // a single stored name comes back trimmed, upper-cased and repaired; nothing gives ""
      {"  o'brien  ", "", "", "", "O'BRIEN"},
      {" garcia,jr ", "", "", "", "GARCIA, JR"},
      {"Hartley Margaret A", "", "", "", "HARTLEY MARGARET A"},
      {"", "", "", "", ""},
      {"   ", "  ", " ", "  ", ""},
      // only one-letter parts get a period
      {"Smith", "J", "Marie", "", "SMITH, J. MARIE"},
      {"Smith", "Jo", "M", "", "SMITH, JO M."},
      {"Smith", " J ", " M ", "", "SMITH, J. M."},
      {"Nguyen", "Thi", "", "", "NGUYEN, THI"},
      {"Smith", "", "Marie", "", "SMITH, MARIE"},
      // the repair ignores case, prefers ",jr" when both are present and takes every one
      {"smith,Jr", "", "", "", "SMITH, JR"},
      {"kowalski,Sr", "Walter", "J", "", "KOWALSKI, SR, WALTER J."},
      {"smith,jr,sr", "", "", "", "SMITH, JR,SR"},
      {"smith,sr,jr", "", "", "", "SMITH,SR, JR"},
      {"a,jr b,JR", "", "", "", "A, JR B, JR"},
      // a comma already followed by a blank is left alone
      {"Garcia, Jr", "Luis", "E", "", "GARCIA, JR, LUIS E."},
      {"Brown ,sr", "", "", "", "BROWN , SR"},
      // a suffix follows the name after one blank, with or without a middle name
      {"Smith", "John", "Q", "III", "SMITH, JOHN Q. III"},
      {"Smith", "John", "", " iii ", "SMITH, JOHN III"},
      {"Smith", "", "", "Jr", "SMITH JR"},
  };
  for (const auto& [last, first, middle, suffix, expected] : cases) {
    SCOPED_TRACE(std::string(last) + "|" + first + "|" + middle + "|" + suffix);
    EXPECT_EQ(ProperName(last, first, middle, suffix), expected);
  }
}

TEST(ViewModeTest, HoldsTheThreeModesAndRefusesOthers) {
  SetCurrentViewMode(kInactiveForms);
  EXPECT_THROW(SetCurrentViewMode(3), PlatformError);
  EXPECT_THROW(SetCurrentViewMode(-1), PlatformError);
  EXPECT_EQ(CurrentViewMode(), kInactiveForms) << "a refused mode keeps the current one";
  SetCurrentViewMode(kFormsAssignment);
  EXPECT_EQ(CurrentViewMode(), 0);
}

}  // namespace
}  // namespace fm
