// The screen's layout at any size, without a window: captions fitted to measured sizes, then
// random resizes and view-mode switches, after each of which the controls shown must stand
// apart and inside their containers, the grids keep their least size, the buttons stay under
// their grid, and a size seen before gives the very layout it gave before.

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "controls/CodesCombo.h"
#include "controls/CommandButton.h"
#include "controls/DataGrid.h"
#include "controls/Frame.h"
#include "controls/Label.h"
#include "controls/LayoutMetrics.h"
#include "controls/OptionButton.h"
#include "controls/TextBox.h"
#include "document/DocumentFixture.h"

namespace fm::testing {
namespace {

// Captions measured at a fixed width per character, about what a narrow 8-point font takes.
class CharacterMetrics final : public LayoutMetrics {
 public:
  TwipSize FittingSize(const Control& control) const override {
    const auto chars = [](const std::string& text) { return static_cast<int>(text.size()); };
    switch (control.Kind()) {
      case ControlKind::Label:
        return {70 * chars(static_cast<const Label&>(control).Caption()) + 15, 195};
      case ControlKind::OptionButton:
        return {70 * chars(static_cast<const OptionButton&>(control).Caption()) + 300, 285};
      case ControlKind::CommandButton:
        return {
            std::max(1200, 70 * chars(static_cast<const CommandButton&>(control).Caption()) + 240),
            315};
      case ControlKind::TextBox:
        return {0, 315};
      case ControlKind::CodesCombo:
        return {2600, 330};
      case ControlKind::DataGrid:
        return {80 * chars(static_cast<const DataGrid&>(control).Caption()) + 120, 0};
      default:
        return {};
    }
  }
};

class ResizePolicyTest : public DocumentFixture {
 protected:
  // As the desktop does it: the renderer measures before the document is first shown.
  TARVO_FormsMaint& FitAndShow() {
    document = std::make_unique<TARVO_FormsMaint>();
    document->SetParentWindow("Forms Maintenance", "FORMSMAINT");
    document->FitLayout(metrics);
    document->UserDocument_Show();
    return *document;
  }

  static std::string Where(const Control& c) {
    return c.Name() + " at " + std::to_string(c.Left()) + "," + std::to_string(c.Top()) + " " +
           std::to_string(c.Width()) + "x" + std::to_string(c.Height());
  }

  // What is wrong with the layout as it stands; empty when nothing is.
  std::vector<std::string> Problems() const {
    const TARVO_FormsMaint& d = *document;
    std::vector<std::string> problems;
    std::vector<const Control*> containers{nullptr};
    for (const Control* c : d.Controls()) {
      if (c->IsContainer() && c->IsShown()) containers.push_back(c);
    }
    for (const Control* container : containers) {
      const int width = container ? container->Width() : d.ClientWidth();
      const int height = container ? container->Height() : d.ClientHeight();
      std::vector<const Control*> shown;
      for (const Control* c : d.ChildrenOf(container)) {
        if (c->IsShown() && c->Kind() != ControlKind::Resizer &&
            c->Kind() != ControlKind::DataControl) {
          shown.push_back(c);
        }
      }
      for (const Control* c : shown) {
        if (c->Left() < 0 || c->Top() < 0 || c->Left() + c->Width() > width ||
            c->Top() + c->Height() > height) {
          problems.push_back(Where(*c) + " is outside its container");
        }
        const TwipSize fit = metrics.FittingSize(*c);
        if (c->Kind() != ControlKind::DataGrid &&
            (c->Width() < fit.width || c->Height() < fit.height)) {
          problems.push_back(Where(*c) + " is smaller than its caption");
        }
      }
      for (std::size_t i = 0; i < shown.size(); ++i) {
        for (std::size_t j = i + 1; j < shown.size(); ++j) {
          const Control& a = *shown[i];
          const Control& b = *shown[j];
          if (a.Left() < b.Left() + b.Width() && b.Left() < a.Left() + a.Width() &&
              a.Top() < b.Top() + b.Height() && b.Top() < a.Top() + a.Height()) {
            problems.push_back(Where(a) + " overlaps " + Where(b));
          }
        }
      }
    }
    for (const DataGrid* grid : {&d.grdFormsAssignment, &d.grdOfficerList, &d.grdNewForms}) {
      const TwipSize least = d.rszResizer.MinimumSizeOf(*grid);
      if (grid->IsShown() && (grid->Width() < least.width || grid->Height() < least.height)) {
        problems.push_back(Where(*grid) + " is below its least size");
      }
    }
    const auto under = [&](const Control& button, const DataGrid& grid) {
      if (button.Top() < grid.Top() + grid.Height() || button.Left() < grid.Left() ||
          button.Left() + button.Width() > grid.Left() + grid.Width()) {
        problems.push_back(Where(button) + " is not under " + Where(grid));
      }
    };
    if (d.fraSearchForms.IsShown()) {
      for (int i : {2, 3, 4}) under(d.cmdButton(i), d.grdFormsAssignment);
      under(d.cmdButton(5), d.grdOfficerList);
    }
    return problems;
  }

