#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "ShellDriver.h"
#include "platform/ErrorReporter.h"
#include "platform/Services.h"
#include "qt/render/GridView.h"
#include "qt/render/ModalFormDialog.h"
#include "qt/shell/DesktopSession.h"
#include "qt/shell/QtUiServices.h"

namespace fm::testing {

// One demo data folder for the whole program: building the inventory is the slow part of a
// first start. Tests whose saves would change what others find take a folder of their own.
inline const TempFolder& SharedDataFolder() {
  static const TempFolder folder;
  return folder;
}

// The tests that drive the whole shell: a case fails on any error reported and on any
// message box no step of it expected.
class ShellTest : public ::testing::Test {
 protected:
  ~ShellTest() override {
    qt::GridView::SetSaveFileChooser({});
    if (!shell) return;
    for (const auto& report : Services::Errors().Reports()) {
      ADD_FAILURE() << "reported: " << report.source << ": " << report.description;
    }
    shell->Shutdown();
    for (const auto& text : shell->boxes.unexpected)
      ADD_FAILURE() << "unexpected message: " << text;
  }

  // The shell on `options` (the shared demo data when no folder is given), not yet open.
  ShellDriver& Start(ShellDriver::Options options = {}) {
    if (options.dataFolder.empty()) options.dataFolder = SharedDataFolder().Path();
    shell.reset();
    shell = std::make_unique<ShellDriver>(std::move(options));
    return *shell;
  }
  ShellDriver& Open(ShellDriver::Options options = {}) {
    Start(std::move(options)).Open();
    return *shell;
  }

  // Runs `script` inside the next modal dialog, from its own event loop, once it is the
  // active modal widget. A dialog the script leaves open (a step that failed) is closed
  // with Escape and the test fails, so a broken step never leaves the test waiting.
  void OnNextModal(std::function<void(qt::ModalFormDialog&)> script) {
    qt::QtUiServices& ui = shell->Session().Ui();
    ui.SetModalObserver([this, &ui, script](qt::ModalFormDialog& dialog) {
      ++modalsShown;
      ui.SetModalObserver([](qt::ModalFormDialog& unexpected) {
        ADD_FAILURE() << "unexpected dialog " << unexpected.objectName().toStdString();
        QTimer::singleShot(0, &unexpected,
                           [&unexpected] { QTest::keyClick(&unexpected, Qt::Key_Escape); });
      });
      QTimer::singleShot(0, &dialog, [&dialog, script] {
        EXPECT_TRUE(WaitUntil([&] { return QApplication::activeModalWidget() == &dialog; },
                              std::chrono::seconds(10)))
            << "the dialog never became the active modal window";
        script(dialog);
        if (dialog.isVisible()) {
          ADD_FAILURE() << dialog.objectName().toStdString() << " was left open";
          QTest::keyClick(&dialog, Qt::Key_Escape);
        }
      });
    });
  }

  std::unique_ptr<ShellDriver> shell;
  int modalsShown = 0;
};

}  // namespace fm::testing
