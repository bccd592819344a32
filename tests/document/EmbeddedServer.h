#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "TempFolder.h"
#include "platform/EventLoop.h"
#include "platform/MessageComponent.h"
#include "search/SearchFixture.h"
#include "server/store/Store.h"
#include "transport/EmbeddedTransport.h"
#include "transport/MessageTransport.h"
#include "transport/TransportMessageComponent.h"

namespace fm::testing {

// The document shown over a transport the test makes (embedded: the server's own request
// handler in-process, or HTTP to a server the test runs), in a temporary folder for the
// inventory, driven as a clerk drives it.
class EndToEndFixture : public SearchFixture {
 protected:
  // Leaves the document to Connect: it is shown once the transport is there.
  void SetUp() override { DocumentFixture::SetUp(); }

  void TearDown() override {
    document.reset();
    MessageComponent::SetFactory(nullptr);
    component.reset();
    DocumentFixture::TearDown();
  }

  // Makes a component over `transport` the process's message component and shows the document.
  void Connect(std::shared_ptr<MessageTransport> transport, long userId) {
    component =
        TransportMessageComponent::Create(std::move(transport), {std::chrono::seconds(60), userId});
    MessageComponent::SetFactory([c = component] { return c; });
    ShowDocument();
  }

  // Runs the user-interface thread's events until every request sent is answered. The limit
  // only keeps a broken transport from hanging the test.
  void AwaitReplies() {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
      loop->ProcessPendingEvents();
      if (component->PendingCount() == 0) return;
      ASSERT_LT(std::chrono::steady_clock::now(), limit) << "no reply from the server";
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  // The inventory file of the test, for the region NORTH.
  std::filesystem::path InventoryFile() const { return folder / "inventory.db"; }
  std::shared_ptr<server::Store> OpenInventory() const {
    server::StoreOptions options;
    options.region = "NORTH";
    return server::OpenStore("sqlite:" + InventoryFile().string(), options);
  }

  // Citations 1100001-1100100 held by C4.
  static server::FormRange Citations(std::int64_t registry, std::int64_t remaining) {
    server::FormRange range;
    range.formType = "C";
    range.from = 1100001;
    range.to = 1100100;
    range.troop = "C";
    range.district = "4";
    range.registry = registry;
    range.remaining = remaining;
    return range;
  }

  // Searches the Troop/District and form type code in the view shown; the search must be
  // accepted and answered without a complaint.
  void Search(const std::string& troopDistrict, std::string_view formType) {
    const auto shown = ui->messages.size();
    const auto reported = errors->Reports().size();
    Doc().txtBox(0).SetText(troopDistrict);
    SelectFormType(formType);
    Doc().cmdButton(0).PerformClick();
    AwaitReplies();
    ASSERT_EQ(ui->messages.size(), shown) << ui->messages.back().text;
    ASSERT_EQ(errors->Reports().size(), reported) << errors->Reports().back().description;
  }

  // "from-to owner status remaining" of every row the assignment grid shows.
  std::vector<std::string> Shown() {
    DataGrid& grid = Doc().grdFormsAssignment;
    std::vector<std::string> shown;
    for (long i = 0; i < grid.RowCount(); ++i) {
      const auto row = grid.BookmarkAt(i);
      shown.push_back(
          grid.BoundText(row, "FRM_FORM_NBR") + "-" + grid.BoundText(row, "TO_FORM_NBR") + " " +
          grid.BoundText(row, "ASGND_REG_NBR") + " " + grid.BoundText(row, "TRP_ACTN_CD") + " " +
          grid.BoundText(row, "RMNG_FORM_CNT"));
    }
    return shown;
  }

  // The row of the assignment grid holding the range that starts at `from`; -1 if none.
  long RowStartingAt(std::int64_t from) {
    DataGrid& grid = Doc().grdFormsAssignment;
    for (long i = 0; i < grid.RowCount(); ++i) {
      if (grid.CellTextAt(i, "FRM_FORM_NBR") == std::to_string(from)) return i;
    }
    return -1;
  }

  // Shows and reads a computed cell of the row holding the range that starts at `from`.
  std::string Cell(std::int64_t from, const char* key) {
    const long row = RowStartingAt(from);
    if (row < 0) return "(no such row)";
    Doc().grdFormsAssignment.LoadRows(row, 1);
    return Doc().grdFormsAssignment.CellTextAt(row, key);
  }

  // Presses the command button with the dialog it opens scripted, and waits for the replies.
  template <class Form>
  void Press(int button, std::function<void(Form&)> script) {
    WhenModal<Form>(std::move(script));
    ASSERT_TRUE(Doc().cmdButton(button).PerformClick()) << "button " << button << " is disabled";
    AwaitReplies();
  }

  static void Type(TextBox& box, const std::string& text) {
    box.SetText("");
    box.TypeText(text);
  }

  TempFolder temp;
  const std::filesystem::path& folder = temp.Path();
  std::shared_ptr<TransportMessageComponent> component;
};

}  // namespace fm::testing
