#include "qt/ShellWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>

#include "controls/Control.h"
#include "document/TARVO_FormsMaint.h"
#include "platform/Services.h"
#include "qt/FormView.h"
#include "qt/QtHostFrame.h"
#include "qt/QtText.h"

namespace fm::qt {

namespace {

struct ToolbarItemDesign {
  int item;
  const char* text;
  const char* tip;
  QStyle::StandardPixmap icon;
  void (TARVO_FormsMaint::*operation)();
};

// The host's items the document switches, in toolbar order.
const ToolbarItemDesign kToolbarItems[] = {
    {7, "Save", "Save the new form ranges", QStyle::SP_DialogSaveButton,
     &TARVO_FormsMaint::SaveData},
    {8, "New", "Start anew", QStyle::SP_FileIcon, &TARVO_FormsMaint::FileNew},
    {9, "Properties", "Properties of the document", QStyle::SP_FileDialogInfoView,
     &TARVO_FormsMaint::EditProperties},
    {12, "Forms Assignment", "Open the forms assignment", QStyle::SP_FileDialogDetailedView,
     &TARVO_FormsMaint::LoadFormsAssignment},
    {14, "Duty Assignment", "Open the duty assignment", QStyle::SP_FileDialogListView,
     &TARVO_FormsMaint::LoadDutyAssignment},
};

}  // namespace

ShellWindow::ShellWindow(Options options, QWidget* parent)
    : QMainWindow(parent),
      mOptions(std::move(options)),
      mStatus(new QLabel(this)),
      mConnection(new QLabel(this)) {
  setObjectName(QStringLiteral("shellWindow"));
  setWindowTitle(ToQString(mOptions.caption));

  mStatus->setObjectName(QStringLiteral("statusText"));
  mConnection->setObjectName(QStringLiteral("connectionIndicator"));
  statusBar()->addWidget(mStatus, 1);
  statusBar()->addPermanentWidget(mConnection);

  mFrame = std::make_shared<QtHostFrame>(ToQString(mOptions.tag), mStatus, mConnection,
                                         ToQString(mOptions.connection));
  BuildToolbarAndMenu();
  Services::SetHostFrame(mFrame);
}

ShellWindow::~ShellWindow() {
  DestroyDocument();
  // Another shell window may have taken the frame over meanwhile.
  if (&Services::Frame() == mFrame.get()) Services::SetHostFrame(nullptr);
}

void ShellWindow::BuildToolbarAndMenu() {
  QToolBar* toolbar = addToolBar(tr("Commands"));
  toolbar->setObjectName(QStringLiteral("hostToolbar"));
  toolbar->setMovable(false);
  toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  for (const auto& design : kToolbarItems) {
    QAction* action = toolbar->addAction(style()->standardIcon(design.icon), tr(design.text));
    action->setObjectName(QStringLiteral("toolbarItem%1").arg(design.item));
    action->setToolTip(tr(design.tip));
    const auto operation = design.operation;
    const char* name = design.text;
    connect(action, &QAction::triggered, this,
            [this, name, operation] { RunDocumentOperation(name, operation); });
    mItems[design.item] = action;
    mFrame->AddToolbarItem(design.item, action);
  }

  QMenu* file = menuBar()->addMenu(tr("&File"));
  QAction* save = mItems.at(7);
  save->setShortcut(QKeySequence::Save);
  file->addAction(save);
  file->addSeparator();
  mCloseAction = file->addAction(tr("&Close"));
  mCloseAction->setObjectName(QStringLiteral("closeAction"));
  mCloseAction->setShortcut(QKeySequence::Close);
  connect(mCloseAction, &QAction::triggered, this, [this] { close(); });
}

QAction* ShellWindow::ToolbarItem(int item) const {
  const auto it = mItems.find(item);
  return it == mItems.end() ? nullptr : it->second;
}

void ShellWindow::OpenDocument() {
  if (mDocument) return;
  mDocument = std::make_unique<TARVO_FormsMaint>();
  mDocument->SetParentWindow(mOptions.caption, mOptions.tag);

  mView = new FormView(*mDocument, this);
  mView->SetErrorTextProvider([this](const Control&) {
    // The entry check's messages name every entry that is wrong.
    QString messages = mDocument ? ToQString(mDocument->ErrorMessages()) : QString();
    messages.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return ToStdString(messages.trimmed());
  });
  setCentralWidget(mView);
  resize(sizeHint());

  TARVO_FormsMaint* document = mDocument.get();
  mView->ForwardToForm("UserDocument_Show", [document] { document->UserDocument_Show(); });
}

void ShellWindow::RunDocumentOperation(const char* what, void (TARVO_FormsMaint::*operation)()) {
  if (!mDocument || mView == nullptr) return;
  TARVO_FormsMaint* document = mDocument.get();
  mView->ForwardToForm(what, [document, operation] { (document->*operation)(); });
}

void ShellWindow::Notify(LifecycleStep step) {
  if (mLifecycleObserver) mLifecycleObserver(step);
}

void ShellWindow::DestroyDocument() {
  // The view reads the document until its last moment: it goes first.
  if (mView != nullptr) {
    if (centralWidget() == mView) takeCentralWidget();
    delete mView;
    mView = nullptr;
  }
  mDocument.reset();
}

void ShellWindow::closeEvent(QCloseEvent* event) {
  // A close asked for while CloseDocument waits for the save reply waits its turn.
  if (mClosing) {
    event->ignore();
    return;
  }
  if (!mDocument) {
    event->accept();
    return;
  }
  mClosing = true;
  Notify(LifecycleStep::CloseAsked);
  TARVO_FormsMaint* document = mDocument.get();
  bool mayClose = false;
  mView->ForwardToForm("CloseDocument", [&] { mayClose = document->CloseDocument(); });
  if (!mayClose) {
    mClosing = false;
    Notify(LifecycleStep::CloseRefused);
    event->ignore();
    return;
  }
  mView->ForwardToForm("BeforeUnload", [document] { document->BeforeUnload(); });
  Notify(LifecycleStep::BeforeUnload);
  DestroyDocument();
  Notify(LifecycleStep::DocumentDestroyed);
  mClosing = false;
  event->accept();
}

}  // namespace fm::qt
