#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "controls/CommandButton.h"
#include "controls/DataGrid.h"
#include "controls/Form.h"
#include "controls/Frame.h"
#include "controls/Resizer.h"
#include "controls/TextBox.h"
#include "platform/PlatformError.h"

namespace fm {
namespace {

class ResizerTest : public ::testing::Test {
 protected:
  ResizerTest()
      : frame(form.Add<Frame>("fraSearchForms")),
        grid(form.Add<DataGrid>("grdFormsAssignment", -1, &frame)),
        button(form.Add<CommandButton>("cmdButton", 0)),
        resizer(form.Add<Resizer>("rszResizer")) {
    form.SetClientSize(12000, 8000);
    frame.Move(100, 1000, 11800, 6000);
    grid.Move(120, 240, 5000, 4000);
    button.Move(10000, 120, 1000, 375);
    grid.AddColumn("Comment", "TRP_FORM_CMMT_TXT", "TRP_FORM_CMMT_TXT", true, 5239);
  }
  static std::vector<int> Box(const Control& c) {
    return {c.Left(), c.Top(), c.Width(), c.Height()};
  }

  Form form{"TARVO_FormsMaint"};
  Frame& frame;
  DataGrid& grid;
  CommandButton& button;
  Resizer& resizer;
};

TEST_F(ResizerTest, ScalesPositionsAndSizesByTheWidthAndHeightRatios) {
  ASSERT_TRUE(resizer.Resize(18000, 4000));  // 1.5 wide, 0.5 high
  EXPECT_EQ(form.ClientWidth(), 18000);
  EXPECT_EQ(form.ClientHeight(), 4000);
  EXPECT_EQ(Box(frame), (std::vector<int>{150, 500, 17700, 3000}));
  EXPECT_EQ(Box(grid), (std::vector<int>{180, 120, 7500, 2000}));  // inside, the same ratios
  // Grid columns are the screen's business.
  EXPECT_EQ(grid.Column(0).Width(), 5239);
}

TEST_F(ResizerTest, BeforeResizeComesForEachControlBeforeItMovesAndCanSwitchSettingsOff) {
  std::vector<std::string> events;
  resizer.BeforeResize.Connect([&](Control& control, Resizer::Settings& settings) {
    events.push_back("before " + control.Name() + " at " + std::to_string(control.Left()));
    if (control.Kind() == ControlKind::CommandButton) {
      settings.resizeHeight = false;
      settings.resizeWidth = false;
    }
  });
  resizer.ResizeComplete.Connect(
      [&] { events.push_back("complete " + std::to_string(form.ClientWidth())); });
  resizer.Resize(24000, 16000);
  EXPECT_EQ(events, (std::vector<std::string>{"before fraSearchForms at 100",
                                              "before grdFormsAssignment at 120",
                                              "before cmdButton(0) at 10000", "complete 24000"}));
  EXPECT_EQ(Box(button), (std::vector<int>{20000, 240, 1000, 375}));  // moved, not resized
}

TEST_F(ResizerTest, BackAndForthComesBackToTheSameLayout) {
  resizer.Resize(13337, 9001);
  resizer.Resize(12000, 8000);
  EXPECT_NEAR(grid.Width(), 5000, 1);
  EXPECT_NEAR(button.Left(), 10000, 1);
  EXPECT_NEAR(frame.Height(), 6000, 1);
}

TEST_F(ResizerTest, AMinimisedWindowChangesNothingAndTheUsersResizeGoesThroughIt) {
  int events = 0;
  resizer.BeforeResize.Connect([&](Control&, Resizer::Settings&) { ++events; });
  resizer.ResizeComplete.Connect([&] { ++events; });
  EXPECT_FALSE(resizer.Resize(0, 0));
  EXPECT_FALSE(resizer.Resize(5000, -1));
  EXPECT_EQ(events, 0);
  EXPECT_EQ(grid.Width(), 5000);
  EXPECT_EQ(form.ClientWidth(), 12000);
  // The user's resize goes through the form's resizer.
  int formResizes = 0;
  form.Resize.Connect([&] { ++formResizes; });
  form.ResizeByUser(6000, 8000);
  EXPECT_EQ(grid.Width(), 2500);
  EXPECT_EQ(formResizes, 1);
}

TEST(ResizerWithoutSizeTest, AFormWithoutASizeOnlyTakesTheNewSize) {
  Form form("frmNew");
  auto& box = form.Add<TextBox>("txtBox", 0);
  auto& resizer = form.Add<Resizer>("rszResizer");
  box.Move(100, 100, 1000, 300);
  int completes = 0;
  resizer.ResizeComplete.Connect([&] { ++completes; });
  resizer.Resize(9000, 6000);
  EXPECT_EQ(box.Width(), 1000);
  EXPECT_EQ(form.ClientWidth(), 9000);
  EXPECT_EQ(completes, 1);
}

// Two grids side by side in a frame that fills the form, a button under each, an entry box
// pinned at the top: the policy of the forms-maintenance screen in small.
class AnchoredResizerTest : public ::testing::Test {
 protected:
  AnchoredResizerTest() {
    form.SetClientSize(12000, 8000);
    box.Move(120, 120, 1000, 300);
    frame.Move(120, 600, 11760, 7280);
    left.Move(120, 240, 7000, 6000);
    right.Move(7240, 240, 4400, 6000);
    leftButton.Move(120, 6360, 1500, 375);
    rightButton.Move(7240, 6360, 1500, 375);
    resizer.SetAnchors(frame, Anchors::Stretch());
    resizer.SetAnchors(left, {0.0, 0.0, 0.75, 1.0});
    resizer.SetAnchors(right, {0.75, 0.0, 1.0, 1.0});
    resizer.SetAnchors(leftButton, {0.0, 1.0, 0.0, 1.0});
    resizer.SetAnchors(rightButton, {0.75, 1.0, 0.75, 1.0});
    resizer.SetAnchors(box, Anchors::Pinned());
    resizer.SetMinimumSize(left, 2000, 1500);
  }
  std::vector<int> Layout() const {
    std::vector<int> numbers;
    for (const Control* c : form.Controls()) {
      numbers.insert(numbers.end(), {c->Left(), c->Top(), c->Width(), c->Height()});
    }
    return numbers;
  }

