#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "controls/CommandButton.h"
#include "controls/ControlArray.h"
#include "controls/DataGrid.h"
#include "controls/Form.h"
#include "controls/Frame.h"
#include "controls/Label.h"
#include "controls/OptionButton.h"
#include "controls/TextBox.h"
#include "platform/PlatformError.h"
#include "platform/Services.h"
#include "platform/testing/ScriptedUiServices.h"

namespace fm {
namespace {

// ---------------------------------------------------------------- option buttons

class OptionGroupTest : public ::testing::Test {
 protected:
  OptionGroupTest() : frame(form.Add<Frame>("fraSelections")), optButton("optButton") {
    for (int i = 0; i < 3; ++i) {
      optButton.Create(form, i, &frame);
      optButton(i).Click.Connect([this, i] {
        clicks.push_back(i);
        // The handler sees the group already settled: exactly this option set.
        int set = 0;
        for (const auto& [index, button] : optButton) set += button->Value() ? 1 : 0;
        setCountsSeen.push_back(set);
      });
    }
  }

  Form form{"TARVO_FormsMaint"};
  Frame& frame;
  ControlArray<OptionButton> optButton;
  std::vector<int> clicks;
  std::vector<int> setCountsSeen;
};

TEST_F(OptionGroupTest, ChoosingAnOptionClearsTheOthersOfItsContainerAndClicksOnce) {
  optButton(0).SetValue(true);
  EXPECT_TRUE(optButton(2).Choose());
  EXPECT_FALSE(optButton(0).Value());
  EXPECT_FALSE(optButton(1).Value());
  EXPECT_TRUE(optButton(2).Value());
  // The option already set raises no click, chosen or set again; clearing by code neither.
  EXPECT_FALSE(optButton(2).Choose());
  optButton(2).SetValue(true);
  optButton(2).SetValue(false);
  EXPECT_FALSE(optButton(2).Value());
  EXPECT_EQ(clicks, (std::vector<int>{0, 2}));
  EXPECT_EQ(setCountsSeen, (std::vector<int>{1, 1}));
}

TEST_F(OptionGroupTest, AnotherContainerIsAnotherGroupAndADisabledFrameRefusesTheUser) {
  auto& other = form.Add<OptionButton>("optOther");  // directly on the form
  other.SetValue(true);
  optButton(0).SetValue(true);
  EXPECT_TRUE(other.Value());
  EXPECT_TRUE(optButton(0).Value());
  frame.SetEnabled(false);
  EXPECT_FALSE(optButton(1).Choose());
  EXPECT_FALSE(optButton(1).Value());
  EXPECT_EQ(clicks, (std::vector<int>{0}));
}

// ---------------------------------------------------------------- command buttons

TEST(CommandButtonTest, ADisabledButtonIgnoresTheUserAndEnterAndEscapePressDefaultAndCancel) {
  Form form("frmTest");
  auto& button = form.Add<CommandButton>("cmdButton", 2);
  int clicks = 0;
  button.Click.Connect([&] { ++clicks; });
  button.SetEnabled(false);
  EXPECT_FALSE(button.PerformClick());
  button.Click.Emit();  // code still can raise Click
  EXPECT_EQ(clicks, 1);
  button.SetEnabled(true);
  EXPECT_TRUE(button.PerformClick());
  EXPECT_EQ(clicks, 2);

  auto& ok = form.Add<CommandButton>("cmdOk");
  auto& cancel = form.Add<CommandButton>("cmdCancel");
  auto& other = form.Add<CommandButton>("cmdOther");
  std::vector<std::string> clicked;
  ok.Click.Connect([&] { clicked.push_back("ok"); });
  cancel.Click.Connect([&] { clicked.push_back("cancel"); });
  other.Click.Connect([&] { clicked.push_back("other"); });
  EXPECT_FALSE(form.PressDefaultButton());
  ok.SetDefault(true);
  cancel.SetCancel(true);
  EXPECT_TRUE(form.PressDefaultButton());
  EXPECT_TRUE(form.PressCancelButton());
  // One default per form: making another the default takes it from the first.
  other.SetDefault(true);
  EXPECT_FALSE(ok.IsDefault());
  form.PressDefaultButton();
  other.SetEnabled(false);
  EXPECT_FALSE(form.PressDefaultButton());
  EXPECT_EQ(clicked, (std::vector<std::string>{"ok", "cancel", "other"}));
}

// ---------------------------------------------------------------- registry

TEST(FormRegistryTest, ListsControlsInCreationOrderWithArrayNamesAndParents) {
  Form form("frmUnAssignForms");
  ControlArray<Frame> fraForm("fraForm");
  ControlArray<TextBox> txtBox("txtBox");
  fraForm.Create(form, 0);
  txtBox.Create(form, 0, &fraForm(0));
  fraForm.Create(form, 1);
  txtBox.Create(form, 3, &fraForm(1));
  auto& ok = form.Add<CommandButton>("cmdOk");

  std::vector<std::string> names;
  for (const Control* c : form.Controls()) names.push_back(c->Name());
  EXPECT_EQ(names, (std::vector<std::string>{"fraForm(0)", "txtBox(0)", "fraForm(1)", "txtBox(3)",
                                             "cmdOk"}));
  EXPECT_EQ(txtBox(3).Parent(), &fraForm(1));
  EXPECT_EQ(ok.Parent(), nullptr);
  EXPECT_EQ(fraForm(1).Children(), (std::vector<Control*>{&txtBox(3)}));
  EXPECT_EQ(form.FindControl("TXTBOX(3)"), &txtBox(3));
  EXPECT_EQ(form.FindControl("txtBox(1)"), nullptr);
  EXPECT_EQ(txtBox(3).Kind(), ControlKind::TextBox);
  EXPECT_EQ(txtBox.UBound(), 3);
  EXPECT_THROW(txtBox(1), PlatformError);
}

TEST(FormRegistryTest, RefusesDuplicateNamesAndNonFrameParents) {
  Form form("frmTest");
  auto& box = form.Add<TextBox>("txtBox", 0);
  EXPECT_THROW(form.Add<TextBox>("TXTBOX", 0), PlatformError);
  EXPECT_THROW(form.Add<Label>("txtBox"), PlatformError);  // lone control vs array
  EXPECT_THROW(form.Add<Label>("lblInside", -1, &box), PlatformError);
  Form other("frmOther");
  auto& foreignFrame = other.Add<Frame>("fraForeign");
  EXPECT_THROW(form.Add<Label>("lblForeign", -1, &foreignFrame), PlatformError);
  EXPECT_EQ(form.Controls().size(), 1U);
}

TEST(FormRegistryTest, AHiddenFrameHidesItsChildrenAndNegativeSizesAreRefused) {
  Form form("frmTest");
  auto& frame = form.Add<Frame>("fraAddForms");
  auto& grid = form.Add<DataGrid>("grdNewForms", -1, &frame);
  frame.SetVisible(false);
  EXPECT_TRUE(grid.Visible());  // its own property is untouched
  EXPECT_FALSE(grid.IsShown());
  EXPECT_FALSE(grid.IsUsable());
  // Negative sizes are refused and leave the control as it was.
  auto& label = form.Add<Label>("lblLabel", 3);
  label.Move(135, 405, 615, 195);
  EXPECT_THROW(label.SetWidth(-1), PlatformError);
  EXPECT_THROW(label.Move(0, 0, 10, -5), PlatformError);
  EXPECT_EQ(label.Left(), 135);
  EXPECT_EQ(label.Width(), 615);
  EXPECT_EQ(label.Height(), 195);
}

TEST(FormRegistryTest, EveryVisibleChangeIsReportedOnceToTheRenderer) {
  Form form("frmTest");
  auto& box = form.Add<TextBox>("txtBox", 0);
  std::vector<std::string> reported;
  form.Changed.Connect([&](UiElement& element) { reported.push_back(element.Name()); });
  const auto formVersion = form.Version();
  const auto boxVersion = box.Version();
  box.SetText("A");
  box.SetVisible(false);
  box.SetVisible(false);  // no change, no report
  box.SetErrorMark(true);
  form.SetCaption("Forms");
  EXPECT_EQ(reported, (std::vector<std::string>{"txtBox(0)", "txtBox(0)", "txtBox(0)", "frmTest"}));
  EXPECT_EQ(box.Version(), boxVersion + 3);
  EXPECT_EQ(form.Version(), formVersion + 4);
}

// ---------------------------------------------------------------- focus

TEST(FormFocusTest, FocusMovesRaiseLostFocusThenGotFocusAndLostFocusCanKeepIt) {
  Form form("frmTest");
  auto& a = form.Add<TextBox>("txtA");
  auto& b = form.Add<TextBox>("txtB");
  std::vector<std::string> events;
  a.GotFocus.Connect([&] { events.push_back("a got"); });
  a.LostFocus.Connect([&] { events.push_back("a lost"); });
  b.GotFocus.Connect([&] { events.push_back("b got"); });
  a.SetFocus();
  b.SetFocus();
  b.SetFocus();
  EXPECT_EQ(events, (std::vector<std::string>{"a got", "a lost", "b got"}));
  EXPECT_TRUE(b.HasFocus());

  a.SetFocus();
  a.LostFocus.Connect([&] { a.SetFocus(); });
  events.clear();
  b.SetFocus();
  EXPECT_TRUE(a.HasFocus());
  EXPECT_EQ(std::count(events.begin(), events.end(), "b got"), 0);
}

TEST(FormFocusTest, TabMovesInTabOrderSkippingWhatCannotTakeTheFocus) {
  Form form("frmTest");
  auto& first = form.Add<TextBox>("txtFirst");
  auto& label = form.Add<Label>("lblBetween");
  auto& hidden = form.Add<TextBox>("txtHidden");
  auto& last = form.Add<CommandButton>("cmdLast");
  hidden.SetVisible(false);
  last.SetTabIndex(0);
  first.SetTabIndex(5);
  ASSERT_TRUE(form.FocusNext());
  EXPECT_TRUE(last.HasFocus());
  ASSERT_TRUE(form.FocusNext());
  EXPECT_TRUE(first.HasFocus());
  ASSERT_TRUE(form.FocusNext());
  EXPECT_TRUE(last.HasFocus());  // wrapped around, the hidden box skipped
  ASSERT_TRUE(form.FocusNext(true));
  EXPECT_TRUE(first.HasFocus());
  EXPECT_THROW(label.SetFocus(), PlatformError);
  EXPECT_THROW(hidden.SetFocus(), PlatformError);
  first.SetEnabled(false);
  EXPECT_THROW(first.SetFocus(), PlatformError);
}

// ---------------------------------------------------------------- life cycle

class FormLifeCycleTest : public ::testing::Test {
 protected:
  FormLifeCycleTest() : ui(std::make_shared<testing::ScriptedUiServices>()) {
    Services::SetUiServices(ui);
    dialog.Load.Connect([this] { events.push_back("load"); });
    dialog.Activate.Connect([this] { events.push_back("activate"); });
    dialog.QueryUnload.Connect([this](int& cancel, Form::UnloadMode mode) {
      events.push_back(mode == Form::UnloadMode::FormCode ? "query code" : "query menu");
      cancel = refuseQuery ? 1 : 0;
    });
    dialog.Unload.Connect([this](int&) { events.push_back("unload"); });
    ok.Click.Connect([this] { dialog.Hide(); });
  }
  ~FormLifeCycleTest() override { Services::Reset(); }

