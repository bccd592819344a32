// The Qt implementations of the platform's services: message boxes, pointer, modal forms,
// the event loop and the host frame.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "QtTestSupport.h"
#include "controls/CommandButton.h"
#include "controls/Form.h"
#include "controls/TextBox.h"
#include "platform/PlatformError.h"
#include "platform/Services.h"
#include "platform/UiElement.h"
#include "qt/render/FormView.h"
#include "qt/render/ModalFormDialog.h"
#include "qt/shell/QtEventLoop.h"
#include "qt/shell/QtHostFrame.h"
#include "qt/shell/QtUiServices.h"

namespace fm::qt {
namespace {

using namespace std::chrono_literals;
using testing::ProcessEvents;
using testing::QtServices;
using testing::WaitUntil;

// Answers the next message box with `button` once it runs, after showing it to `seen`.
void AnswerWith(QtUiServices& ui, QMessageBox::StandardButton button,
                std::function<void(QMessageBox&)> seen = {}) {
  ui.SetMessageBoxObserver([button, seen](QMessageBox& box) {
    if (seen) seen(box);
    QTimer::singleShot(0, &box, [&box, button] { box.button(button)->click(); });
  });
}

class QtUiServicesTest : public ::testing::Test {
 protected:
  QtServices services;
  QtUiServices& ui = *services.ui;
};

TEST_F(QtUiServicesTest, AMessageBoxShowsWhatWasAskedAndAnswersWithTheButtonClicked) {
  struct Case {
    MsgBoxButtons buttons;
    MsgBoxIcon icon;
    QMessageBox::StandardButtons shown;
    QMessageBox::Icon qtIcon;
    QMessageBox::StandardButton clicked;
    MsgBoxResult answer;
  };
  const Case cases[] = {
      {MsgBoxButtons::YesNoCancel, MsgBoxIcon::Question,
       QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Question,
       QMessageBox::No, MsgBoxResult::No},
      {MsgBoxButtons::OkCancel, MsgBoxIcon::None, QMessageBox::Ok | QMessageBox::Cancel,
       QMessageBox::NoIcon, QMessageBox::Cancel, MsgBoxResult::Cancel},
      {MsgBoxButtons::YesNo, MsgBoxIcon::Information, QMessageBox::Yes | QMessageBox::No,
       QMessageBox::Information, QMessageBox::Yes, MsgBoxResult::Yes},
      {MsgBoxButtons::Ok, MsgBoxIcon::Exclamation, QMessageBox::Ok, QMessageBox::Warning,
       QMessageBox::Ok, MsgBoxResult::Ok},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.answer));
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    AnswerWith(ui, c.clicked, [&](QMessageBox& box) {
      title = box.windowTitle();
      text = box.text();
      icon = box.icon();
      buttons = box.standardButtons();
    });
    // The screen's line breaks show as lines, without an empty last one.
    EXPECT_EQ(ui.MessageBox("Please Enter a valid Troop/District\r\nPlease enter a valid "
                            "Registry Number\r\n",
                            c.buttons, c.icon, "Forms Maintenance"),
              c.answer);
    EXPECT_EQ(title, "Forms Maintenance");
    EXPECT_EQ(text, "Please Enter a valid Troop/District\nPlease enter a valid Registry Number");
    EXPECT_EQ(icon, c.qtIcon);
    EXPECT_EQ(buttons, c.shown);
  }
}

TEST_F(QtUiServicesTest, TheHourglassIsTheOverrideCursorExceptOverAMessageBox) {
  ui.SetMousePointer(MousePointer::Hourglass);
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  ui.SetMousePointer(MousePointer::Hourglass);  // twice on is still one override

  const QCursor* duringBox = QApplication::overrideCursor();
  AnswerWith(ui, QMessageBox::Ok,
             [&](QMessageBox&) { duringBox = QApplication::overrideCursor(); });
  ui.MessageBox("x", MsgBoxButtons::Ok, MsgBoxIcon::None, "t");
  EXPECT_EQ(duringBox, nullptr);
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(ui.GetMousePointer(), MousePointer::Hourglass);

  ui.SetMousePointer(MousePointer::Default);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(ui.GetMousePointer(), MousePointer::Default);
}

// A dialog of the screen model: Save hides it, and its QueryUnload may keep it open.
class TestDialog final : public Form {
 public:
  TestDialog()
      : Form("frmDialog", "Assign Forms"),
        txtComment(Add<TextBox>("txtComment")),
        cmdSave(Add<CommandButton>("cmdSave")) {
    SetClientSize(4500, 1500);
    txtComment.Move(120, 120, 3000, 288);
    cmdSave.SetCaption("Save");
    cmdSave.Move(3240, 120, 1100, 375);
    cmdSave.Click.Connect([this] { Hide(); });
    QueryUnload.Connect([this](int& cancel, UnloadMode) {
      ++queryUnloads;
      if (keepOpen) cancel = 1;
    });
  }
  TextBox& txtComment;
  CommandButton& cmdSave;
  bool keepOpen = false;
  int queryUnloads = 0;
};

