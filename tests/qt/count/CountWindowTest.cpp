// The Physical Count window end to end, offscreen, through the shell over an embedded
// inventory of its own: a station of ten ranges counted with one book missing and a number
// that B2 holds, refused to the station's own clerk, certified by the auditor, then unchanged
// and in the history of each form. The model behind the window has tests of its own in
// tests/shell, the messages' role rules in tests/server/handler.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QTableWidget>
#include <atomic>
#include <fstream>
#include <sstream>

#include "ShellTest.h"
#include "qt/count/PhysicalCountWindow.h"
#include "qt/history/FormHistoryWindow.h"
#include "qt/shell/ShellWindow.h"
#include "server/store/Store.h"
#include "transport/EmbeddedTransport.h"
#include "transport/TransportMessageComponent.h"

namespace fm::qt {
namespace {

using namespace std::chrono_literals;
using testing::WaitUntil;

// The embedded inventory as the auditor or as A1's own clerk, whichever the test says.
class ActingTransport final : public MessageTransport {
 public:
  explicit ActingTransport(const std::filesystem::path& inventory)
      : mAuditor(Acting(inventory, {40, "Avery Auditor", server::Role::Auditor,
                                    server::StationScope::Parse("A")})),
        mClerk(Acting(inventory, {1001, "Margaret Hartley", server::Role::Clerk,
                                  server::StationScope::Parse("A1")})) {}
  protocol::Reply Exchange(const protocol::Request& request) override {
    return (mAsClerk ? mClerk : mAuditor).Exchange(request);
  }
  void ActAsClerk(bool clerk) { mAsClerk = clerk; }

 private:
  static EmbeddedTransport::Options Acting(const std::filesystem::path& inventory,
                                           server::Principal who) {
    EmbeddedTransport::Options options;
    options.inventoryFile = inventory;
    options.user = std::move(who);
    return options;
  }
  EmbeddedTransport mAuditor;
  EmbeddedTransport mClerk;
  std::atomic<bool> mAsClerk = false;
};

server::FormRange Citations(std::int64_t from, std::int64_t registry, const char* district) {
  server::FormRange r;
  r.formType = "C";
  r.from = from;
  r.to = from + 99;
  r.troop = district[0] == '2' ? "B" : "A";
  r.district = district;
  r.registry = registry;
  r.status = "A";
  r.remaining = 100;
  return r;
}

std::vector<std::string> Row(const QTableWidget& table, int row) {
  std::vector<std::string> cells;
  for (int c = 0; c < table.columnCount(); ++c)
    cells.push_back(table.item(row, c)->text().toStdString());
  return cells;
}

class CountWindowTest : public testing::ShellTest {
 protected:
  CountWindowTest() {
    const auto inventory = mData.Path() / "inventory.db";
    std::vector<server::FormRange> ranges;
    for (int i = 0; i < 10; ++i)
      ranges.push_back(Citations(1100001 + 100 * i, i % 2 ? 1002 : 0, "1"));
    ranges.push_back(Citations(1200001, 0, "2"));
    server::OpenStore("sqlite:" + inventory.string())
        ->LoadInventory(ranges, {"load", "test", 1, "Ann Admin"}, true);
    transport = std::make_shared<ActingTransport>(inventory);
    Open({mData.Path(), [t = transport] { return TransportMessageComponent::Create(t, {}); }, {}});
  }
  void Done(const PhysicalCountWindow& window) {
    ASSERT_TRUE(WaitUntil([&] { return !window.Waiting(); }, 30s)) << "no answer";
  }

  std::shared_ptr<ActingTransport> transport;
  testing::TempFolder out;

 private:
  testing::TempFolder mData;
};

TEST_F(CountWindowTest, AStationsCountNamesWhatIsMissingAndUnexpectedAndOnceCertifiedStays) {
  shell->Window().PhysicalCountAction().trigger();
  PhysicalCountWindow& window = shell->Window().OpenPhysicalCount();
  window.SetStation("a1");
  window.ListCounts();
  Done(window);
  window.OpenCount({"C"});
  Done(window);
  ASSERT_EQ(window.Model().Sheet().book.size(), 10u) << window.StatusLine().text().toStdString();

  // The shelf typed, the officers' books imported: all but 1100301-1100400, and B2's 1200050.
  window.EnterSpan("", "1100001", "1100300");
  Done(window);
  const auto file = out.Path() / "scanned.csv";
  std::ofstream(file) << "form type,from,to\nC,1100401,1101000\n1200050\n";
  window.ImportFile(QString::fromStdString(file.string()));
  Done(window);
  ASSERT_EQ(window.Missing().rowCount(), 1) << window.StatusLine().text().toStdString();
  EXPECT_EQ(Row(window.Missing(), 0),
            (std::vector<std::string>{"ENF001 Citation", "1100301", "1100400", "100",
                                      "officer 1002", ""}));
  ASSERT_EQ(window.Unexpected().rowCount(), 1);
  EXPECT_EQ(Row(window.Unexpected(), 0),
            (std::vector<std::string>{"ENF001 Citation", "1200050", "1200050", "1",
                                      "held by another station", "Troop/District B2"}));

  transport->ActAsClerk(true);
  window.Certify("All there.");
  Done(window);
  EXPECT_NE(window.StatusLine().text().toStdString().find(
                "holds custody at Troop/District A1 and may not certify"),
            std::string::npos)
      << window.StatusLine().text().toStdString();
  EXPECT_TRUE(window.Model().CanChange());

  transport->ActAsClerk(false);
  window.Certify("Counted with Tpr. Smith present.");
  Done(window);
  ASSERT_FALSE(window.Model().CanChange()) << window.StatusLine().text().toStdString();
  window.EnterSpan("", "1100350", "");
  EXPECT_FALSE(window.Waiting()) << "a certified count is never sent more numbers";
  window.ListCounts();
  Done(window);
  window.PickCount(0);
  Done(window);
  EXPECT_EQ(window.Missing().rowCount(), 1) << "the count as certified";
  EXPECT_NE(window.CountList().itemText(0).toStdString().find("certified"), std::string::npos);

  const auto pdf = out.Path() / "count.pdf";
  GridView::SetSaveFileChooser(
      [&](QWidget*, const QString&) { return QString::fromStdString(pdf.string()); });
  window.ExportToPdf();
  std::ifstream printed(pdf, std::ios::binary);
  std::string head(5, '\0');
  printed.read(head.data(), 5);
  EXPECT_EQ(head, "%PDF-");

  FormHistoryWindow& history = shell->Window().OpenFormHistory();
  for (const auto& [number, found] : std::vector<std::pair<std::int64_t, const char*>>{
           {1100001, "found"},
           {1100350, "missing"},
           {1200050, "unexpected: held by another station"}}) {
    history.ShowHistory("C", number);
    ASSERT_TRUE(WaitUntil([&] { return !history.Waiting(); }, 30s));
    ASSERT_EQ(history.CountsTable().rowCount(), 1) << number;
    EXPECT_EQ(history.CountsTable().item(0, 4)->text().toStdString(), found) << number;
  }
}

}  // namespace
}  // namespace fm::qt
