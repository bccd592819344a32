#include <gtest/gtest.h>

#include "common/CodesTable.h"

namespace fm {
namespace {

TEST(CodesTableTest, AnEntryAnswersEmptyTextsWhateverIdAndCodeAreSet) {
  CodesTable entry;
  EXPECT_EQ(entry.Description(), "");
  EXPECT_EQ(entry.AdditionalInformation(), "");

  // A real table and code: the class still looks nothing up.
  entry.SetId("FORMTYPE");
  entry.SetCode("Y");
  EXPECT_EQ(entry.Description(), "");
  EXPECT_EQ(entry.AdditionalInformation(), "");

  entry.SetId("");
  entry.SetCode("no such code");
  EXPECT_EQ(entry.Description(), "");
  EXPECT_EQ(entry.AdditionalInformation(), "");
}

}  // namespace
}  // namespace fm