  Form form{"TARVO_FormsMaint"};
  Frame& frame = form.Add<Frame>("fraSearchForms");
  DataGrid& left = form.Add<DataGrid>("grdLeft", -1, &frame);
  DataGrid& right = form.Add<DataGrid>("grdRight", -1, &frame);
  CommandButton& leftButton = form.Add<CommandButton>("cmdButton", 0, &frame);
  CommandButton& rightButton = form.Add<CommandButton>("cmdButton", 1, &frame);
  TextBox& box = form.Add<TextBox>("txtBox", 0);
  Resizer& resizer = form.Add<Resizer>("rszResizer");
};

TEST_F(AnchoredResizerTest, EdgesMoveByTheirShareOfTheGrowthFromWhereTheCodeLastPutThem) {
  resizer.BeforeResize.Connect([&](Control& control, Resizer::Settings& settings) {
    if (&control == &box) settings.resizeFont = false;
  });
  ASSERT_TRUE(resizer.Resize(16000, 10000));  // 4000 wider, 2000 higher
  EXPECT_EQ(Layout(), (std::vector<int>{120,  600,  15760, 9280, 120,  240, 10000, 8000, 10240, 240,
                                        5400, 8000, 120,   8360, 1500, 375, 10240, 8360, 1500,  375,
                                        120,  120,  1000,  300,  0,    0,   0,     0}));
  EXPECT_DOUBLE_EQ(leftButton.FontScale(), 1.25);  // the smaller ratio, unless switched off
  EXPECT_DOUBLE_EQ(box.FontScale(), 1.0);
  rightButton.SetLeft(rightButton.Left() + 300);  // the screen's code moves it
  resizer.Resize(20000, 10000);
  EXPECT_EQ(rightButton.Left(), 10240 + 300 + 3000);
}

TEST_F(AnchoredResizerTest, AnySequenceOfSizesComesBackExactlyToTheFirstLayout) {
  const std::uint32_t seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> width(1, 40000);
  std::uniform_int_distribution<int> height(1, 22000);
  const std::vector<int> start = Layout();
  for (int round = 0; round < 50; ++round) {
    for (int step = 0; step <= round % 7; ++step) resizer.Resize(width(random), height(random));
    resizer.Resize(12000, 8000);
    ASSERT_EQ(Layout(), start) << "round " << round;
  }
}

TEST_F(AnchoredResizerTest, NothingIsLaidOutBelowTheLeastSizeOfWhatIsShown) {
  // The left grid decides: 7000 + 0.75 dW >= 2000 wide, 6000 + dH >= 1500 high.
  const TwipSize least{12000 - 6666, 8000 - 4500};
  EXPECT_EQ(resizer.MinimumClientSize(), least);
  resizer.Resize(1000, 1000);
  EXPECT_EQ(form.ClientWidth(), least.width);
  EXPECT_EQ(form.ClientHeight(), least.height);
  EXPECT_LE(left.Left() + left.Width(), right.Left());

  auto& wide = form.Add<CommandButton>("cmdWide");  // pinned at the top right, hidden
  wide.Move(11000, 120, 900, 375);
  wide.SetVisible(false);
  resizer.SetAnchors(wide, Anchors::Pinned());
  EXPECT_EQ(resizer.MinimumClientSize(), least);
  wide.SetVisible(true);
  EXPECT_EQ(resizer.MinimumClientSize().width, 11900);
  EXPECT_THROW(resizer.SetAnchors(wide, {0.8, 0, 0.2, 1}), PlatformError);  // crossed
}

}  // namespace
}  // namespace fm
