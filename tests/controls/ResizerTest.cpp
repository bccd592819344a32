#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controls/CommandButton.h"
#include "controls/DataGrid.h"
#include "controls/Form.h"
#include "controls/Frame.h"
#include "controls/Resizer.h"
#include "controls/TextBox.h"

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
  EXPECT_EQ(frame.Left(), 150);
  EXPECT_EQ(frame.Top(), 500);
  EXPECT_EQ(frame.Width(), 17700);
  EXPECT_EQ(frame.Height(), 3000);
  // Inside the frame, with the same ratios.
  EXPECT_EQ(grid.Left(), 180);
  EXPECT_EQ(grid.Top(), 120);
  EXPECT_EQ(grid.Width(), 7500);
  EXPECT_EQ(grid.Height(), 2000);
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
  EXPECT_EQ(button.Left(), 20000);  // still moved
  EXPECT_EQ(button.Top(), 240);
  EXPECT_EQ(button.Width(), 1000);  // but not resized
  EXPECT_EQ(button.Height(), 375);
}

TEST_F(ResizerTest, BackAndForthComesBackToTheSameLayout) {
  resizer.Resize(13337, 9001);
  resizer.Resize(12000, 8000);
  EXPECT_NEAR(grid.Width(), 5000, 1);
  EXPECT_NEAR(button.Left(), 10000, 1);
  EXPECT_NEAR(frame.Height(), 6000, 1);
}

TEST_F(ResizerTest, AMinimisedWindowChangesNothing) {
  int events = 0;
  resizer.BeforeResize.Connect([&](Control&, Resizer::Settings&) { ++events; });
  resizer.ResizeComplete.Connect([&] { ++events; });
  EXPECT_FALSE(resizer.Resize(0, 0));
  EXPECT_FALSE(resizer.Resize(5000, -1));
  EXPECT_EQ(events, 0);
  EXPECT_EQ(grid.Width(), 5000);
  EXPECT_EQ(form.ClientWidth(), 12000);
}

TEST_F(ResizerTest, TheUsersResizeGoesThroughTheFormsResizer) {
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

}  // namespace
}  // namespace fm
