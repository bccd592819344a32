#include "QtTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QColor>
#include <QImage>
#include <QMessageBox>
#include <QRect>
#include <QThread>
#include <QTimer>

#include "platform/ErrorReporter.h"
#include "platform/LocalDatabase.h"
#include "platform/Services.h"
#include "platform/SiteSettings.h"
#include "qt/shell/QtEventLoop.h"
#include "qt/shell/QtUiServices.h"

namespace fm::testing {

QApplication& TestApplication() {
  // A program of its own (the screenshot tool) may have made one already.
  if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) {
    return *existing;
  }
  // Never destroyed: Qt objects of the tests may still refer to it at exit.
  static int argc = 1;
  static char name[] = "formsmaint-qt-test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

void ProcessEvents() {
  TestApplication();
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  TestApplication();
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return done();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  return true;
}

int RedPixels(const QImage& image, const QRect& area) {
  int count = 0;
  const QRect inside = area.intersected(image.rect());
  for (int y = inside.top(); y <= inside.bottom(); ++y) {
    for (int x = inside.left(); x <= inside.right(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.red() > 150 && c.green() < 80 && c.blue() < 80) ++count;
    }
  }
  return count;
}

void MessageBoxScript::Install(qt::QtUiServices& ui) {
  mUi = &ui;
  DismissUnexpected();
}

void MessageBoxScript::AnswerNext(int standardButton) {
  mUi->SetMessageBoxObserver([this, standardButton](QMessageBox& box) {
    answered.push_back(box.text().toStdString());
    const auto button = static_cast<QMessageBox::StandardButton>(standardButton);
    QTimer::singleShot(0, &box, [&box, button] { box.button(button)->click(); });
    DismissUnexpected();
  });
}

void MessageBoxScript::DismissUnexpected() {
  mUi->SetMessageBoxObserver([this](QMessageBox& box) {
    unexpected.push_back(box.text().toStdString());
    QTimer::singleShot(0, &box, [&box] {
      if (QAbstractButton* escape = box.escapeButton()) {
        escape->click();
      } else {
        box.reject();
      }
    });
  });
}

QtServices::QtServices() {
  TestApplication();
  Services::Reset();
  settings = std::make_shared<SiteSettings>();
  settings->SetRegion("NORTH");
  settings->SetUserId(1001);
  settings->SetLocalDatabaseFile(mFolder.Path() / "local.db");
  settings->SetInventoryFile(mFolder.Path() / "inventory.db");
  settings->SetLogFile({});
  Services::SetSettings(settings);
  errors = std::make_shared<ErrorReporter>(std::filesystem::path{}, false);
  Services::SetErrorReporter(errors);
  database = LocalDatabase::Open(settings->LocalDatabaseFile());
  Services::SetDatabase(database);
  loop = std::make_shared<qt::QtEventLoop>();
  Services::SetEventLoop(loop);
  ui = std::make_shared<qt::QtUiServices>();
  Services::SetUiServices(ui);
}

QtServices::~QtServices() {
  ProcessEvents();
  Services::Reset();
}

std::vector<std::string> QtServices::ReportedErrors() const {
  std::vector<std::string> texts;
  for (const auto& report : errors->Reports())
    texts.push_back(report.source + ": " + report.description);
  return texts;
}

}  // namespace fm::testing
