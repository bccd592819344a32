#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <memory>
#include <string>

#include "QtTestSupport.h"
#include "controls/CodesCombo.h"
#include "controls/ComboBox.h"
#include "controls/CommandButton.h"
#include "controls/DataControl.h"
#include "controls/DataGrid.h"
#include "controls/Form.h"
#include "controls/Frame.h"
#include "controls/Label.h"
#include "controls/OptionButton.h"
#include "controls/Resizer.h"
#include "controls/TextBox.h"
#include "platform/PlatformError.h"
#include "platform/Services.h"
#include "platform/UiServices.h"
#include "qt/render/FormView.h"
#include "qt/render/GridView.h"
#include "qt/shell/QtUiServices.h"

namespace fm::qt {
namespace {

using testing::ProcessEvents;
using testing::QtServices;
using testing::RedPixels;

// A small form with one control of every kind, wired as the screen wires its own: the
// Troop/District box takes letters and digits in capitals and beeps at anything else.
class TestForm final : public Form {
 public:
  TestForm() : Form("frmTest", "Test Form") {
    SetClientSize(9000, 6000);
    fraEntry.SetCaption("Entry");
    fraEntry.Move(120, 120, 6000, 1500);
    lblTroop.SetCaption("Troop / District:");
    lblTroop.Move(120, 300, 1215, 390);
    txtTroop.Move(1500, 300, 600, 288);
    txtTroop.SetMaxLength(3);
    txtOther.Move(2400, 300, 1200, 288);
    txtNotes.Move(120, 1800, 4000, 900);
    txtNotes.SetMultiLine(true);
    optFirst.SetCaption("First");
    optFirst.Move(6300, 120, 1500, 240);
    optFirst.SetValue(true);
    optSecond.SetCaption("Second");
    optSecond.Move(6300, 420, 1500, 240);
    cmdOk.SetCaption("OK");
    cmdOk.Move(6300, 900, 1200, 375);
    cmdOk.SetDefault(true);
    cmdCancel.SetCaption("Cancel");
    cmdCancel.Move(6300, 1350, 1200, 375);
    cmdCancel.SetCancel(true);
    cboType.SetCodeType("FORMTYPE");
    cboType.Move(4500, 1800, 2500, 315);
    cboFree.Move(4500, 2300, 2500, 315);
    cboFree.AddItem("Alpha");
    cboFree.AddItem("Beta");
    grdRows.Move(120, 3000, 8000, 2500);
    grdRows.AddColumn("Number", "NBR", "NBR", true, 1500);
    grdRows.SetDataSource(&ado);
    txtTroop.SetTabIndex(0);
    txtOther.SetTabIndex(1);

    txtTroop.KeyPress.Connect([](int& key) {
      const bool letter = (key >= 'a' && key <= 'z') || (key >= 'A' && key <= 'Z');
      const bool digit = key >= '0' && key <= '9';
      if (!letter && !digit && key != 8) {
        key = 0;
        Services::Ui().Beep();
      } else if (key >= 'a' && key <= 'z') {
        key -= 32;
      }
    });
    txtTroop.Change.Connect([this] { ++troopChanges; });
    txtTroop.LostFocus.Connect([this] { ++troopLostFocus; });
    cmdOk.Click.Connect([this] {
      ++okClicks;
      if (failOnOk) throw PlatformError(PlatformError::kGeneric, "The OK handler failed");
    });
    cmdCancel.Click.Connect([this] { ++cancelClicks; });
  }

