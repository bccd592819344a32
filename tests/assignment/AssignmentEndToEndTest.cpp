// Assign, unassign, void and reactivate against the forms server's own request handler,
// running in-process over an inventory of one range (the embedded transport the desktop
// uses when no server is configured).

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "assignment/frmUnAssignForms.h"
#include "controls/ComboBox.h"
#include "controls/CommandButton.h"
#include "controls/DataGrid.h"
#include "controls/OptionButton.h"
#include "controls/TextBox.h"
#include "document/EmbeddedServer.h"
#include "search/SearchFixture.h"
#include "server/Store.h"
#include "transport/EmbeddedTransport.h"

namespace fm::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;

constexpr std::int64_t kLee = 1004;  // on duty at C4
constexpr long kClerk = 1001;        // the user of the site settings

// One range as a search shows it.
struct Shown {
  std::string range;   // "from-to"
  std::string owner;   // the registry number, "0" for none
  std::string status;  // the code
  std::string remaining;
  friend bool operator==(const Shown&, const Shown&) = default;
};

void PrintTo(const Shown& shown, std::ostream* os) {
  *os << "{" << shown.range << " owner " << shown.owner << " status " << shown.status
      << " remaining " << shown.remaining << "}";
}

// One entry of a form's chain of custody.
struct Custody {
  std::string action;
  std::string range;
  std::int64_t registry;
  std::string status;
  std::int64_t user;
  friend bool operator==(const Custody&, const Custody&) = default;
};

void PrintTo(const Custody& c, std::ostream* os) {
  *os << "{" << c.action << " " << c.range << " reg " << c.registry << " status " << c.status
      << " user " << c.user << "}";
}

