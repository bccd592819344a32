#include <gtest/gtest.h>

#include "common/FormsMaintBas.h"
#include "common/MessageTitle.h"
#include "platform/PlatformError.h"

namespace fm {
namespace {

TEST(ProperNameTest, WorkedExamples) {
  EXPECT_EQ(ProperName("smith,jr", "john", "q", ""), "SMITH, JR, JOHN Q.");
  EXPECT_EQ(ProperName("  Lee  ", "J", "", ""), "LEE, J.");
  EXPECT_EQ(ProperName("Doe", "", "A", ""), "DOE, A.");
  EXPECT_EQ(ProperName("Brown,SR", "", "", ""), "BROWN, SR");
}

TEST(ProperNameTest, ASingleStoredNameComesBackTrimmedUpperCasedAndRepaired) {
  EXPECT_EQ(ProperName("  o'brien  ", "", "", ""), "O'BRIEN");
  EXPECT_EQ(ProperName(" garcia,jr ", "", "", ""), "GARCIA, JR");
  EXPECT_EQ(ProperName("Hartley Margaret A", "", "", ""), "HARTLEY MARGARET A");
}

TEST(ProperNameTest, AllPartsEmptyGiveTheEmptyText) {
  EXPECT_EQ(ProperName("", "", "", ""), "");
  EXPECT_EQ(ProperName("   ", "  ", " ", "  "), "");
}

TEST(ProperNameTest, OnlyOneLetterPartsGetAPeriod) {
  EXPECT_EQ(ProperName("Smith", "J", "Marie", ""), "SMITH, J. MARIE");
  EXPECT_EQ(ProperName("Smith", "Jo", "M", ""), "SMITH, JO M.");
  EXPECT_EQ(ProperName("Smith", " J ", " M ", ""), "SMITH, J. M.");
  EXPECT_EQ(ProperName("Nguyen", "Thi", "", ""), "NGUYEN, THI");
  EXPECT_EQ(ProperName("Smith", "", "Marie", ""), "SMITH, MARIE");
}

TEST(ProperNameTest, SuffixRepairIgnoresCaseAndPrefersJr) {
  EXPECT_EQ(ProperName("smith,Jr", "", "", ""), "SMITH, JR");
  EXPECT_EQ(ProperName("smith,JR", "", "", ""), "SMITH, JR");
  EXPECT_EQ(ProperName("smith,jR", "", "", ""), "SMITH, JR");
  EXPECT_EQ(ProperName("kowalski,Sr", "Walter", "J", ""), "KOWALSKI, SR, WALTER J.");
  // Both present: only the ",jr" occurrences are repaired.
  EXPECT_EQ(ProperName("smith,jr,sr", "", "", ""), "SMITH, JR,SR");
  EXPECT_EQ(ProperName("smith,sr,jr", "", "", ""), "SMITH,SR, JR");
  // Every occurrence, not only the first.
  EXPECT_EQ(ProperName("a,jr b,JR", "", "", ""), "A, JR B, JR");
}

TEST(ProperNameTest, ACommaAlreadyFollowedByABlankIsLeftAlone) {
  EXPECT_EQ(ProperName("Garcia, Jr", "Luis", "E", ""), "GARCIA, JR, LUIS E.");
  EXPECT_EQ(ProperName("Brown, sr", "", "", ""), "BROWN, SR");
  EXPECT_EQ(ProperName("Brown ,sr", "", "", ""), "BROWN , SR");
}

TEST(ProperNameTest, ASuffixFollowsTheNameAfterOneBlank) {
  EXPECT_EQ(ProperName("Smith", "John", "Q", "III"), "SMITH, JOHN Q. III");
  // No middle name: still one blank before the suffix.
  EXPECT_EQ(ProperName("Smith", "John", "", " iii "), "SMITH, JOHN III");
  EXPECT_EQ(ProperName("Smith", "", "", "Jr"), "SMITH JR");
}

TEST(ViewModeTest, HoldsTheThreeModesAndRefusesOthers) {
  SetCurrentViewMode(kNewForms);
  EXPECT_EQ(CurrentViewMode(), kNewForms);
  SetCurrentViewMode(kInactiveForms);
  EXPECT_EQ(CurrentViewMode(), 2);
  EXPECT_THROW(SetCurrentViewMode(3), PlatformError);
  EXPECT_THROW(SetCurrentViewMode(-1), PlatformError);
  EXPECT_EQ(CurrentViewMode(), kInactiveForms);
  SetCurrentViewMode(kFormsAssignment);
  EXPECT_EQ(CurrentViewMode(), 0);
}

TEST(MessageTitleTest, KeepsTheHostWindowsCaptionAndTag) {
  SetMessageTitle("Forms Maintenance");
  SetHostTag("SCR.TARVO_FormsMaint");
  EXPECT_EQ(MessageTitle(), "Forms Maintenance");
  EXPECT_EQ(HostTag(), "SCR.TARVO_FormsMaint");
  SetMessageTitle("");
  EXPECT_EQ(MessageTitle(), "");
  EXPECT_EQ(HostTag(), "SCR.TARVO_FormsMaint");
}

}  // namespace
}  // namespace fm
