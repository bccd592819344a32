#include "ShellDriver.h"

#include <QComboBox>
#include <QLabel>
#include <QTableView>
#include <QTest>
#include <stdexcept>

#include "base/Text.h"
#include "controls/CodesCombo.h"
#include "controls/DataGrid.h"
#include "document/TARVO_FormsMaint.h"
#include "platform/SiteSettings.h"
#include "qt/render/FormView.h"
#include "qt/render/GridTableModel.h"
#include "qt/render/GridView.h"
#include "qt/shell/DesktopSession.h"
#include "qt/shell/QtUiServices.h"
#include "qt/shell/ShellWindow.h"

namespace fm::testing {

namespace {
constexpr const char* kRequesting = "Requesting Assigned Forms and Officers";
}

ShellDriver::ShellDriver(Options options) : mOptions(std::move(options)) {
  TestApplication();
  auto settings = std::make_shared<SiteSettings>();
  settings->SetLocalDatabaseFile(mOptions.dataFolder / "local.db");
  settings->SetInventoryFile(mOptions.dataFolder / "inventory.db");
  settings->SetLogFile({});
  mSession = std::make_unique<qt::DesktopSession>(
      qt::DesktopSession::Options{settings, mOptions.messages});
  qt::ShellWindow::Options windowOptions;
  windowOptions.connection = mSession->ConnectionText();
  windowOptions.draftFile = mOptions.draftFile;
  mWindow = std::make_unique<qt::ShellWindow>(windowOptions);
  mSession->Ui().SetMainWindow(mWindow.get());
  boxes.Install(mSession->Ui());
}

ShellDriver::~ShellDriver() { Shutdown(); }

void ShellDriver::Shutdown() {
  mWindow.reset();
  mSession.reset();
}

void ShellDriver::Open() {
  mWindow->OpenDocument();
  mWindow->show();
  // A message box the shell opens at once (a draft offered back) takes the activation for
  // a moment: it is answered first, then the window is activated again.
  ProcessEvents();
  bool active = false;
  for (int attempt = 0; attempt < 25 && !active; ++attempt) {
    mWindow->activateWindow();
    active = QTest::qWaitForWindowActive(mWindow.get(), 200);
  }
  if (!active) throw std::runtime_error("the shell window did not become active");
  ProcessEvents();
}

TARVO_FormsMaint& ShellDriver::Document() const {
  if (mWindow->Document() == nullptr) throw std::runtime_error("no document is open");
  return *mWindow->Document();
}

QWidget& ShellDriver::W(const char* name) const {
  if (mWindow->DocumentView() == nullptr) throw std::runtime_error("no document is shown");
  return WidgetOf(*mWindow->DocumentView(), name);
}

QWidget& WidgetOf(const qt::FormView& view, const char* name) {
  QWidget* widget = view.WidgetFor(name);
  if (widget == nullptr) throw std::runtime_error(std::string("no widget for ") + name);
  return *widget;
}

qt::GridView& ShellDriver::Grid(const char* name) const {
  return dynamic_cast<qt::GridView&>(W(name));
}

QString ShellDriver::Status() const { return mWindow->StatusLabel().text(); }

void ShellDriver::Type(const char* box, const std::string& keys, bool replace) {
  TypeInto(W(box), keys, replace);
}

void TypeInto(QWidget& box, const std::string& keys, bool replace) {
  box.setFocus();
  if (replace) QTest::keyClick(&box, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(&box, QString::fromStdString(keys));
}

void ClickRow(qt::GridView& view, int row, Qt::KeyboardModifiers modifiers) {
  QTableView& table = view.Table();
  int column = 0;
  while (column < view.Model().columnCount() && table.isColumnHidden(column)) ++column;
  const QModelIndex index = view.Model().index(row, column);
  table.scrollTo(index);
  ProcessEvents();
  QTest::mouseClick(table.viewport(), Qt::LeftButton, modifiers, table.visualRect(index).center());
}

std::string Stored(const DataGrid& grid, int row, const char* key) {
  return text::Trim(grid.BoundText(grid.BookmarkAt(row), key));
}

std::string Shown(const qt::GridView& view, int row, const char* key) {
  const int column = view.Grid().Column(key).Index();
  return view.Model().data(view.Model().index(row, column)).toString().toStdString();
}

void ShellDriver::Click(const char* name) { QTest::mouseClick(&W(name), Qt::LeftButton); }

void ShellDriver::ChooseFormType(const QString& description) {
  auto& combo = dynamic_cast<QComboBox&>(W("qmCboFormTypes"));
  combo.setFocus();
  const int wanted = combo.findText(description);
  if (wanted < 0) throw std::runtime_error("no form type " + description.toStdString());
  if (combo.currentIndex() > wanted) QTest::keyClick(&combo, Qt::Key_Home);
  while (combo.currentIndex() < wanted) QTest::keyClick(&combo, Qt::Key_Down);
  if (Document().qmCboFormTypes.SelectedDescription() != description.toStdString()) {
    throw std::runtime_error("the form type was not chosen: " + description.toStdString());
  }
}

void ShellDriver::SearchAndWait(std::chrono::milliseconds limit) {
  Click("cmdButton(0)");
  if (Status() != kRequesting) {
    throw std::runtime_error("Search says \"" + Status().toStdString() + "\"");
  }
  WaitForGrid(kRequesting, limit);
  Grid("grdFormsAssignment").Table().viewport()->repaint();
}

void ShellDriver::SearchRanges(const char* troopDistrict, const QString& formType) {
  Type("txtBox(0)", troopDistrict, true);
  ChooseFormType(formType);
  SearchAndWait();
  if (Status() != "Ready") throw std::runtime_error("the search left " + Status().toStdString());
}

void ShellDriver::WaitForReply(const QString& busy, std::chrono::milliseconds limit) {
  WaitForGrid(busy, limit);
  if (Status() != "Ready") throw std::runtime_error("the reply left " + Status().toStdString());
}

void ShellDriver::WaitForGrid(const QString& busy, std::chrono::milliseconds limit) {
  const bool shown = WaitUntil(
      [&] {
        return Status() != busy && Grid("grdFormsAssignment").Model().rowCount() ==
                                       Document().grdFormsAssignment.RowCount();
      },
      limit);
  if (!shown) throw std::runtime_error("no reply while the status says " + busy.toStdString());
}

void ShellDriver::AddRange(const char* troopDistrict, const QString& formType, const char* from,
                           const char* to) {
  Type("txtBox(0)", troopDistrict);
  ChooseFormType(formType);
  Type("txtBox(2)", from);
  Type("txtBox(3)", to);
  const long before = Document().grdNewForms.RowCount();
  Click("cmdButton(7)");
  if (Document().grdNewForms.RowCount() != before + 1) {
    throw std::runtime_error(std::string("the range ") + from + "-" + to + " was not added" +
                             (boxes.unexpected.empty() ? "" : ": " + boxes.unexpected.back()));
  }
}

}  // namespace fm::testing
