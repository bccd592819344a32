#include <gtest/gtest.h>

#include "common/CodesTable.h"

namespace fm {
namespace {

// The entry looks nothing up, whatever table and code it is given.
TEST(CodesTableTest, AnEntryAnswersEmptyTextsWhateverIdAndCodeAreSet) {
  CodesTable entry;
  entry.SetId("FORMTYPE");
  entry.SetCode("Y");
  EXPECT_EQ(entry.Description(), "");
  EXPECT_EQ(entry.AdditionalInformation(), "");
}

}  // namespace
}  // namespace fm
