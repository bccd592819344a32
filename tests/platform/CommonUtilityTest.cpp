#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <initializer_list>
#include <string>

#include "TempFolder.h"
#include "platform/CommonUtility.h"
#include "platform/LocalDatabase.h"
#include "platform/PlatformError.h"
#include "platform/ReplyStore.h"
#include "platform/SiteSettings.h"

namespace fm {
namespace {

// The checks against the demo database that LocalDatabase builds into a new file: region
// NORTH with troops A to F and their districts (D has "12", F has "10" and "11"), a second
// region SOUTH with troops A and G, officers 1001 to 1160 in NORTH (1001 Margaret Hartley,
// 1005 Doe without a first name) and 2001 to 2005 in SOUTH (2001 Andre Boudreaux).
class CommonUtilityDatabaseTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sFolder = std::make_unique<testing::TempFolder>();
    sDatabase = LocalDatabase::Open(sFolder->Path() / "local.db");
  }
  static void TearDownTestSuite() {
    sDatabase.reset();
    sFolder.reset();
  }

  void SetUp() override {
    mSettings = std::make_shared<SiteSettings>();
    mSettings->SetRegion("NORTH");
    mUtility = std::make_unique<CommonUtility>(sDatabase, mSettings, nullptr);
  }

  static inline std::unique_ptr<testing::TempFolder> sFolder;
  static inline std::shared_ptr<LocalDatabase> sDatabase;
  std::shared_ptr<SiteSettings> mSettings;
  std::unique_ptr<CommonUtility> mUtility;
};

TEST_F(CommonUtilityDatabaseTest, TroopTestKnowsTheRegionsTroopsInAnyCase) {
  for (const char* troop : {"A", "B", "C", "D", "E", "F", "a", "f", " c "}) {
    EXPECT_TRUE(mUtility->TroopTest(troop)) << troop;
  }
  // G is a troop of SOUTH only.
  for (const char* troop : {"G", "Z", "1", "", " ", "AB", "'", "A' OR '1'='1"}) {
    EXPECT_FALSE(mUtility->TroopTest(troop)) << troop;
  }
}

TEST_F(CommonUtilityDatabaseTest, TroopAndDistrictTestNeedsTheDistrictOfThatTroop) {
  EXPECT_TRUE(mUtility->TroopAndDistrictTest("A", "1"));
  EXPECT_TRUE(mUtility->TroopAndDistrictTest("d", "12"));
  EXPECT_TRUE(mUtility->TroopAndDistrictTest("F", "10"));
  EXPECT_FALSE(mUtility->TroopAndDistrictTest("A", "12"));  // 12 belongs to D
  EXPECT_FALSE(mUtility->TroopAndDistrictTest("A", "9"));
  EXPECT_FALSE(mUtility->TroopAndDistrictTest("G", "1"));  // SOUTH's
  EXPECT_FALSE(mUtility->TroopAndDistrictTest("A", ""));
  EXPECT_FALSE(mUtility->TroopAndDistrictTest("", "1"));
}

TEST_F(CommonUtilityDatabaseTest, RegistryCheckKnowsOnlyTheRegionsOfficers) {
  EXPECT_TRUE(mUtility->RegistryCheck(1001));
  EXPECT_TRUE(mUtility->RegistryCheck(1160));
  EXPECT_FALSE(mUtility->RegistryCheck(1161));
  EXPECT_FALSE(mUtility->RegistryCheck(2001));  // SOUTH's
  EXPECT_FALSE(mUtility->RegistryCheck(0));
  EXPECT_FALSE(mUtility->RegistryCheck(-1001));
}

TEST_F(CommonUtilityDatabaseTest, UserNameIsFirstAndLastNameOrTheId) {
  EXPECT_EQ(mUtility->UserName(1001, false), "Margaret Hartley");
  EXPECT_EQ(mUtility->UserName(1005, false), "Doe");
  EXPECT_EQ(mUtility->UserName(2001, false), "User 2001");
  EXPECT_EQ(mUtility->UserName(99999, false), "User 99999");
}

TEST_F(CommonUtilityDatabaseTest, TheRegionSettingIsComparedTrimmedInAnyCase) {
  mSettings->SetRegion(" south ");
  EXPECT_TRUE(mUtility->TroopTest("G"));
  EXPECT_TRUE(mUtility->TroopAndDistrictTest("G", "2"));
  EXPECT_FALSE(mUtility->TroopTest("F"));
  EXPECT_TRUE(mUtility->RegistryCheck(2001));
  EXPECT_FALSE(mUtility->RegistryCheck(1001));
  EXPECT_EQ(mUtility->UserName(2001), "Andre Boudreaux");

  mSettings->SetRegion("NOWHERE");
  EXPECT_FALSE(mUtility->TroopTest("A"));
  EXPECT_EQ(mUtility->UserName(1001), "User 1001");
}

TEST(CommonUtilityTest, KeyTestsAllowDigitsOrLettersAndDigitsAndBackspace) {
  const CommonUtility utility(nullptr, nullptr, nullptr);
  const struct {
    int key;
    bool digit;
    bool troopDistrict;
  } keys[] = {
      {'0', true, true},   {'9', true, true},         {8, true, true},
      {'a', false, true},  {'z', false, true},        {'A', false, true},
      {'Z', false, true},  {' ', false, false},       {'-', false, false},
      {'/', false, false}, {'@', false, false},       {'[', false, false},
      {'`', false, false}, {'{', false, false},       {13, false, false},
      {127, false, false}, {0, false, false},         {0xE9, false, false},
      {-1, false, false},  {256 + '5', false, false}, {256 + 'A', false, false},
  };
  for (const auto& k : keys) {
    EXPECT_EQ(utility.DigitKeyTest(k.key), k.digit) << k.key;
    EXPECT_EQ(utility.TroopDistrictKeyTest(k.key), k.troopDistrict) << k.key;
  }
}

TEST(CommonUtilityTest, ReplyCheckAndSwitchesReadTheirServicesAndWithoutThemFailClearly) {
  const auto replies = std::make_shared<ReplyStore>();
  const auto settings = std::make_shared<SiteSettings>();
  const CommonUtility utility(nullptr, settings, replies);
  EXPECT_EQ(utility.ReplyCheck("Doc", "TARVO_FormsMaint.DataReady", "R1"),
            "No reply was received for request R1.");
  replies->MarkReplied("DOC", "R1");
  EXPECT_EQ(utility.ReplyCheck("doc", "TARVO_FormsMaint.DataReady", "R1"), "");
  replies->SetError("Doc", "R2", "Search timed out");
  EXPECT_EQ(utility.ReplyCheck("Doc", "TARVO_FormsMaint.DataReady", "R2"), "Search timed out");
  EXPECT_FALSE(utility.Switch("VoidManualForms"));
  settings->SetSwitch("VoidManualForms", true);
  EXPECT_TRUE(utility.Switch("voidmanualforms"));

  const CommonUtility bare(nullptr, nullptr, nullptr);
  EXPECT_THROW(bare.TroopTest("A"), PlatformError);
  EXPECT_THROW(bare.RegistryCheck(1001), PlatformError);
  EXPECT_THROW(bare.Switch("VoidManualForms"), PlatformError);
  EXPECT_THROW(bare.ReplyCheck("Doc", "S.P", "R1"), PlatformError);
}

}  // namespace
}  // namespace fm
