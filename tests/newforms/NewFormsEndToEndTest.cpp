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
    EXPECT_TRUE(Doc().optButton(0).Value() || Doc().optButton(0).Choose());
    Search(troopDistrict, formType);
    return Shown();
  }
};

// Closing with pending ranges and answering Yes saves them and waits for the reply: the one
// path on which the document waits for the server while the server's worker thread answers.
TEST_F(NewFormsEndToEndTest, RangesSavedOnClosingAreFoundWithEveryFormRemaining) {
  Add("A1", "Seals", "1", "100");
  Add("A1", "Seals", "101", "250");
  Add("A1", "ENF001 Citation", "1100001", "1100500");
  ASSERT_EQ(Pending(), 3);

  ui->QueueAnswer(MsgBoxResult::Yes);
  EXPECT_TRUE(document->CloseDocument());
  EXPECT_EQ(ui->messages.size(), 1u) << "the question only";
  EXPECT_THAT(errors->Reports(), IsEmpty());
  EXPECT_EQ(Pending(), 0);

  EXPECT_THAT(Found("A1", "Z"), ElementsAre("1-100 0 A 100", "101-250 0 A 150"));
  EXPECT_THAT(Found("A1", "C"), ElementsAre("1100001-1100500 0 A 500"));
}

}  // namespace
}  // namespace fm::testing
