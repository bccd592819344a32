#include <gtest/gtest.h>

#include "common/CodesTable.h"

namespace fm {
namespace {

// The entry looks nothing up, whatever table and code it is given.
TEST(CodesTableTest, AnEntryAnswersEmptyTextsWhateverIdAndCodeAreSet) {
  CodesTable entry;
  for (const auto& [id, code] :
       {std::pair<const char*, const char*>{"", ""}, {"FORMTYPE", "Y"}, {"", "no such code"}}) {
    entry.SetId(id);
    entry.SetCode(code);
    EXPECT_EQ(entry.Description(), "") << id << "/" << code;
    EXPECT_EQ(entry.AdditionalInformation(), "") << id << "/" << code;
  }
}

}  // namespace
}  // namespace fm