  std::vector<int> Layout() const {
    std::vector<int> numbers;
    for (const Control* c : document->Controls()) {
      numbers.insert(numbers.end(), {c->Left(), c->Top(), c->Width(), c->Height()});
    }
    return numbers;
  }

  CharacterMetrics metrics;
};

TEST_F(ResizePolicyTest, AtAnySizeAndInAnyModeTheControlsStandApartAndComeBackTheSame) {
  auto& d = FitAndShow();
  const TwipSize least = d.MinimumClientSize();
  ASSERT_LT(least.width, d.ClientWidth());
  ASSERT_LT(least.height, d.ClientHeight());
  ASSERT_TRUE(Problems().empty()) << Problems().front();

  const std::uint32_t seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  // A few sizes come back often, so that coming back can be checked; the rest are any.
  const std::vector<TwipSize> usual = {
      {15360, 8250}, {19200, 9000}, {24000, 13500}, {38400, 20000}};
  std::map<std::tuple<int, int, int>, std::vector<int>> seen;  // mode, width, height
  int mode = 0;
  for (int step = 0; step < 300; ++step) {
    const int action = std::uniform_int_distribution<int>(0, 9)(random);
    if (action < 2) {
      mode = std::uniform_int_distribution<int>(0, 2)(random);
      d.optButton(mode).Choose();
      // What a mode shows may need more room than the last one: the window grows to it,
      // as the desktop's does.
      const TwipSize now = d.MinimumClientSize();
      if (d.ClientWidth() < now.width || d.ClientHeight() < now.height) {
        d.ResizeByUser(d.ClientWidth(), d.ClientHeight());
      }
    } else if (action < 6) {
      const TwipSize size = usual[std::uniform_int_distribution<std::size_t>(0, 3)(random)];
      d.ResizeByUser(size.width, size.height);
    } else {
      // Anything from a little below the least size to a very large screen.
      d.ResizeByUser(std::uniform_int_distribution<int>(least.width - 2000, 45000)(random),
                     std::uniform_int_distribution<int>(least.height - 1000, 25000)(random));
    }
    const std::vector<std::string> problems = Problems();
    ASSERT_TRUE(problems.empty()) << "step " << step << ", mode " << mode << ", " << d.ClientWidth()
                                  << "x" << d.ClientHeight() << ": " << problems.front();
    // The Comment column's own rule holds at every size.
    const auto& grid = d.grdFormsAssignment;
    const int others = 3200 + 2037 + 1852 + 3200;
    ASSERT_EQ(grid.FindColumnByCaption("Comment")->Width(), std::max(grid.Width() - others, 1000));

    const auto key = std::make_tuple(mode, d.ClientWidth(), d.ClientHeight());
    const auto it = seen.find(key);
    if (it == seen.end()) {
      seen.emplace(key, Layout());
    } else {
      ASSERT_EQ(Layout(), it->second) << "step " << step << ": the same size, another layout";
    }
  }
}

TEST_F(ResizePolicyTest, EachCaptionStandsJustBeforeItsBoxAndTheEntryRowsKeepTheirPlace) {
  auto& d = FitAndShow();
  const auto rightOf = [](const Control& c) { return c.Left() + c.Width(); };
  const std::vector<std::pair<int, Control*>> pairs = {
      {0, &d.txtBox(0)}, {1, &d.qmCboFormTypes}, {2, &d.txtBox(1)}, {8, &d.txtBox(7)},
      {3, &d.txtBox(2)}, {4, &d.txtBox(3)},      {5, &d.txtBox(4)}};
  for (int mode : {1, 0, 2, 1}) {
    d.optButton(mode).Choose();
    d.ResizeByUser(30000, 16000);
    for (const auto& [label, box] : pairs) {
      EXPECT_EQ(rightOf(d.lblLabel(label)), box->Left()) << "mode " << mode << " " << box->Name();
      EXPECT_EQ(d.lblLabel(label).Top(), box->Top()) << box->Name();
    }
    // "Qtr Year:" and "Year:" stand under "From Range:" and "To Range:".
    EXPECT_EQ(d.lblLabel(7).Left(), d.lblLabel(3).Left());
    EXPECT_EQ(d.txtBox(6).Left(), d.txtBox(3).Left());
    EXPECT_EQ(d.txtBox(0).Left(), rightOf(d.lblLabel(0)));
    d.ResizeByUser(19200, 9000);
  }
}

}  // namespace
}  // namespace fm::testing
