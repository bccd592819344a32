// Change Troop/District against the forms server's own request handler, running in-process
// over a demo inventory (the embedded transport the desktop uses when no server is set).

#include "document/EmbeddedServer.h"
#include "dutystation/DutyStationFixture.h"
#include "dutystation/frmChangeDutyStation.h"
#include "platform/DataSet.h"

namespace fm::testing {
namespace {

using ::testing::StartsWith;

class DutyStationEndToEndTest : public EndToEndFixture {
 protected:
  void SetUp() override {
    EndToEndFixture::SetUp();
    EmbeddedTransport::Options options;
    options.inventoryFile = InventoryFile();
    options.region = "NORTH";
    options.user = server::Principal::LocalAdministrator(1001, "Margaret Hartley");
    transport = std::make_shared<EmbeddedTransport>(options);
    Connect(transport, 1001);
    Doc().SetNow([] { return StampMoment(); });
  }

  server::Store& Store() { return transport->Open(); }

  std::shared_ptr<EmbeddedTransport> transport;
};

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

}  // namespace
}  // namespace fm::testing
