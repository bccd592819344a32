#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "TempFolder.h"

class QApplication;
class QImage;
class QRect;
class QWidget;

namespace fm {
class ErrorReporter;
class LocalDatabase;
class SiteSettings;
}  // namespace fm

namespace fm::qt {
class QtEventLoop;
class QtUiServices;
}  // namespace fm::qt

namespace fm::testing {

// The test program's application object, created on first use and kept to the end (the
// tests run with QT_QPA_PLATFORM=offscreen).
QApplication& TestApplication();

// Processes events until `done` answers true or `limit` passes; answers `done()`.
bool WaitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(20));
// Processes the events posted so far (queued view updates, posted tasks).
void ProcessEvents();

// Counts the pixels of `image` inside `area` that are clearly red.
int RedPixels(const QImage& image, const QRect& area);

// Answers the desktop's message boxes for a test, as a clerk would: the next box with the
// button a step chose, every other box as Escape closes it. The texts of both kinds are
// kept, so a test can check what it was told and fail on a box no step expected.
class MessageBoxScript {
 public:
  // From now on every box is dismissed and noted as unexpected.
  void Install(qt::QtUiServices& ui);
  // The next box is answered with `standardButton` (a QMessageBox::StandardButton).
  void AnswerNext(int standardButton);

  std::vector<std::string> answered;
  std::vector<std::string> unexpected;

 private:
  void DismissUnexpected();
  qt::QtUiServices* mUi = nullptr;
};

// The process-wide services a view needs, the Qt ones for real: site settings of the demo
// region, an error reporter that keeps its reports in memory, the demo local database, the
// Qt event loop and the Qt user-interface services. Removed again with the object.
class QtServices {
 public:
  QtServices();
  ~QtServices();
  QtServices(const QtServices&) = delete;
  QtServices& operator=(const QtServices&) = delete;

  std::shared_ptr<SiteSettings> settings;
  std::shared_ptr<ErrorReporter> errors;
  std::shared_ptr<LocalDatabase> database;
  std::shared_ptr<qt::QtEventLoop> loop;
  std::shared_ptr<qt::QtUiServices> ui;

  // The descriptions of the reports so far.
  std::vector<std::string> ReportedErrors() const;

 private:
  TempFolder mFolder;
};

}  // namespace fm::testing