class AssignmentEndToEndTest : public SearchFixture {
 protected:
  void SetUp() override {
    DocumentFixture::SetUp();
    std::string pattern =
        (std::filesystem::temp_directory_path() / "fm-assignment-e2e-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder = pattern;
    const std::filesystem::path file = folder / "inventory.db";
    {
      // The inventory: citations 1100001-1100100 held by C4 with no officer, the first 20
      // of them used.
      server::StoreOptions options;
      options.region = "NORTH";
      auto store = server::OpenStore("sqlite:" + file.string(), options);
      server::FormRange range;
      range.formType = "C";
      range.from = 1100001;
      range.to = 1100100;
      range.troop = "C";
      range.district = "4";
      range.remaining = 80;
      range.comment = "received from HQ";
      store->LoadInventory({range}, {"LOAD-1", "test", 1}, true);
    }
    EmbeddedTransport::Options options;
    options.inventoryFile = file;
    options.user = server::Principal::LocalAdministrator(kClerk, "Margaret Hartley");
    transport = std::make_shared<EmbeddedTransport>(options);
    server.Connect(transport, kClerk);
    settings->SetSwitch("VoidManualForms", true);
    ShowDocument();
  }

  void TearDown() override {
    document.reset();
    server.Disconnect();
    transport.reset();
    DocumentFixture::TearDown();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }

  void AwaitReplies() { server.AwaitReplies(*loop); }

  void Search() {
    Doc().txtBox(0).SetText("C4");
    SelectFormType("C");
    Doc().cmdButton(0).PerformClick();
    AwaitReplies();
    ExpectNoComplaint();
  }

  void ExpectNoComplaint() {
    EXPECT_THAT(MessageTexts(), IsEmpty());
    EXPECT_THAT(errors->Reports(), IsEmpty());
    ui->messages.clear();
    errors->ClearReports();
  }

  std::vector<std::string> MessageTexts() const {
    std::vector<std::string> texts;
    for (const auto& message : ui->messages) texts.push_back(message.text);
    return texts;
  }

  std::vector<Shown> ShownRanges() {
    DataGrid& grid = Doc().grdFormsAssignment;
    std::vector<Shown> shown;
    for (long i = 0; i < grid.RowCount(); ++i) {
      const auto row = grid.BookmarkAt(i);
      shown.push_back(
          {grid.BoundText(row, "FRM_FORM_NBR") + "-" + grid.BoundText(row, "TO_FORM_NBR"),
           grid.BoundText(row, "ASGND_REG_NBR"), grid.BoundText(row, "TRP_ACTN_CD"),
           grid.BoundText(row, "RMNG_FORM_CNT")});
    }
    return shown;
  }

  // Shows and reads the computed cells of the row holding the range that starts at `from`.
  std::string Cell(std::int64_t from, const char* key) {
    DataGrid& grid = Doc().grdFormsAssignment;
    const long row = RowStartingAt(from);
    if (row < 0) return "(no such row)";
    grid.LoadRows(row, 1);
    return grid.CellTextAt(row, key);
  }

  long RowStartingAt(std::int64_t from) {
    DataGrid& grid = Doc().grdFormsAssignment;
    for (long i = 0; i < grid.RowCount(); ++i) {
      if (grid.CellTextAt(i, "FRM_FORM_NBR") == std::to_string(from)) return i;
    }
    return -1;
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

  // Presses the command button with the dialog's entry scripted, and waits for the requery.
  void Press(int button, std::function<void(frmUnAssignForms&)> entry) {
    ui->QueueModal([entry = std::move(entry)](UiElement& form) {
      auto& dialog = dynamic_cast<frmUnAssignForms&>(form);
      entry(dialog);
      dialog.cmdOk.PerformClick();
      EXPECT_FALSE(dialog.Visible()) << "the entry was refused";
    });
    ASSERT_TRUE(Doc().cmdButton(button).PerformClick()) << "button " << button << " is disabled";
    AwaitReplies();
    ExpectNoComplaint();
  }

  // Picks the reason from the status list, as the clerk does.
  static void ChooseReason(frmUnAssignForms& d, const std::string& reason) {
    for (int i = 0; i < d.cboStatus.ListCount(); ++i) {
      if (d.cboStatus.List(i) == reason) {
        d.cboStatus.ChooseItem(i);
        return;
      }
    }
    ADD_FAILURE() << "the status list does not offer " << reason;
  }

  static void Type(TextBox& box, const std::string& text) {
    box.SetText("");
    box.TypeText(text);
  }

  std::vector<Custody> HistoryOf(std::int64_t form) {
    std::vector<Custody> entries;
    for (const auto& e : transport->Open().FormHistory("C", form)) {
      entries.push_back({e.action, std::to_string(e.after.from) + "-" + std::to_string(e.after.to),
                         e.after.registry, e.after.status, e.userId});
    }
    return entries;
  }

  std::filesystem::path folder;
  std::shared_ptr<EmbeddedTransport> transport;
  EmbeddedServer server;
};

TEST_F(AssignmentEndToEndTest, AssignUnassignVoidAndReactivateSplitTheRangeAndAreAudited) {
  Search();
  EXPECT_THAT(ShownRanges(), ElementsAre(Shown{"1100001-1100100", "0", "A", "80"}));

  // Assign the first half to Lee: the used forms 1100001-1100020 stay with his piece.
  SelectRange(1100001);
  SelectOfficer(kLee);
  Press(2, [](frmUnAssignForms& d) {
    Type(d.txtBox(4), "1100050");
    Type(d.txtBox(5), "first half to Lee");
  });
  EXPECT_THAT(ShownRanges(), ElementsAre(Shown{"1100001-1100050", "1004", "A", "30"},
                                         Shown{"1100051-1100100", "0", "A", "50"}));
  EXPECT_THAT(Cell(1100001, "ASSIGNED_TO"), StartsWith("1004:LEE"));
  EXPECT_THAT(Cell(1100001, "TRP_FORM_CMMT_TXT"),
              StartsWith("first half to Lee  (Margaret Hartley "));
  EXPECT_EQ(Cell(1100051, "ASSIGNED_TO"), "C4");
  EXPECT_EQ(Cell(1100051, "TRP_FORM_CMMT_TXT"), "received from HQ");

  // Unassign the last ten of Lee's forms.
  SelectRange(1100001);
  Press(3, [](frmUnAssignForms& d) {
    ChooseReason(d, "Unassign");
    Type(d.txtBox(3), "1100041");
  });
  EXPECT_THAT(ShownRanges(), ElementsAre(Shown{"1100001-1100040", "1004", "A", "20"},
                                         Shown{"1100041-1100050", "0", "U", "10"},
                                         Shown{"1100051-1100100", "0", "A", "50"}));
  EXPECT_EQ(Cell(1100041, "TRP_ACTN_CD"), "Unassign");

  // Void ten more with a comment: a voided range leaves the normal view.
  SelectRange(1100001);
  Press(3, [](frmUnAssignForms& d) {
    ChooseReason(d, "Void");
    Type(d.txtBox(3), "1100031");
    Type(d.txtBox(4), "1100040");
    Type(d.txtBox(5), "water damage");
  });
  EXPECT_THAT(ShownRanges(), ElementsAre(Shown{"1100001-1100030", "1004", "A", "10"},
                                         Shown{"1100041-1100050", "0", "U", "10"},
                                         Shown{"1100051-1100100", "0", "A", "50"}));

  // Reactivate the voided forms from the Inactive Forms view.
  ASSERT_TRUE(Doc().optButton(2).Choose());
  Search();
  EXPECT_THAT(ShownRanges(), ElementsAre(Shown{"1100031-1100040", "1004", "V", "10"},
                                         Shown{"1100041-1100050", "0", "U", "10"}));
  EXPECT_THAT(Cell(1100031, "TRP_FORM_CMMT_TXT"), StartsWith("water damage  (Margaret Hartley "));
  SelectRange(1100031);
  Press(3, [](frmUnAssignForms& d) {
    EXPECT_THAT(d.cboStatus.Items(), ElementsAre("Activate"));
    Type(d.txtBox(5), "found dry");
  });
  EXPECT_THAT(ShownRanges(), ElementsAre(Shown{"1100041-1100050", "0", "U", "10"}));

  ASSERT_TRUE(Doc().optButton(0).Choose());
  Search();
  EXPECT_THAT(ShownRanges(), ElementsAre(Shown{"1100001-1100030", "1004", "A", "10"},
                                         Shown{"1100031-1100040", "1004", "A", "10"},
                                         Shown{"1100041-1100050", "0", "U", "10"},
                                         Shown{"1100051-1100100", "0", "A", "50"}));

  // Every change is in the forms' history, with the clerk who made it.
  EXPECT_THAT(HistoryOf(1100035),
              ElementsAre(Custody{"LOAD", "1100001-1100100", 0, "A", 1},
                          Custody{"UPD", "1100001-1100050", kLee, "A", kClerk},
                          Custody{"UPD", "1100001-1100040", kLee, "A", kClerk},
                          Custody{"ADD", "1100031-1100040", kLee, "V", kClerk},
                          Custody{"UPD", "1100031-1100040", kLee, "A", kClerk}));
  EXPECT_THAT(HistoryOf(1100045), ElementsAre(Custody{"LOAD", "1100001-1100100", 0, "A", 1},
                                              Custody{"UPD", "1100001-1100050", kLee, "A", kClerk},
                                              Custody{"ADD", "1100041-1100050", 0, "U", kClerk}));
  EXPECT_THAT(HistoryOf(1100075), ElementsAre(Custody{"LOAD", "1100001-1100100", 0, "A", 1},
                                              Custody{"ADD", "1100051-1100100", 0, "A", kClerk}));
}

}  // namespace
}  // namespace fm::testing
