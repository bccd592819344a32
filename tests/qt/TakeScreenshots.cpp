// Takes the README's screenshots of the three view modes: the shell on the demo data (a
// fresh local database and embedded inventory in a temporary folder), driven with keys and
// clicks as a clerk would, each picture taken from the screen.
//
//   xvfb-run -s "-screen 0 1400x900x24" build/tests/qt/qt_screenshots docs/screenshots

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "QtTestSupport.h"
#include "controls/DataGrid.h"
#include "document/TARVO_FormsMaint.h"
#include "platform/SiteSettings.h"
#include "qt/DesktopApp.h"
#include "qt/DesktopSession.h"
#include "qt/FormView.h"
#include "qt/GridTableModel.h"
#include "qt/GridView.h"
#include "qt/QtUiServices.h"
#include "qt/ShellWindow.h"

namespace {

using fm::qt::ShellWindow;

class Clerk {
 public:
  explicit Clerk(ShellWindow& window) : mWindow(window) {}

  QWidget& W(const char* name) {
    QWidget* widget = mWindow.DocumentView()->WidgetFor(name);
    if (widget == nullptr) throw std::runtime_error(std::string("no widget for ") + name);
    return *widget;
  }
  void Type(const char* box, const char* keys) {
    W(box).setFocus();
    QTest::keyClicks(&W(box), keys);
  }
  void Click(const char* name) { QTest::mouseClick(&W(name), Qt::LeftButton); }
  void Choose(const QString& formType) {
    auto& combo = dynamic_cast<QComboBox&>(W("qmCboFormTypes"));
    combo.setFocus();
    const int wanted = combo.findText(formType);
    if (wanted < 0) throw std::runtime_error("no form type " + formType.toStdString());
    if (combo.currentIndex() > wanted) QTest::keyClick(&combo, Qt::Key_Home);
    while (combo.currentIndex() < wanted) QTest::keyClick(&combo, Qt::Key_Down);
  }
  void Search() {
    Click("cmdButton(0)");
    fm::testing::WaitUntil([&] {
      return mWindow.StatusLabel().text() != "Requesting Assigned Forms and Officers" &&
             mWindow.Document()->grdFormsAssignment.RowCount() > 0;
    });
    Settle();
  }
  void Settle() {
    for (int i = 0; i < 10; ++i) {
      QApplication::processEvents();
      QTest::qWait(30);
    }
  }
  void Shoot(const std::filesystem::path& file) {
    Settle();
    QScreen* screen = mWindow.windowHandle() ? mWindow.windowHandle()->screen() : nullptr;
    QPixmap picture = screen != nullptr ? screen->grabWindow(0, mWindow.x(), mWindow.y(),
                                                             mWindow.width(), mWindow.height())
                                        : mWindow.grab();
    if (picture.isNull()) picture = mWindow.grab();
    if (!picture.save(QString::fromStdString(file.string()))) {
      throw std::runtime_error("cannot write " + file.string());
    }
    std::cout << "wrote " << file.string() << '\n';
  }

 private:
  ShellWindow& mWindow;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: qt_screenshots OUTPUT_FOLDER\n";
    return 2;
  }
  const std::filesystem::path out = argv[1];
  try {
    QApplication app(argc, argv);
    fm::qt::ApplyDesktopLook(app);
    std::filesystem::create_directories(out);

    fm::testing::TempFolder data;
    auto settings = std::make_shared<fm::SiteSettings>();
    settings->SetLocalDatabaseFile(data.Path() / "local.db");
    settings->SetInventoryFile(data.Path() / "inventory.db");
    settings->SetLogFile({});
    fm::qt::DesktopSession session({settings, {}});
    ShellWindow::Options options;
    options.connection = session.ConnectionText();
    ShellWindow window(options);
    session.Ui().SetMainWindow(&window);
    window.OpenDocument();
    window.move(0, 0);
    window.show();
    window.activateWindow();
    Clerk clerk(window);
    clerk.Settle();

    // Forms Assignment: the ranges and troopers of A1, one range selected.
    clerk.Type("txtBox(0)", "a1");
    clerk.Choose("ENF001 Citation");
    clerk.Search();
    auto& grid = dynamic_cast<fm::qt::GridView&>(clerk.W("grdFormsAssignment"));
    QTest::mouseClick(grid.Table().viewport(), Qt::LeftButton, Qt::NoModifier,
                      grid.Table().visualRect(grid.Model().index(1, 0)).center());
    clerk.Shoot(out / "forms-assignment.png");

    // New Forms: one range added for B2, the next one being entered.
    clerk.Click("optButton(1)");
    clerk.Type("txtBox(0)", "b2");
    clerk.Choose("Wrecker Decals");
    clerk.Type("txtBox(2)", "9990001");
    clerk.Type("txtBox(3)", "9990250");
    clerk.Type("txtBox(4)", "Received from the warehouse");
    clerk.Click("cmdButton(7)");
    clerk.Type("txtBox(0)", "b2");
    clerk.Choose("Wrecker Decals");
    clerk.Type("txtBox(2)", "9990251");
    clerk.Type("txtBox(3)", "9990500");
    QTest::keyClick(&clerk.W("txtBox(3)"), Qt::Key_Tab);  // leaving the box re-checks the entry
    clerk.Shoot(out / "new-forms.png");

    // Inactive Forms: the voided, returned and delisted receipts, with their status.
    clerk.Click("optButton(2)");
    clerk.Choose("Receipts");
    clerk.Search();
    clerk.Shoot(out / "inactive-forms.png");

    // Leave without saving the example range.
    session.Ui().SetMessageBoxObserver([](QMessageBox& box) {
      QTimer::singleShot(0, &box, [&box] { box.button(QMessageBox::No)->click(); });
    });
    window.close();
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "qt_screenshots: " << e.what() << '\n';
    return 1;
  }
}
