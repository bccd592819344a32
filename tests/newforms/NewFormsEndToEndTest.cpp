// Recording received ranges against the forms server's own request handler, in-process
// over an empty inventory (the embedded transport the desktop uses with no server).

#include "document/EmbeddedServer.h"
#include "platform/DataSet.h"

namespace fm::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class NewFormsEndToEndTest : public EndToEndFixture {
 protected:
  void SetUp() override {
    EndToEndFixture::SetUp();
    // The close-after-save wait really sleeps between looks, as on the desktop, so the
    // server's worker thread has time to answer before the time-out.
    loop = std::make_shared<QueueEventLoop>(std::make_shared<SteadyClock>());
    Services::SetEventLoop(loop);

    OpenInventory();  // schema and reference data only
    EmbeddedTransport::Options options;
    options.inventoryFile = InventoryFile();
    Connect(std::make_shared<EmbeddedTransport>(options), 1001);
    ASSERT_TRUE(document->optButton(1).Choose());
  }

  void Add(const std::string& troopDistrict, const std::string& formType, const std::string& from,
           const std::string& to) {
    auto& d = *document;
    d.txtBox(0).SetText(troopDistrict);
    d.qmCboFormTypes.SetSelectionFromText(formType);
    d.txtBox(2).SetText(from);
    d.txtBox(3).SetText(to);
    d.cmdButton(7).PerformClick();
  }

  long Pending() { return document->NewFormsDataSet()->RecordCount(); }

  // The ranges a search in the Forms Assignment view finds.
  std::vector<std::string> Found(const std::string& troopDistrict, std::string_view formType) {
    if (!Doc().optButton(0).Value()) {
      EXPECT_TRUE(Doc().optButton(0).Choose());
    }
    Search(troopDistrict, formType);
    return Shown();
  }
};

TEST_F(NewFormsEndToEndTest, SavedRangesAreFoundWithEveryFormRemaining) {
  auto& d = *document;
  Add("A1", "Seals", "1", "100");
  Add("A1", "Seals", "101", "250");
  Add("A1", "ENF001 Citation", "1100001", "1100500");
  ASSERT_EQ(Pending(), 3);

  d.SaveData();  // the host's Save item
  AwaitReplies();
  EXPECT_THAT(ui->messages, IsEmpty());
  EXPECT_THAT(errors->Reports(), IsEmpty());
  EXPECT_EQ(Pending(), 0);
  EXPECT_EQ(d.grdNewForms.RowCount(), 0);

  EXPECT_THAT(Found("A1", "Z"), ElementsAre("1-100 0 A 100", "101-250 0 A 150"));
  EXPECT_THAT(Found("A1", "C"), ElementsAre("1100001-1100500 0 A 500"));
}

TEST_F(NewFormsEndToEndTest, ClosingWithPendingRangesFollowsTheAnswer) {
  auto& d = *document;
  Add("B2", "Seals", "500", "599");
  ASSERT_EQ(Pending(), 1);

  ui->QueueAnswer(MsgBoxResult::Cancel);
  EXPECT_FALSE(d.CloseDocument());
  EXPECT_EQ(Pending(), 1);

  ui->QueueAnswer(MsgBoxResult::No);
  EXPECT_TRUE(d.CloseDocument());
  EXPECT_EQ(Pending(), 1) << "No discards the rows with the document, it saves nothing";
  EXPECT_THAT(Found("B2", "Z"), IsEmpty());

  ASSERT_TRUE(d.optButton(1).Choose());
  ui->QueueAnswer(MsgBoxResult::Yes);
  EXPECT_TRUE(d.CloseDocument());
  EXPECT_EQ(Pending(), 0);
  EXPECT_THAT(Found("B2", "Z"), ElementsAre("500-599 0 A 100"));
}

TEST_F(NewFormsEndToEndTest, ARangeTheServerRefusesKeepsThePendingRows) {
  auto& d = *document;
  ASSERT_TRUE(d.optButton(1).Value());
  {
    // Another workstation records seals for C1 meanwhile; this screen has not
    // searched since, so only the server can see the overlap.
    TARVO_FormsMaint other;
    other.SetParentWindow("Forms Maintenance", "FORMSMAINT");
    other.UserDocument_Show();
    ASSERT_TRUE(other.optButton(1).Choose());
    other.txtBox(0).SetText("C1");
    other.qmCboFormTypes.SetSelectionFromText("Seals");
    other.txtBox(2).SetText("1000");
    other.txtBox(3).SetText("1999");
    other.cmdButton(7).PerformClick();
    other.SaveData();
    AwaitReplies();
    ASSERT_EQ(other.NewFormsDataSet()->RecordCount(), 0);
    other.BeforeUnload();
  }

  Add("C2", "Seals", "1500", "1600");
  Add("C2", "Seals", "3000", "3099");
  ASSERT_EQ(Pending(), 2);
  d.SaveData();
  AwaitReplies();
  ASSERT_EQ(ui->messages.size(), 1U);
  EXPECT_EQ(ui->messages[0].icon, MsgBoxIcon::Critical);
  EXPECT_THAT(ui->messages[0].text, ::testing::HasSubstr("1500"));
  EXPECT_EQ(Pending(), 2) << "every pending row stays to be corrected";
  EXPECT_THAT(Found("C2", "Z"), IsEmpty()) << "all or nothing";
}

}  // namespace
}  // namespace fm::testing