TEST_F(QtUiServicesTest, AFormShownModallyRunsUntilItsCodeHidesItOrItAgreesToClose) {
  TestDialog dialog;
  QString title;
  ui.SetModalObserver([&](ModalFormDialog& shown) {
    title = shown.windowTitle();
    QTimer::singleShot(0, &shown, [&shown, &dialog] {
      QWidget* box = shown.View().WidgetFor(dialog.txtComment);
      box->setFocus();
      QTest::keyClicks(box, "two boxes");
      QTest::mouseClick(shown.View().WidgetFor(dialog.cmdSave), Qt::LeftButton);
    });
  });
  dialog.ShowModal();
  EXPECT_EQ(title, "Assign Forms");
  EXPECT_FALSE(dialog.Visible());
  EXPECT_TRUE(dialog.IsLoaded());
  EXPECT_EQ(dialog.txtComment.Text(), "two boxes");  // read after the modal show, as a caller does

  // Closing the window asks the form, which may refuse.
  dialog.keepOpen = true;
  bool stillOpenAfterRefusal = false;
  ui.SetModalObserver([&](ModalFormDialog& shown) {
    QTimer::singleShot(0, &shown, [&] {
      shown.close();
      stillOpenAfterRefusal = shown.isVisible();
      dialog.keepOpen = false;
      shown.close();
    });
  });
  dialog.ShowModal();
  EXPECT_TRUE(stillOpenAfterRefusal);
  EXPECT_EQ(dialog.queryUnloads, 2);
  EXPECT_FALSE(dialog.IsLoaded());
}

TEST_F(QtUiServicesTest, OnlyAFormCanBeShownModally) {
  class NotAForm final : public UiElement {
   public:
    std::string Name() const override { return "lblLabel(0)"; }
  } element;
  try {
    ui.ShowModal(element);
    FAIL() << "expected PlatformError";
  } catch (const PlatformError& e) {
    EXPECT_STREQ(e.what(), "lblLabel(0) cannot be shown modally: it is not a form");
  }
}

// ---------------------------------------------------------------- event loop

class QtEventLoopTest : public ::testing::Test {
 protected:
  QtServices services;
  QtEventLoop& loop = *services.loop;
};

TEST_F(QtEventLoopTest, TasksPostedFromAnyThreadRunOnTheUiThreadInOrderPastOneThatThrows) {
  std::vector<int> ran;
  std::atomic<bool> allOnUiThread{true};
  QThread* ui = QThread::currentThread();
  std::thread worker([&] {
    for (int i = 0; i < 50; ++i) {
      loop.Post([&, i] {
        if (QThread::currentThread() != ui) allOnUiThread = false;
        if (i == 25) throw PlatformError(PlatformError::kGeneric, "reply could not be read");
        ran.push_back(i);
      });
    }
  });
  worker.join();
  EXPECT_TRUE(ran.empty());
  loop.ProcessPendingEvents();
  ASSERT_EQ(ran.size(), 49U);
  for (int i = 0; i < 49; ++i) EXPECT_EQ(ran[static_cast<std::size_t>(i)], i < 25 ? i : i + 1);
  EXPECT_TRUE(allOnUiThread);
  ASSERT_EQ(services.ReportedErrors().size(), 1U);
  EXPECT_EQ(services.ReportedErrors().front(), "EventLoop.Task: reply could not be read");
}

TEST_F(QtEventLoopTest, TimersRunOnceWhenDueAndNotAtAllWhenCancelledFromAnyThread) {
  int fired = 0;
  int cancelledFired = 0;
  loop.StartTimer(20ms, [&] { ++fired; });
  const auto cancelled = loop.StartTimer(20ms, [&] { ++cancelledFired; });
  loop.CancelTimer(cancelled);
  loop.CancelTimer(cancelled);  // twice is harmless
  EXPECT_EQ(loop.PendingTimerCount(), 1U);
  EXPECT_TRUE(WaitUntil([&] { return fired == 1; }, 5s));
  QTest::qWait(60);
  EXPECT_EQ(fired, 1);
  EXPECT_EQ(cancelledFired, 0);
  EXPECT_EQ(loop.PendingTimerCount(), 0U);

  // A cancel from another thread that overtakes the timer's creation still cancels.
  std::thread worker([&] {
    const auto id = loop.StartTimer(0ms, [&] { ++cancelledFired; });
    loop.CancelTimer(id);
  });
  worker.join();
  QTest::qWait(50);
  loop.ProcessPendingEvents();
  EXPECT_EQ(cancelledFired, 0);
}

// ---------------------------------------------------------------- host frame

TEST(QtHostFrameTest, StatusToolbarItemsAndConnectionFollowTheDocumentsCalls) {
  testing::TestApplication();
  QLabel status;
  QLabel connection;
  QAction save(QStringLiteral("Save"));
  QtHostFrame frame(QStringLiteral("FORMSMAINT"), &status, &connection,
                    QStringLiteral("Embedded inventory (inventory.db)"));
  frame.AddToolbarItem(7, &save);

  frame.SetStatusText("Requesting Assigned Forms and Officers");
  EXPECT_EQ(status.text(), "Requesting Assigned Forms and Officers");

  frame.SetToolbarItem(7, false, "FORMSMAINT");
  EXPECT_FALSE(save.isEnabled());
  frame.SetToolbarItem(7, true, "");  // the empty tag: this frame
  EXPECT_TRUE(save.isEnabled());
  frame.SetToolbarItem(7, false, "OTHERWINDOW");  // another window's call
  EXPECT_TRUE(save.isEnabled());
  frame.SetToolbarItem(99, false, "");  // an item the shell does not have: ignored

  EXPECT_EQ(connection.text(), QString::fromUtf8("\u25CB Not connected"));
  frame.SetSecondStatus(true);
  EXPECT_EQ(connection.text(), QString::fromUtf8("\u25CF Embedded inventory (inventory.db)"));
  EXPECT_TRUE(frame.SecondStatus());
}

}  // namespace
}  // namespace fm::qt
