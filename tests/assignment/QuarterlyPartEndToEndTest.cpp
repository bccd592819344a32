// Changing part of a range of CVSA decals through the dialog, over both transports. The screen
// sends one "UPD" of the entered span whatever part of the range it is; the server applies
// it as the split it means, the untouched numbers staying as pieces with their values.

#include <fmt/format.h>

#include "assignment/ServedInventory.h"
#include "assignment/frmUnAssignForms.h"
#include "controls/ComboBox.h"
#include "document/EmbeddedServer.h"
#include "server/handler/ReportRequest.h"
#include "server/store/TimeText.h"

namespace fm::testing {
namespace {

using ::testing::ElementsAreArray;

constexpr std::int64_t kLeeAtC4 = 1004;  // on duty at C4
constexpr long kClerk = 1001;

struct PartCase {
  const char* name;
  int button;  // 2 Assign, 3 Change Status
  const char* from;
  const char* to;
  // "from-to owner status remaining" of the ranges shown afterwards.
  std::vector<std::string> shown;
  std::int64_t issued;  // used decals the station still holds in stock
};

// The decals 1003450-1003949 of C4, the first 20 used: with no officer to assign them, with
// Lee to change the status of some.
const PartCase kCases[] = {
    {"Middle",
     2,
     "1003500",
     "1003599",
     {"1003450-1003499 0 A 30", "1003500-1003599 1004 A 100", "1003600-1003949 0 A 350"},
     20},
    {"Start",
     2,
     "1003450",
     "1003499",
     {"1003450-1003499 1004 A 30", "1003500-1003949 0 A 450"},
     20},
    {"End", 2, "1003900", "1003949", {"1003450-1003899 0 A 430", "1003900-1003949 1004 A 50"}, 20},
    {"OneForm",
     2,
     "1003700",
     "1003700",
     {"1003450-1003699 0 A 230", "1003700-1003700 1004 A 1", "1003701-1003949 0 A 249"},
     20},
    {"VoidPart",
     3,
     "1003460",
     "1003479",
     // The search leaves voided forms out; their history below shows them.
     {"1003450-1003459 1004 A 0", "1003480-1003949 1004 A 470"},
     10},
};

class QuarterlyPartEndToEndTest
    : public EndToEndFixture,
      public ::testing::WithParamInterface<std::tuple<Carrier, PartCase>> {
 protected:
  void SetUp() override {
    EndToEndFixture::SetUp();
    store = OpenInventory();
    server::FormRange decals;
    decals.formType = "Y";
    decals.from = 1003450;
    decals.to = 1003949;
    decals.troop = "C";
    decals.district = "4";
    decals.remaining = 480;
    if (std::get<1>(GetParam()).button == 3) decals.registry = kLeeAtC4;
    decals.quarter = 2;
    decals.year = 2026;
    store->LoadInventory({decals}, {"LOAD-1", "test", 1, "stores"}, true);
    served = std::make_unique<ServedInventory>(
        std::get<0>(GetParam()), store, InventoryFile(), folder,
        std::vector{server::Principal{kClerk, "Margaret Hartley", server::Role::Clerk,
                                      server::StationScope::Parse("C")}});
    settings->SetSwitch("VoidManualForms", true);
    Connect(served->Transport(0), kClerk);
  }

  void TearDown() override {
    EndToEndFixture::TearDown();
    served.reset();
  }

  std::shared_ptr<server::Store> store;
  std::unique_ptr<ServedInventory> served;
};

TEST_P(QuarterlyPartEndToEndTest, ThePartChangesAndTheRestStaysAsPieces) {
  const PartCase& c = std::get<1>(GetParam());
  Search("C4", "Y");
  ASSERT_TRUE(Doc().grdFormsAssignment.ClickRow(0));
  if (c.button == 2) {
    DataGrid& officers = Doc().grdOfficerList;
    for (long i = 0; i < officers.RowCount(); ++i) {
      if (officers.CellTextAt(i, "INSP_ID") == std::to_string(kLeeAtC4)) {
        ASSERT_TRUE(officers.ClickRow(i));
      }
    }
  }
  Press<frmUnAssignForms>(c.button, [&](frmUnAssignForms& d) {
    Type(d.txtBox(3), c.from);
    Type(d.txtBox(4), c.to);
    for (int i = 0; i < d.cboStatus.ListCount(); ++i) {
      if (d.cboStatus.List(i) == "Void") d.cboStatus.ChooseItem(i);
    }
    Type(d.txtBox(5), "part of the book");
    d.cmdOk.PerformClick();
    EXPECT_FALSE(d.Visible()) << "the dialog refused the entry";
  });
  ASSERT_THAT(MessageTexts(), ::testing::IsEmpty());
  EXPECT_THAT(Shown(), ElementsAreArray(c.shown));

  // The entered span's last entry is the split of the whole book.
  const std::int64_t entered = std::stoll(c.from);
  const auto history = store->FormHistory("Y", entered);
  ASSERT_FALSE(history.empty());
  const auto& last = history.back();
  ASSERT_TRUE(last.before);
  EXPECT_EQ(fmt::format("{}-{} -> {}-{}", last.before->from, last.before->to, last.after.from,
                        last.after.to),
            fmt::format("1003450-1003949 -> {}-{}", c.from, c.to));
  EXPECT_EQ(last.userName, "Margaret Hartley");

  // The station's account of today still holds every decal.
  const std::string today = server::LocalDate(std::chrono::system_clock::now());
  server::RequestHandler handler(store);
  const auto report = handler.Accountability({"C4", "", "Y", today, today});
  ASSERT_EQ(report.lines.size(), 1u);
  EXPECT_EQ(report.lines[0].Imbalance(), 0);
  EXPECT_EQ(report.lines[0].issued, c.issued) << "the used decals stay used, no more";
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<Carrier, PartCase>>& info) {
  return std::string(std::get<0>(info.param) == Carrier::Embedded ? "Embedded" : "Http") +
         std::get<1>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(BothTransports, QuarterlyPartEndToEndTest,
                         ::testing::Combine(::testing::Values(Carrier::Embedded, Carrier::Http),
                                            ::testing::ValuesIn(kCases)),
                         CaseName);

}  // namespace
}  // namespace fm::testing
