// The screen's layout at any size, without a window: captions fitted to measured sizes, then
// random resizes and view-mode switches, after each of which the controls shown must stand
// apart and inside their containers, and a size seen before gives the layout it gave before.

#include <map>
#include <random>
#include <tuple>

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
  // Two controls shown in one container that overlap, or one outside it; empty if none.
  std::string Problem() const {
    const TARVO_FormsMaint& d = *document;
    std::vector<const Control*> containers{nullptr};
    for (const Control* c : d.Controls()) {
      if (c->IsContainer() && c->IsShown()) containers.push_back(c);
    }
    for (const Control* container : containers) {
      std::vector<const Control*> shown;
      for (const Control* c : d.ChildrenOf(container)) {
        if (c->IsShown() && c->Kind() != ControlKind::Resizer &&
            c->Kind() != ControlKind::DataControl) {
          shown.push_back(c);
        }
      }
      const int width = container ? container->Width() : d.ClientWidth();
      const int height = container ? container->Height() : d.ClientHeight();
      for (const Control* a : shown) {
        if (a->Left() < 0 || a->Top() < 0 || a->Left() + a->Width() > width ||
            a->Top() + a->Height() > height) {
          return a->Name() + " is outside its container";
        }
        for (const Control* b : shown) {
          if (a < b && a->Left() < b->Left() + b->Width() && b->Left() < a->Left() + a->Width() &&
              a->Top() < b->Top() + b->Height() && b->Top() < a->Top() + a->Height()) {
            return a->Name() + " overlaps " + b->Name();
          }
        }
      }
    }
    return {};
  }
  std::vector<int> Layout() const {
    std::vector<int> numbers;
    for (const Control* c : document->Controls()) {
      numbers.insert(numbers.end(), {c->Left(), c->Top(), c->Width(), c->Height()});
    }
    return numbers;
  }
};

TEST_F(ResizePolicyTest, AtAnySizeAndInAnyModeTheControlsStandApartAndComeBackTheSame) {
  // As the desktop does it: the renderer measures before the document is first shown.
  document = std::make_unique<TARVO_FormsMaint>();
  document->SetParentWindow("Forms Maintenance", "FORMSMAINT");
  document->FitLayout(CharacterMetrics());
  document->UserDocument_Show();
  auto& d = *document;
  const TwipSize least = d.MinimumClientSize();
  ASSERT_EQ(Problem(), "");

  const std::uint32_t seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  const auto pick = [&](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  // A few sizes come back often, so that coming back can be checked.
  const std::vector<TwipSize> usual = {{15360, 8250}, {19200, 9000}, {38400, 20000}};
  std::map<std::tuple<int, int, int>, std::vector<int>> seen;  // mode, width, height
  int mode = 0;
  for (int step = 0; step < 300; ++step) {
    const int action = pick(0, 9);
    if (action < 2) {
      mode = pick(0, 2);
      d.optButton(mode).Choose();
      // A mode may need more room than the last one: the window grows to it, as the
      // desktop's does.
      d.ResizeByUser(d.ClientWidth(), d.ClientHeight());
    } else if (action < 6) {
      const TwipSize size = usual[static_cast<std::size_t>(pick(0, 2))];
      d.ResizeByUser(size.width, size.height);
    } else {
      d.ResizeByUser(pick(least.width - 2000, 45000), pick(least.height - 1000, 25000));
    }
    ASSERT_EQ(Problem(), "") << "step " << step << ", mode " << mode << ", " << d.ClientWidth()
                             << "x" << d.ClientHeight();
    const auto [it, first] =
        seen.try_emplace(std::make_tuple(mode, d.ClientWidth(), d.ClientHeight()), Layout());
    ASSERT_EQ(Layout(), it->second) << "step " << step << ": the same size, another layout";
  }
}

}  // namespace
}  // namespace fm::testing
