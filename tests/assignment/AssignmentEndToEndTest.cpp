// Assigning part of a range against the forms server's own request handler, running in-process
// over an inventory of one range (the embedded transport the desktop uses when no server is
// set). Change Status takes the same path in the custody tests.

#include <fmt/format.h>

#include "assignment/frmUnAssignForms.h"
#include "document/EmbeddedServer.h"
#include "server/handler/ReportRequest.h"
#include "server/handler/RequestHandler.h"
#include "server/store/TimeText.h"

namespace fm::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;

constexpr std::int64_t kLee = 1004;  // on duty at C4
constexpr long kClerk = 1001;        // the user of the site settings

class AssignmentEndToEndTest : public EndToEndFixture {
 protected:
  void SetUp() override {
    EndToEndFixture::SetUp();
    // The inventory: citations held by C4 with no officer, the first 20 of them used.
    OpenInventory()->LoadInventory({Citations(0, 80)}, {"LOAD-1", "test", 1}, true);
    EmbeddedTransport::Options options;
    options.inventoryFile = InventoryFile();
    options.user = server::Principal::LocalAdministrator(kClerk, "Margaret Hartley");
    transport = std::make_shared<EmbeddedTransport>(options);
    Connect(transport, kClerk);
  }

  void SelectRange(std::int64_t from) {
    const long row = RowStartingAt(from);
    ASSERT_GE(row, 0) << "no range starts at " << from;
    ASSERT_TRUE(Doc().grdFormsAssignment.ClickRow(row));
  }

  void SelectOfficer(std::int64_t registry) {
    DataGrid& grid = Doc().grdOfficerList;
    for (long i = 0; i < grid.RowCount(); ++i) {
      if (grid.CellTextAt(i, "INSP_ID") == std::to_string(registry)) {
        ASSERT_TRUE(grid.ClickRow(i));
        return;
      }
    }
    FAIL() << "officer " << registry << " is not listed";
  }

  // Saves the dialog's entry as scripted; the save must go through without a complaint.
  void Save(int button, std::function<void(frmUnAssignForms&)> entry) {
    Press<frmUnAssignForms>(button, [entry = std::move(entry)](frmUnAssignForms& dialog) {
      entry(dialog);
      dialog.cmdOk.PerformClick();
      EXPECT_FALSE(dialog.Visible()) << "the entry was refused";
    });
    EXPECT_THAT(MessageTexts(), ::testing::IsEmpty());
    EXPECT_THAT(errors->Reports(), ::testing::IsEmpty());
  }

  // "ACTION from-to registry status user" of each entry of a form's chain of custody.
  std::vector<std::string> HistoryOf(std::int64_t form) {
    std::vector<std::string> entries;
    for (const auto& e : transport->Open().FormHistory("C", form)) {
      entries.push_back(fmt::format("{} {}-{} {} {} {}", e.action, e.after.from, e.after.to,
                                    e.after.registry, e.after.status, e.userId));
    }
    return entries;
  }

  std::shared_ptr<EmbeddedTransport> transport;
};

TEST_F(AssignmentEndToEndTest, AssignSplitsTheRangeAndIsAudited) {
  Search("C4", "C");
  EXPECT_THAT(Shown(), ElementsAre("1100001-1100100 0 A 80"));

  // Assign the first half to Lee: the used forms 1100001-1100020 stay with his piece.
  SelectRange(1100001);
  SelectOfficer(kLee);
  Save(2, [](frmUnAssignForms& d) {
    Type(d.txtBox(4), "1100050");
    Type(d.txtBox(5), "first half to Lee");
  });
  EXPECT_THAT(Shown(), ElementsAre("1100001-1100050 1004 A 30", "1100051-1100100 0 A 50"));
  EXPECT_THAT(Cell(1100001, "ASSIGNED_TO"), StartsWith("1004:LEE"));
  EXPECT_THAT(Cell(1100001, "TRP_FORM_CMMT_TXT"),
              StartsWith("first half to Lee  (Margaret Hartley "));

  // Both pieces are in the forms' history, with the clerk who made them.
  EXPECT_THAT(HistoryOf(1100035),
              ElementsAre("LOAD 1100001-1100100 0 A 1", "UPD 1100001-1100050 1004 A 1001"));
  EXPECT_THAT(HistoryOf(1100075),
              ElementsAre("LOAD 1100001-1100100 0 A 1", "ADD 1100051-1100100 0 A 1001"));
}

TEST_F(AssignmentEndToEndTest, FreshFormsGivenToAnOfficerCountAsUnused) {
  Search("C4", "C");
  // The last 25 of the range are fresh: the station used its lowest 20.
  SelectRange(1100001);
  SelectOfficer(kLee);
  Save(2, [](frmUnAssignForms& d) { Type(d.txtBox(3), "1100076"); });
  EXPECT_THAT(Shown(), ElementsAre("1100001-1100075 0 A 55", "1100076-1100100 1004 A 25"));

  const std::string today = server::LocalDate(std::chrono::system_clock::now());
  server::RequestHandler handler(OpenInventory());
  const auto report = handler.Accountability({"", std::to_string(kLee), "C", today, today});
  ASSERT_EQ(report.lines.size(), 1u);
  EXPECT_EQ(report.lines[0].issued, 0) << "Lee has not used any of them";
}

}  // namespace
}  // namespace fm::testing