  std::shared_ptr<testing::ScriptedUiServices> ui;
  Form dialog{"frmAddOfficer", "Select Troopers to be Added"};
  CommandButton& ok = dialog.Add<CommandButton>("cmdOK");
  TextBox& box = dialog.Add<TextBox>("txtBox", 0);
  std::vector<std::string> events;
  bool refuseQuery = false;
};

TEST_F(FormLifeCycleTest, ModalShowRunsTheScriptWithTheFormShownAndReturnsWhenItEnds) {
  bool sawModal = false;
  ui->QueueModal([&](UiElement& element) {
    auto& form = dynamic_cast<Form&>(element);
    sawModal = form.IsModal() && form.Visible() && form.IsLoaded();
    box.TypeText("A1");
    ok.PerformClick();
  });
  dialog.ShowModal();
  EXPECT_TRUE(sawModal);
  EXPECT_EQ(ui->modalShows, 1);
  EXPECT_FALSE(dialog.Visible());
  EXPECT_FALSE(dialog.IsModal());
  EXPECT_TRUE(dialog.IsLoaded());
  EXPECT_EQ(box.Text(), "A1");  // the caller reads the result after the dialog is hidden
  EXPECT_EQ(events, (std::vector<std::string>{"load", "activate"}));
}

TEST_F(FormLifeCycleTest, LoadOncePerLoadActivateOncePerShowAndQueryUnloadMayRefuse) {
  dialog.LoadForm();
  dialog.LoadForm();
  dialog.Show();
  dialog.Show();
  dialog.Hide();
  dialog.Show();
  refuseQuery = true;
  EXPECT_FALSE(dialog.CloseByUser());
  EXPECT_TRUE(dialog.IsLoaded());
  EXPECT_TRUE(dialog.Visible());
  refuseQuery = false;
  EXPECT_TRUE(dialog.UnloadForm());
  EXPECT_FALSE(dialog.IsLoaded());
  EXPECT_FALSE(dialog.Visible());
  // Loading again raises Load again.
  dialog.LoadForm();
  EXPECT_EQ(events, (std::vector<std::string>{"load", "activate", "activate", "query menu",
                                              "query code", "unload", "load"}));
}

TEST_F(FormLifeCycleTest, ModalShowEndsEvenWhenTheScriptThrowsIsNotNestedAndNeedsTheFormLoaded) {
  ui->QueueModal([](UiElement&) { throw PlatformError(PlatformError::kGeneric, "boom"); });
  EXPECT_THROW(dialog.ShowModal(), PlatformError);
  EXPECT_FALSE(dialog.IsModal());
  bool refused = false;
  ui->QueueModal([&](UiElement&) {
    try {
      dialog.ShowModal();
    } catch (const PlatformError&) {
      refused = true;
    }
    dialog.UnloadForm();
  });
  dialog.ShowModal();  // a second modal show works, but not one inside it
  EXPECT_TRUE(refused);
  EXPECT_FALSE(dialog.IsLoaded());

  // A Load handler that unloads prevents the show.
  const int shows = ui->modalShows;
  dialog.Load.Connect([this] { dialog.UnloadForm(); });
  dialog.ShowModal();
  EXPECT_EQ(ui->modalShows, shows);
  EXPECT_FALSE(dialog.Visible());
}

}  // namespace
}  // namespace fm