  Frame& fraEntry = Add<Frame>("fraEntry");
  Label& lblTroop = Add<Label>("lblTroop", -1, &fraEntry);
  TextBox& txtTroop = Add<TextBox>("txtBox", 0, &fraEntry);
  TextBox& txtOther = Add<TextBox>("txtBox", 1, &fraEntry);
  TextBox& txtNotes = Add<TextBox>("txtBox", 2);
  OptionButton& optFirst = Add<OptionButton>("optButton", 0);
  OptionButton& optSecond = Add<OptionButton>("optButton", 1);
  CommandButton& cmdOk = Add<CommandButton>("cmdOk");
  CommandButton& cmdCancel = Add<CommandButton>("cmdCancel");
  CodesCombo& cboType = Add<CodesCombo>("qmCboFormTypes");
  ComboBox& cboFree = Add<ComboBox>("cboFree");
  DataControl& ado = Add<DataControl>("adoRows");
  DataGrid& grdRows = Add<DataGrid>("grdRows");
  Resizer& rsz = Add<Resizer>("rszResizer");
  int troopChanges = 0;
  int troopLostFocus = 0;
  int okClicks = 0;
  int cancelClicks = 0;
  bool failOnOk = false;
};

class FormViewTest : public ::testing::Test {
 protected:
  FormViewTest() {
    view = std::make_unique<FormView>(form);
    // At its design size: left alone, a window may be made smaller than the screen.
    view->resize(view->sizeHint());
    view->show();
    view->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(view.get()));
    ProcessEvents();
  }
  ~FormViewTest() override { view.reset(); }

  template <class W>
  W& Widget(const Control& control) {
    auto* widget = dynamic_cast<W*>(view->WidgetFor(control));
    if (widget == nullptr) throw std::runtime_error("no widget of that type for " + control.Name());
    return *widget;
  }
  QLineEdit& TroopBox() { return Widget<QLineEdit>(form.txtTroop); }

