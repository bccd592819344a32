// Two clerks and one inventory, through both transports the desktop has: the server's request
// handler in-process (embedded) and HTTP to the server's real front. A save that replaces a
// range a colleague changed after the clerk's search is refused whole; the clerk reads why,
// the grids then show the inventory as it is, and new ranges waiting to be saved stay.

#include <fmt/format.h>

#include "assignment/ServedInventory.h"
#include "assignment/frmUnAssignForms.h"
#include "controls/ComboBox.h"
#include "document/EmbeddedServer.h"
#include "platform/DataSet.h"
#include "transport/RecordsetWire.h"

namespace fm::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::MatchesRegex;

constexpr std::int64_t kLee = 1004;     // on duty at C4
constexpr std::int64_t kBrown = 1003;   // on duty at B2
constexpr long kClerkA = 1001;          // Margaret Hartley, the user of this workstation
constexpr std::int64_t kClerkB = 1002;  // John Smith,jr, at another workstation

class CustodyEndToEndTest : public EndToEndFixture, public ::testing::WithParamInterface<Carrier> {
 protected:
  void SetUp() override {
    EndToEndFixture::SetUp();
    store = OpenInventory();
    // Citations 1100001-1100100 held by C4 and given to Brown.
    store->LoadInventory({Citations(kBrown, 100)}, {"LOAD-1", "test", 1, "stores"}, true);

    // Each clerk acts through a transport of her own, which says who she is: on the embedded
    // transport the workstation's administrator, over HTTP a clerk of troop C by her token.
    const bool http = GetParam() == Carrier::Http;
    const auto clerk = [&](std::int64_t id, const char* name) {
      return http ? server::Principal{id, name, server::Role::Clerk,
                                      server::StationScope::Parse("C")}
                  : server::Principal::LocalAdministrator(id, name);
    };
    served = std::make_unique<ServedInventory>(
        GetParam(), store, InventoryFile(), folder,
        std::vector{clerk(kClerkA, "Margaret Hartley"), clerk(kClerkB, "John Smith,jr")});
    transport = served->Transport(0);
    colleague = served->Transport(1);
    settings->SetSwitch("VoidManualForms", true);
    Connect(transport, kClerkA);
  }

  void TearDown() override {
    EndToEndFixture::TearDown();
    transport.reset();
    colleague.reset();
    served.reset();
  }

  // "type from-to owner status vVERSION" of every stored range.
  std::vector<std::string> Stored() {
    std::vector<std::string> out;
    for (const auto& s : store->FindRanges({})) {
      out.push_back(fmt::format("{} {}-{} {} {} v{}", s.range.formType, s.range.from, s.range.to,
                                s.range.registry, s.range.status, s.version));
    }
    return out;
  }

  // Selects the one range shown and voids it whole through the dialog, as the clerk does.
  void VoidTheRange() {
    ASSERT_TRUE(Doc().grdFormsAssignment.ClickRow(0));
    Press<frmUnAssignForms>(3, [](frmUnAssignForms& d) {
      for (int i = 0; i < d.cboStatus.ListCount(); ++i) {
        if (d.cboStatus.List(i) == "Void") d.cboStatus.ChooseItem(i);
      }
      d.txtBox(5).TypeText("water damage");  // a void needs a comment
      d.cmdOk.PerformClick();
      EXPECT_FALSE(d.Visible()) << "the dialog refused the entry";
    });
  }

