#include "qt/shell/DesktopApp.h"

#include <QApplication>
#include <QFont>
#include <QMessageBox>
#include <QStyleFactory>
#include <exception>
#include <iostream>
#include <memory>

#include "platform/SiteSettings.h"
#include "qt/render/QtText.h"
#include "qt/shell/DesktopSession.h"
#include "qt/shell/QtUiServices.h"
#include "qt/shell/ShellWindow.h"
#include "shell/ShellCommandLine.h"

namespace fm::qt {

namespace {

constexpr const char* kCaption = "Forms Maintenance";
// Where the new ranges not yet saved are kept (ShellWindow).
constexpr const char* kDraftFileName = "new-forms-draft.json";

void ShowStartFailure(const std::string& reason) {
  std::cerr << "formsmaint: " << reason << '\n';
  QMessageBox::critical(
      nullptr, QString::fromUtf8(kCaption),
      QStringLiteral("The forms maintenance screen cannot start:\n\n") + ToQString(reason));
}

}  // namespace

void ApplyDesktopLook(QApplication& app) {
  if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) app.setStyle(fusion);
  // The captions were sized for a narrow 8-point sans serif: the first of these installed.
  QFont font = QApplication::font();
  font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                    QStringLiteral("Arial"), QStringLiteral("DejaVu Sans Condensed"),
                    QStringLiteral("DejaVu Sans")});
  font.setPointSizeF(8.0);
  QApplication::setFont(font);
}

int RunDesktop(int argc, char** argv) {
  // Help needs no display: answered before Qt looks for one.
  if (shell::ShellCommandLine::AsksForHelp(argc, argv)) {
    return shell::ShellCommandLine::Parse(argc, argv, std::cout, std::cerr).exitCode;
  }

  QApplication app(argc, argv);  // takes its own options (-platform...) out of argv
  QApplication::setApplicationName(QStringLiteral("formsmaint"));
  QApplication::setApplicationDisplayName(QString::fromUtf8(kCaption));
  ApplyDesktopLook(app);

  const auto parsed = shell::ShellCommandLine::Parse(argc, argv, std::cout, std::cerr);
  if (!parsed.commandLine) return parsed.exitCode;

  try {
    auto settings = std::make_shared<SiteSettings>(SiteSettings::Resolve(
        parsed.commandLine->settings, nullptr, parsed.commandLine->settingsFile));
    DesktopSession session({settings, {}});
    ShellWindow::Options options;
    options.caption = kCaption;
    options.connection = session.ConnectionText();
    // Beside the local database, in the data folder.
    options.draftFile = settings->LocalDatabaseFile().parent_path() / kDraftFileName;
    ShellWindow window(options);
    session.Ui().SetMainWindow(&window);
    window.OpenDocument();
    window.show();
    return QApplication::exec();
  } catch (const std::exception& e) {
    ShowStartFailure(e.what());
    return 1;
  }
}

}  // namespace fm::qt