  QtServices services;
  TestForm form;
  std::unique_ptr<FormView> view;
};

TEST_F(FormViewTest, BuildsOneWidgetPerControlInItsFrameAtTwipsOverFifteenAndLaysThemOut) {
  QLineEdit& box = TroopBox();
  auto& frame = Widget<QGroupBox>(form.fraEntry);
  EXPECT_EQ(box.parentWidget(), &frame);
  EXPECT_EQ(box.geometry(), QRect(100, 20, 40, 19));
  EXPECT_EQ(frame.geometry(), QRect(8, 8, 400, 100));
  EXPECT_EQ(frame.title(), "Entry");
  EXPECT_EQ(Widget<QLabel>(form.lblTroop).text(), "Troop / District:");
  EXPECT_EQ(Widget<QRadioButton>(form.optFirst).text(), "First");
  EXPECT_TRUE(Widget<QRadioButton>(form.optFirst).isChecked());
  EXPECT_EQ(Widget<QPushButton>(form.cmdOk).text(), "OK");
  EXPECT_NE(dynamic_cast<QPlainTextEdit*>(view->WidgetFor(form.txtNotes)), nullptr);
  EXPECT_NE(dynamic_cast<GridView*>(view->WidgetFor(form.grdRows)), nullptr);
  EXPECT_EQ(view->WidgetFor(form.ado), nullptr);
  EXPECT_EQ(view->WidgetFor(form.rsz), nullptr);
  EXPECT_EQ(view->WidgetFor("TXTBOX(1)"), view->WidgetFor(form.txtOther));
  EXPECT_EQ(view->sizeHint(), QSize(600, 400));

  // Resizing the window lets the form's resizer lay the controls out.
  view->resize(1200, 400);  // twice as wide
  ProcessEvents();
  EXPECT_EQ(form.ClientWidth(), 18000);
  EXPECT_EQ(form.txtOther.Left(), 4800);
  EXPECT_EQ(Widget<QLineEdit>(form.txtOther).x(), 320);
}

TEST_F(FormViewTest, ChangesMadeByCodeReachTheWidgetsOnTheNextTurnOfTheEventLoop) {
  form.txtOther.SetText("set by code");
  form.lblTroop.SetCaption("Registry #:");
  form.txtOther.SetLeft(3000);
  form.cmdCancel.SetEnabled(false);
  form.fraEntry.SetBorderStyle(Frame::BorderStyle::None);
  form.optSecond.SetValue(true);
  EXPECT_EQ(Widget<QLineEdit>(form.txtOther).text(), "");  // not yet: gathered first

  ProcessEvents();
  EXPECT_EQ(Widget<QLineEdit>(form.txtOther).text(), "set by code");
  EXPECT_EQ(Widget<QLabel>(form.lblTroop).text(), "Registry #:");
  EXPECT_EQ(Widget<QLineEdit>(form.txtOther).x(), 200);
  EXPECT_FALSE(Widget<QPushButton>(form.cmdCancel).isEnabled());
  EXPECT_EQ(Widget<QGroupBox>(form.fraEntry).title(), "");  // no border, no caption
  EXPECT_TRUE(Widget<QRadioButton>(form.optSecond).isChecked());
  EXPECT_FALSE(Widget<QRadioButton>(form.optFirst).isChecked());

  form.fraEntry.SetVisible(false);
  ProcessEvents();
  EXPECT_FALSE(TroopBox().isVisible());
}

TEST_F(FormViewTest, KeysShowInCapitalsUpToTheMaximumLengthAndARefusedKeyBeeps) {
  QLineEdit& box = TroopBox();
  box.setFocus();
  QTest::keyClicks(&box, "a1");
  EXPECT_EQ(form.txtTroop.Text(), "A1");
  EXPECT_EQ(box.text(), "A1");
  EXPECT_EQ(form.troopChanges, 2);

  const int beeps = services.ui->BeepCount();
  QTest::keyClick(&box, '-');
  EXPECT_EQ(box.text(), "A1");
  EXPECT_EQ(form.txtTroop.Text(), "A1");
  EXPECT_EQ(services.ui->BeepCount(), beeps + 1);
  EXPECT_EQ(form.troopChanges, 2);

  // The caret the user moved is where the next key goes.
  QTest::keyClick(&box, Qt::Key_Home);
  QTest::keyClick(&box, 'c');
  EXPECT_EQ(box.text(), "CA1");
  EXPECT_EQ(box.cursorPosition(), 1);

  // The maximum length refuses keys but never cuts a text set by code.
  QTest::keyClick(&box, 'd');
  EXPECT_EQ(box.text(), "CA1");
  form.txtTroop.SetText("LONGER THAN THREE");
  ProcessEvents();
  EXPECT_EQ(box.text(), "LONGER THAN THREE");
}

TEST_F(FormViewTest, PasteDeleteBackspaceAndLineBreaksGoToTheModel) {
  QLineEdit& box = TroopBox();
  box.setFocus();
  QApplication::clipboard()->setText("xy9z");
  QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(form.txtTroop.Text(), "xy9");  // a paste passes no key filter; cut to the limit
  EXPECT_EQ(box.text(), "xy9");
  EXPECT_EQ(form.troopChanges, 1);

  QTest::keyClick(&box, Qt::Key_Home);
  QTest::keyClick(&box, Qt::Key_Delete);
  EXPECT_EQ(form.txtTroop.Text(), "y9");
  QTest::keyClick(&box, Qt::Key_End);
  QTest::keyClick(&box, Qt::Key_Backspace);
  EXPECT_EQ(form.txtTroop.Text(), "y");
  EXPECT_EQ(box.text(), "y");

  // Undo would change the text behind the model's back: it does nothing.
  QTest::keyClick(&box, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(box.text(), "y");

  // A multi-line box keeps line breaks as the model does.
  auto& notes = Widget<QPlainTextEdit>(form.txtNotes);
  notes.setFocus();
  QTest::keyClicks(&notes, "ab");
  QTest::keyClick(&notes, Qt::Key_Return, Qt::ControlModifier);
  QTest::keyClicks(&notes, "c");
  EXPECT_EQ(form.txtNotes.Text(), "ab\r\nc");
  EXPECT_EQ(notes.toPlainText(), "ab\nc");
  EXPECT_EQ(form.okClicks, 0);
}

TEST_F(FormViewTest, MovingTheFocusRaisesLostFocusInTheModel) {
  TroopBox().setFocus();
  ProcessEvents();
  EXPECT_EQ(form.ActiveControl(), &form.txtTroop);

  QTest::mouseClick(&Widget<QLineEdit>(form.txtOther), Qt::LeftButton);
  EXPECT_EQ(form.ActiveControl(), &form.txtOther);
  EXPECT_EQ(form.troopLostFocus, 1);

  // The screen's code moves the focus: the widget follows.
  form.txtTroop.SetFocus();
  ProcessEvents();
  EXPECT_TRUE(TroopBox().hasFocus());
  EXPECT_EQ(form.troopLostFocus, 1);
}

TEST_F(FormViewTest, ClicksEnterAndEscapeGoToTheButtonsAndAFailingHandlerIsReported) {
  QLineEdit& box = TroopBox();
  box.setFocus();
  QTest::keyClick(&box, Qt::Key_Return);  // the default button
  EXPECT_EQ(form.okClicks, 1);
  QTest::keyClick(&box, Qt::Key_Escape);  // the cancel button
  EXPECT_EQ(form.cancelClicks, 1);
  EXPECT_EQ(box.text(), "");

  auto& second = Widget<QRadioButton>(form.optSecond);
  QTest::mouseClick(&second, Qt::LeftButton);
  EXPECT_TRUE(form.optSecond.Value());
  EXPECT_FALSE(form.optFirst.Value());
  EXPECT_FALSE(Widget<QRadioButton>(form.optFirst).isChecked());
  QTest::mouseClick(&second, Qt::LeftButton);  // a set option stays set
  EXPECT_TRUE(second.isChecked());

  QTest::mouseClick(&Widget<QPushButton>(form.cmdOk), Qt::LeftButton);
  EXPECT_EQ(form.okClicks, 2);

  // A failing handler is reported, and the view goes on.
  form.failOnOk = true;
  QTest::mouseClick(&Widget<QPushButton>(form.cmdOk), Qt::LeftButton);
  ASSERT_EQ(services.ReportedErrors().size(), 1U);
  EXPECT_EQ(services.ReportedErrors().front(), "FormView.cmdOk.Click: The OK handler failed");
  form.txtOther.SetText("still drawn");
  ProcessEvents();
  EXPECT_EQ(Widget<QLineEdit>(form.txtOther).text(), "still drawn");
}

TEST_F(FormViewTest, ComboChoicesGoToTheModel) {
  auto& codes = Widget<QComboBox>(form.cboType);
  ASSERT_EQ(codes.count(), form.cboType.EntryCount());
  ASSERT_GT(codes.count(), 2);
  EXPECT_EQ(codes.currentIndex(), -1);
  codes.setFocus();
  QTest::keyClick(&codes, Qt::Key_Down);
  QTest::keyClick(&codes, Qt::Key_Down);
  EXPECT_EQ(form.cboType.SelectedIndex(), 1);
  EXPECT_EQ(codes.currentText().toStdString(), form.cboType.SelectedDescription());

  form.cboType.SetSelectionFromText("");
  ProcessEvents();
  EXPECT_EQ(codes.currentIndex(), -1);

  auto& free = Widget<QComboBox>(form.cboFree);
  EXPECT_EQ(free.count(), 2);
  free.setFocus();
  QTest::keyClicks(free.lineEdit(), "Gam");
  EXPECT_EQ(form.cboFree.Text(), "Gam");
  QTest::keyClick(&free, Qt::Key_Down);
  EXPECT_EQ(form.cboFree.ListIndex(), 0);
  EXPECT_EQ(form.cboFree.Text(), "Alpha");
  EXPECT_EQ(free.lineEdit()->text(), "Alpha");
}

TEST_F(FormViewTest, AMarkedControlShowsARedFrameAndItsErrorTextAsTooltip) {
  view->SetErrorTextProvider([](const Control& c) { return "Please correct " + c.Name(); });
  EXPECT_EQ(view->ErrorMarkFor(form.txtOther), nullptr);
  form.txtOther.SetErrorMark(true);
  ProcessEvents();

  QWidget* mark = view->ErrorMarkFor(form.txtOther);
  ASSERT_NE(mark, nullptr);
  QLineEdit& box = Widget<QLineEdit>(form.txtOther);
  EXPECT_TRUE(mark->isVisible());
  EXPECT_TRUE(mark->geometry().contains(box.geometry()));
  EXPECT_EQ(box.toolTip(), "Please correct txtBox(1)");

  const QImage image = view->grab().toImage();
  const QRect onView(box.mapTo(view.get(), QPoint(-2, -2)), box.size() + QSize(4, 4));
  EXPECT_GT(RedPixels(image, onView), 2 * (onView.width() + onView.height()));
  const QRect unmarked(TroopBox().mapTo(view.get(), QPoint(-2, -2)),
                       TroopBox().size() + QSize(4, 4));
  EXPECT_EQ(RedPixels(image, unmarked), 0);

  form.txtOther.SetErrorMark(false);
  ProcessEvents();
  EXPECT_FALSE(mark->isVisible());
  EXPECT_EQ(box.toolTip(), "");
}

}  // namespace
}  // namespace fm::qt
