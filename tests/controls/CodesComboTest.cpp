#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ControlsTestDatabase.h"
#include "controls/CodesCombo.h"
#include "controls/Form.h"
#include "platform/LocalDatabase.h"
#include "platform/PlatformError.h"
#include "platform/Services.h"
#include "platform/SiteSettings.h"

namespace fm {
namespace {

class CodesComboTest : public ::testing::Test {
 protected:
  CodesComboTest() : combo(form.Add<CodesCombo>("qmCboFormTypes")) {
    settings = std::make_shared<SiteSettings>();
    settings->SetRegion("NORTH");
    Services::SetSettings(settings);
    combo.SetCodeType("FORMTYPE");
    combo.SetSourceSql("");
    combo.SetValidateDesc(true);
    combo.Change.Connect([this] { changes.push_back(combo.SelectedCode()); });
  }
  ~CodesComboTest() override { Services::Reset(); }

  void UseDemo() { Services::SetDatabase(file.OpenDemo()); }

  testing::TestDatabaseFile file;
  std::shared_ptr<SiteSettings> settings;
  Form form{"TARVO_FormsMaint"};
  CodesCombo& combo;
  std::vector<std::string> changes;  // the selected code each Change saw
};

TEST_F(CodesComboTest, OffersTheRegionsCurrentFormTypesInDescriptionOrder) {
  UseDemo();
  const auto& entries = combo.Entries();
  std::set<std::string> codes;
  std::vector<std::string> descriptions;
  for (const auto& entry : entries) {
    codes.insert(entry.code);
    descriptions.push_back(entry.description);
  }
  EXPECT_EQ(codes, (std::set<std::string>{"C", "M", "V", "O", "T", "R", "B", "Y", "Z", "K"}));
  EXPECT_TRUE(std::is_sorted(descriptions.begin(), descriptions.end()));
  // The wording replaced in 2004 and the other region's wordings are not offered.
  for (const auto& description : descriptions) {
    EXPECT_NE(description, "ENF001 Uniform Traffic Ticket");
    EXPECT_NE(description, "Citation ENF001");
  }
  EXPECT_EQ(combo.SelectedIndex(), -1);
  EXPECT_EQ(combo.SelectedCode(), "");
  EXPECT_EQ(combo.SelectedDescription(), "");
  // The region of the settings is trimmed and upper-cased.
  settings->SetRegion("  south ");
  combo.Reload();
  combo.SetSelectionFromText("tow truck decals");
  EXPECT_EQ(combo.SelectedCode(), "K");
}

TEST_F(CodesComboTest, SelectionFromTextIgnoresCaseAndBlanksAndUnknownTextSelectsNothing) {
  UseDemo();
  combo.SetSelectionFromText("  cvsa DECALS ");
  EXPECT_EQ(combo.SelectedCode(), "Y");
  EXPECT_EQ(combo.SelectedDescription(), "CVSA Decals");
  EXPECT_EQ(combo.Text(), "CVSA Decals");
  combo.SetSelectionFromText("CVSA Decals");  // the same entry: no change
  combo.SetSelectionFromText("");
  EXPECT_EQ(combo.SelectedIndex(), -1);
  EXPECT_EQ(combo.SelectedDescription(), "");
  // Unknown text leaves no entry selected, and shows only without the check.
  combo.SetSelectionFromText("Seals");
  combo.SetSelectionFromText("Parking Tickets");
  EXPECT_EQ(combo.SelectedCode(), "");
  EXPECT_EQ(combo.Text(), "");
  EXPECT_EQ(changes, (std::vector<std::string>{"Y", "", "Z", ""}));
  combo.SetValidateDesc(false);
  combo.SetSelectionFromText("Parking Tickets");
  EXPECT_EQ(combo.SelectedCode(), "");
  EXPECT_EQ(combo.Text(), "Parking Tickets");
}

TEST_F(CodesComboTest, TheUsersChoiceByIndexRaisesChangeOnce) {
  UseDemo();
  const int seals = [&] {
    for (int i = 0; i < combo.EntryCount(); ++i) {
      if (combo.Entries()[static_cast<std::size_t>(i)].code == "Z") return i;
    }
    return -1;
  }();
  ASSERT_GE(seals, 0);
  EXPECT_TRUE(combo.ChooseEntry(seals));
  EXPECT_FALSE(combo.ChooseEntry(seals));
  EXPECT_EQ(combo.SelectedDescription(), "Seals");
  EXPECT_EQ(changes, (std::vector<std::string>{"Z"}));
  EXPECT_THROW(combo.ChooseEntry(combo.EntryCount()), PlatformError);
  combo.SetEnabled(false);
  EXPECT_FALSE(combo.ChooseEntry(0));
}

TEST_F(CodesComboTest, EntriesAreReadOnFirstUseAndKeptUntilReload) {
  UseDemo();
  combo.SetSelectionFromText("");  // needs no entries
  EXPECT_FALSE(combo.IsLoaded());
  combo.SetSelectionFromText("Seals");
  EXPECT_TRUE(combo.IsLoaded());
  const int demoCount = combo.EntryCount();
  combo.Reload();  // the same entries: the selection stays, without a Change
  EXPECT_EQ(combo.SelectedCode(), "Z");
  EXPECT_EQ(changes, (std::vector<std::string>{"Z"}));
  // Another database from now on: the combo keeps what it read...
  testing::TestDatabaseFile other;
  Services::SetDatabase(other.OpenWith(
      "INSERT INTO RVO_CODE (REGION, CD_TBL_ID, CD_TBL_CD, CD_TBL_DES, EFCTV_DT) VALUES "
      "('NORTH', 'FORMTYPE', 'Z', 'Seals', '2000-01-01');"));
  EXPECT_EQ(combo.EntryCount(), demoCount);
  // ...until told to read again; the selected code survives.
  combo.Reload();
  EXPECT_EQ(combo.EntryCount(), 1);
  EXPECT_EQ(combo.SelectedIndex(), 0);
  EXPECT_EQ(combo.SelectedCode(), "Z");
}

TEST_F(CodesComboTest, EntriesInForceAreThoseBegunAndNotEnded) {
  Services::SetDatabase(file.OpenWith(R"sql(
    INSERT INTO RVO_CODE (REGION, CD_TBL_ID, CD_TBL_CD, CD_TBL_DES, EFCTV_DT, END_DT) VALUES
      ('NORTH', 'FORMTYPE', 'A', 'Always',       '2000-01-01', NULL),
      ('NORTH', 'FORMTYPE', 'E', 'Ended',        '2000-01-01', date('now', '-1 day')),
      ('NORTH', 'FORMTYPE', 'T', 'Ends today',   '2000-01-01', date('now')),
      ('NORTH', 'FORMTYPE', 'S', 'Starts today', date('now'),  NULL),
      ('NORTH', 'FORMTYPE', 'F', 'Future',       date('now', '+1 day'), NULL),
      ('NORTH', 'DELISTCD', 'V', 'Another table', '2000-01-01', NULL),
      ('SOUTH', 'FORMTYPE', 'O', 'Other region', '2000-01-01', NULL);
  )sql"));
  std::vector<std::string> codes;
  for (const auto& entry : combo.Entries()) codes.push_back(entry.code);
  EXPECT_EQ(codes, (std::vector<std::string>{"A", "T", "S"}));
}

TEST_F(CodesComboTest, ASourceSqlReplacesTheCodeTableQueryAndBadSourcesAreClearErrors) {
  UseDemo();
  combo.SetSourceSql(
      "SELECT CD_TBL_CD, CD_TBL_DES FROM RVO_CODE WHERE REGION = 'NORTH' "
      "AND CD_TBL_ID = 'DELISTCD' AND CD_TBL_CD IN ('U', 'V') ORDER BY CD_TBL_CD");
  ASSERT_EQ(combo.EntryCount(), 2);
  EXPECT_EQ(combo.Entries()[0].description, "Unassign");
  combo.SetSourceSql("SELECT CD_TBL_CD FROM RVO_CODE");
  EXPECT_THROW(combo.EntryCount(), PlatformError);
  combo.SetSourceSql("");
  combo.SetCodeType("");
  try {
    combo.EntryCount();
    FAIL() << "no error";
  } catch (const PlatformError& e) {
    EXPECT_NE(e.Description().find("qmCboFormTypes"), std::string::npos) << e.Description();
  }
  EXPECT_FALSE(combo.IsLoaded());
}

}  // namespace
}  // namespace fm
