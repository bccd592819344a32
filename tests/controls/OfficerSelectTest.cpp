#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ControlsTestDatabase.h"
#include "controls/Form.h"
#include "controls/OfficerSelect.h"
#include "platform/LocalDatabase.h"
#include "platform/PlatformError.h"
#include "platform/Services.h"
#include "platform/SiteSettings.h"

namespace fm {
namespace {

class OfficerSelectTest : public ::testing::Test {
 protected:
  OfficerSelectTest() : picker(form.Add<OfficerSelect>("qmOfficerSelect")) {
    settings = std::make_shared<SiteSettings>();
    settings->SetRegion("NORTH");
    Services::SetSettings(settings);
    picker.OfficerSelected.Connect([this](const std::string& text) {
      // What the dialog reads during the event.
      picks.push_back(picker.RegistryNumber() + "|" + picker.LastName() + "|" + picker.FirstName() +
                      "|" + picker.MiddleInitial());
      texts.push_back(text);
    });
  }
  ~OfficerSelectTest() override { Services::Reset(); }

  std::vector<std::string> Listed() const {
    std::vector<std::string> registries;
    for (int i = 0; i < picker.OfficerCount(); ++i) {
      registries.push_back(picker.OfficerAt(i).registryNumber);
    }
    return registries;
  }

  testing::TestDatabaseFile file;
  std::shared_ptr<SiteSettings> settings;
  Form form{"frmAddOfficer"};
  OfficerSelect& picker;
  std::vector<std::string> picks;
  std::vector<std::string> texts;
};

TEST_F(OfficerSelectTest, OffersTheRegionsOfficersOnDutySortedByName) {
  Services::SetDatabase(file.OpenWith(R"sql(
    INSERT INTO MVE061TB (REGION, INSP_ID, INSP_NME_LST, INSP_NME_FRST, INSP_NME_MDL_INT,
                          INSP_DUTY_END_DT) VALUES
      ('NORTH', 30, 'smith',   'Zoe',   NULL, NULL),
      ('NORTH', 10, 'Adams',   'Bea',   'K',  NULL),
      ('NORTH', 20, 'Smith',   'Anna',  'Q',  date('now')),
      ('NORTH', 40, 'Gone',    'Long',  NULL, date('now', '-1 day')),
      ('SOUTH', 50, 'Abbott',  'South', NULL, NULL);
  )sql"));
  EXPECT_EQ(picker.OfficerCount(), 0);  // nothing before Start
  picker.Start();
  EXPECT_EQ(Listed(), (std::vector<std::string>{"10", "20", "30"}));
}

TEST_F(OfficerSelectTest, ChoosingInTheFilteredListRaisesOfficerSelectedUntilStartedAgain) {
  Services::SetDatabase(file.OpenDemo());
  picker.Start();
  const int everyone = picker.OfficerCount();
  picker.SetFilterText("1002");
  ASSERT_EQ(picker.OfficerCount(), 1);
  EXPECT_TRUE(picker.Choose(0));
  EXPECT_TRUE(picker.Choose(0));  // the same officer again is another event
  EXPECT_EQ(picks, (std::vector<std::string>{"1002|Smith,jr|John|Q", "1002|Smith,jr|John|Q"}));
  ASSERT_EQ(texts.size(), 2U);
  EXPECT_NE(texts[0].find("1002"), std::string::npos) << texts[0];
  EXPECT_NE(texts[0].find("SMITH"), std::string::npos) << texts[0];
  EXPECT_THROW(picker.Choose(1), PlatformError);
  picker.SetEnabled(false);  // a disabled picker takes no choice
  EXPECT_FALSE(picker.Choose(0));
  EXPECT_EQ(picks.size(), 2U);

  picker.Start();  // no filter, no choice, everyone again
  EXPECT_FALSE(picker.HasChoice());
  EXPECT_EQ(picker.RegistryNumber(), "");
  EXPECT_EQ(picker.OfficerCount(), everyone);
}

TEST_F(OfficerSelectTest, FilterMatchesNamePartsOrARegistryPrefixIgnoringCase) {
  Services::SetDatabase(file.OpenWith(R"sql(
    INSERT INTO MVE061TB (REGION, INSP_ID, INSP_NME_LST, INSP_NME_FRST, INSP_NME_MDL_INT) VALUES
      ('NORTH', 1002, 'Smith,jr', 'John',   'Q'),
      ('NORTH', 1006, 'Smith',    'J',      'Marie'),
      ('NORTH', 2100, 'Jensen',   'Mark',   NULL),
      ('NORTH', 3100, 'Blacksmith', 'Ann',  NULL);
  )sql"));
  picker.Start();
  picker.SetFilterText("smi");
  EXPECT_EQ(Listed(), (std::vector<std::string>{"1006", "1002"}));  // not "Blacksmith"
  picker.SetFilterText("SMITH jo");
  EXPECT_EQ(Listed(), (std::vector<std::string>{"1002"}));
  picker.SetFilterText("jr");  // the suffix written into the last name is a part too
  EXPECT_EQ(Listed(), (std::vector<std::string>{"1002"}));
  picker.SetFilterText("10");
  EXPECT_EQ(Listed(), (std::vector<std::string>{"1006", "1002"}));
  picker.SetFilterText("100");
  picker.SetFilterText("00");  // a registry number matches by its start only
  EXPECT_TRUE(Listed().empty());
  picker.SetFilterText("  ");
  EXPECT_EQ(picker.OfficerCount(), 4);
}

}  // namespace
}  // namespace fm
