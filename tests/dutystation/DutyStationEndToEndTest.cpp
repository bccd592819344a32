// Change Troop/District and Add Troopers against the forms server's own request handler,
// running in-process over a demo inventory (the embedded transport the desktop uses when
// no server is configured).

#include "assignment/frmUnAssignForms.h"
#include "controls/Label.h"
#include "document/EmbeddedServer.h"
#include "dutystation/DutyStationFixture.h"
#include "dutystation/frmAddOfficer.h"
#include "dutystation/frmChangeDutyStation.h"
#include "platform/DataSet.h"

namespace fm::testing {
namespace {

using ::testing::StartsWith;

// The demo inventory is built once for the program: building it is the slow part.
class EmbeddedInventory {
 public:
  EmbeddedInventory() {
    EmbeddedTransport::Options options;
    options.inventoryFile = folder.Path() / "inventory.db";
    options.region = "NORTH";
    options.user = server::Principal::LocalAdministrator(1001, "Margaret Hartley");
    transport = std::make_shared<EmbeddedTransport>(options);
    transport->Open();
  }

  TempFolder folder;  // declared first: removed after the transport that uses it
  std::shared_ptr<EmbeddedTransport> transport;
};

class DutyStationEndToEndTest : public EndToEndFixture {
 protected:
  static void SetUpTestSuite() { sInventory = new EmbeddedInventory(); }
  static void TearDownTestSuite() {
    delete sInventory;
    sInventory = nullptr;
  }

  void SetUp() override {
    EndToEndFixture::SetUp();
    Connect(sInventory->transport, 1001);
    Doc().SetNow([] { return StampMoment(); });
  }

  static server::Store& Store() { return sInventory->transport->Open(); }

  static EmbeddedInventory* sInventory;
};

EmbeddedInventory* DutyStationEndToEndTest::sInventory = nullptr;

TEST_F(DutyStationEndToEndTest, MovedRangeIsFoundAtItsNewStationAndRecordedInTheHistory) {
  Search("A1", "C");
  DataGrid& grid = Doc().grdFormsAssignment;
  ASSERT_GT(grid.RowCount(), 0) << "the demo inventory has no citations at A1";
  const long before = grid.RowCount();
  const std::int64_t from = std::stoll(grid.CellTextAt(0, "FRM_FORM_NBR"));
  const std::string to = grid.CellTextAt(0, "TO_FORM_NBR");

  ASSERT_TRUE(grid.ClickRow(0));
  Press<frmChangeDutyStation>(4, [](frmChangeDutyStation& dialog) {
    Type(dialog.txtTroopDistrict, "b2");
    Type(dialog.txtComments, "moved to Sandy Point");
    dialog.cmdButton(0).PerformClick();
  });
  ASSERT_THAT(MessageTexts(), ::testing::IsEmpty());
  EXPECT_TRUE(errors->Reports().empty());
  // The requery of A1 no longer holds the range.
  EXPECT_EQ(grid.RowCount(), before - 1);
  EXPECT_EQ(RowStartingAt(from), -1);

  Search("B2", "C");
  const long row = RowStartingAt(from);
  ASSERT_GE(row, 0) << "the range is not at B2";
  grid.LoadRows(row, 1);
  EXPECT_EQ(grid.CellTextAt(row, "TroopDistrict"), "B2");
  EXPECT_EQ(grid.CellTextAt(row, "TO_FORM_NBR"), to);
  EXPECT_EQ(grid.CellTextAt(row, "ASSIGNED_TO"), "B2");  // held by the station, no officer
  EXPECT_THAT(grid.CellTextAt(row, "TRP_FORM_CMMT_TXT"),
              StartsWith("moved to Sandy Point  (Margaret Hartley "));

  const auto history = Store().FormHistory("C", from);
  ASSERT_FALSE(history.empty());
  const auto& last = history.back();
  ASSERT_TRUE(last.before.has_value());
  EXPECT_EQ(last.action + " " + std::to_string(last.userId) + " " + last.before->troop +
                last.before->district + "->" + last.after.troop + last.after.district,
            "UPD 1001 A1->B2");
}

TEST_F(DutyStationEndToEndTest, TrooperAddedToTheListCanBeGivenARange) {
  Search("A1", "C");
  Recordset& officers = Doc().OfficerListDataSet()->GetRecordset();
  ASSERT_GT(officers.RecordCount(), 0) << "the server lists no troopers at A1";
  const long listed = officers.RecordCount();
  const std::string alreadyListed = officers.ValueAt(0, officers.FieldIndex("INSP_ID")).ToText();

  // Two troopers of B2 join A1's list; one A1 already has is refused.
  std::vector<std::string> picked;
  Press<frmAddOfficer>(5, [&](frmAddOfficer& dialog) {
    OfficerSelect& picker = dialog.qmOfficerSelect;
    Pick(picker, alreadyListed);
    for (int i = 0; i < picker.OfficerCount() && picked.size() < 2; ++i) {
      if (picker.OfficerAt(i).dutyStation == "B2") {
        picked.push_back(picker.OfficerAt(i).registryNumber);
        ASSERT_TRUE(picker.Choose(i));
      }
    }
    dialog.cmdOK.PerformClick();
  });

  ASSERT_EQ(picked.size(), 2u) << "the picker offers fewer than two troopers of B2";
  EXPECT_EQ(ui->beeps, 1);
  EXPECT_EQ(officers.RecordCount(), listed + 2);
  EXPECT_EQ(Doc().grdOfficerList.CurrentRowIndex(), 0);
  long trooperRow = -1;
  for (const auto& registry : picked) {
    ASSERT_TRUE(officers.Find("INSP_ID = " + registry, 0, SearchDirection::Forward,
                              officers.BookmarkAt(0)));
    EXPECT_EQ(officers.GetText("ACTION"), "TEMP");
    if (trooperRow < 0) trooperRow = officers.AbsolutePosition() - 1;
  }

  // The first of them is given the first range of the station, whole.
  DataGrid& ranges = Doc().grdFormsAssignment;
  ASSERT_GT(ranges.RowCount(), 0);
  const std::int64_t from = std::stoll(ranges.CellTextAt(0, "FRM_FORM_NBR"));
  ASSERT_TRUE(Doc().grdOfficerList.ClickRow(trooperRow));
  ASSERT_TRUE(ranges.ClickRow(0));
  Press<frmUnAssignForms>(2, [](frmUnAssignForms& dialog) { dialog.cmdOk.PerformClick(); });
  ASSERT_THAT(MessageTexts(), ::testing::IsEmpty());
  EXPECT_TRUE(errors->Reports().empty());

  const long row = RowStartingAt(from);
  ASSERT_GE(row, 0);
  EXPECT_EQ(ranges.CellTextAt(row, "ASGND_REG_NBR"), picked[0]);
  const auto history = Store().FormHistory("C", from);
  ASSERT_FALSE(history.empty());
  EXPECT_EQ(history.back().after.registry, std::stoll(picked[0]));
}

}  // namespace
}  // namespace fm::testing