  // Clerk B, at another workstation, searches the citations and gives them to Lee.
  void ColleagueAssignsTheCitationsToLee() {
    protocol::Request search;
    search.requestId = NewRequestId();
    search.identity = "WORKSTATION-B";
    search.version = "1.0";
    search.requester = "FORMSMAINT";
    search.userId = kClerkB;
    search.messageType = protocol::kSearchMessage;
    search.criteria = {{"key:TRP_ID", "C", "=", "QUILLMAR"},
                       {"key:REF_TYP_CD", "C", "=", "QUILLMAR"},
                       {"key:THIN", "YES", "=", "QUILLMAR"}};
    const protocol::Reply seen = colleague->Exchange(search);
    ASSERT_TRUE(seen.ok) << seen.error;
    const protocol::DataSet& ranges = seen.dataSets.at("TROOPFORM");
    const protocol::Cell version = ranges.rows.at(0)[ranges.ColumnIndex("ROW_VERSION")];

    protocol::Request save = search;
    save.requestId = NewRequestId();
    save.messageType = protocol::kSaveRequeryMessage;
    auto rows = TroopForms({{"C", "4", "C", 1100001, 1100100, Value(kLee)}});
    rows->MoveFirst();
    rows->SetValue("ACTION", "UPD");
    rows->SetValue("ROW_VERSION", std::get<std::int64_t>(version));
    rows->Update();
    save.dataSets.emplace("TROOPFORM", ToWireDataSet(*rows));
    const protocol::Reply saved = colleague->Exchange(save);
    ASSERT_TRUE(saved.ok) << saved.error;
  }

  std::shared_ptr<server::Store> store;
  std::unique_ptr<ServedInventory> served;
  std::shared_ptr<MessageTransport> transport;
  std::shared_ptr<MessageTransport> colleague;  // clerk B's, at another workstation
};

INSTANTIATE_TEST_SUITE_P(BothTransports, CustodyEndToEndTest,
                         ::testing::Values(Carrier::Embedded, Carrier::Http), CarrierName);

TEST_P(CustodyEndToEndTest, StaleVoidIsRefusedTheColleaguesAssignmentStandsAndTheGridsCatchUp) {
  // Clerk A has new ranges waiting to be saved when she turns to the citations.
  ASSERT_TRUE(Doc().optButton(1).Choose());
  Doc().txtBox(0).SetText("C4");
  Doc().qmCboFormTypes.SetSelectionFromText("Seals");
  Doc().txtBox(2).SetText("500");
  Doc().txtBox(3).SetText("599");
  Doc().cmdButton(7).PerformClick();
  ASSERT_EQ(Doc().NewFormsDataSet()->RecordCount(), 1);
  ASSERT_TRUE(Doc().optButton(0).Choose());
  Search("C4", "C");
  ASSERT_THAT(Shown(), ElementsAre("1100001-1100100 1003 A 100"));

  ColleagueAssignsTheCitationsToLee();

  // Her screen still shows the citations with Brown; she voids them.
  VoidTheRange();
  ASSERT_EQ(ui->messages.size(), 1u);
  EXPECT_EQ(ui->messages[0].icon, MsgBoxIcon::Critical);
  EXPECT_THAT(
      ui->messages[0].text,
      MatchesRegex("Range 1100001-1100100 of ENF001 Citation was changed by John Smith,jr at "
                   "[0-9/]+ [0-9:]+ [AP]M after your search\\. Search again and repeat "
                   "the change\\."));
  EXPECT_THAT(Stored(), ElementsAre("C 1100001-1100100 1004 A v2"));
  EXPECT_THAT(Shown(), ElementsAre("1100001-1100100 1004 A 100")) << "the grid shows Lee's range";
  EXPECT_EQ(Doc().NewFormsDataSet()->RecordCount(), 1) << "the new range still waits";
  const auto history = store->FormHistory("C", 1100050);
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[1].userName, "John Smith,jr");

  // Now that her screen shows Lee's range, the void goes through.
  ui->messages.clear();
  VoidTheRange();
  EXPECT_THAT(ui->messages, ::testing::IsEmpty());
  EXPECT_THAT(Stored(), ElementsAre("C 1100001-1100100 1004 V v3"));
  EXPECT_EQ(store->FormHistory("C", 1100050).back().userName, "Margaret Hartley");
}

}  // namespace
}  // namespace fm::testing
