#include "qt/shell/ShellWindow.h"

#include <fmt/format.h>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <chrono>

#include "base/Numbers.h"
#include "base/Text.h"
#include "controls/Control.h"
#include "controls/DataGrid.h"
#include "controls/OptionButton.h"
#include "document/TARVO_FormsMaint.h"
#include "platform/DataSet.h"
#include "platform/ErrorTrap.h"
#include "platform/MessageComponent.h"
#include "platform/PlatformError.h"
#include "platform/Recordset.h"
#include "platform/ReplyStore.h"
#include "platform/Services.h"
#include "platform/UiServices.h"
#include "protocol/Receipt.h"
#include "qt/accountability/AccountabilityWindow.h"
#include "qt/count/PhysicalCountWindow.h"
#include "qt/history/FormHistoryWindow.h"
#include "qt/reassignment/TrooperChooser.h"
#include "qt/receipt/HandReceiptWindow.h"
#include "qt/recorduse/RecordUseWindow.h"
#include "qt/render/FormView.h"
#include "qt/render/GridView.h"
#include "qt/render/QtText.h"
#include "qt/shell/OverrideDialog.h"
#include "qt/shell/QtHostFrame.h"
#include "qt/shell/WindowPlacement.h"
#include "qt/stock/StockOnHandWindow.h"
#include "qt/unaccounted/UnaccountedFormsWindow.h"
#include "qt/usageimport/UsageImportWindow.h"
#include "shell/DraftFile.h"
#include "shell/LocalCodes.h"
#include "shell/SaveOverride.h"
#include "shell/SearchSummary.h"
#include "shell/StockOnHand.h"
#include "shell/TrooperReassignment.h"
#include "transport/RecordsetWire.h"

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

// The document's place in the window. The form is laid out in twips and has a least size
// below which its controls would overlap; a window smaller than that (a laptop at 200 %
// offers 960 x 540) scrolls the form instead of refusing to become smaller. At or above the
// least size the form fills the area and its resizer lays it out, as without the area.
class DocumentScrollArea final : public QScrollArea {
 public:
  explicit DocumentScrollArea(QWidget* parent) : QScrollArea(parent) {
    setObjectName(QStringLiteral("documentArea"));
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
  }
  // The form's own size (QScrollArea's hint stops at a few dozen lines of text).
  QSize sizeHint() const override {
    return widget() == nullptr ? QScrollArea::sizeHint() : widget()->sizeHint();
  }
};

}  // namespace

// The hand receipts a reply names, from the reply store; `problem` says why they could not
// be read.
std::vector<std::int64_t> IssuedReceipts(const ExchangeOutcome& outcome, std::string& problem) {
  std::vector<std::int64_t> numbers;
  const auto set =
      Services::Replies()->Get(protocol::kReceiptDataSet, outcome.identity, outcome.requestId);
  if (!set) return numbers;
  try {
    for (const auto& issued : protocol::IssuedReceiptsFromDataSets(
             {{protocol::kReceiptDataSet, ToWireDataSet(set->GetRecordset())}})) {
      numbers.push_back(issued.number);
    }
  } catch (const std::exception& e) {
    problem = fmt::format("The hand receipts of the save could not be read: {}", e.what());
  }
  return numbers;
}

// Hears how each exchange of the process's message component ended.
class ShellWindow::ExchangeWatch final : public MessageListener {
 public:
  explicit ExchangeWatch(ShellWindow& window) : mWindow(window) {}
  void OnDataReady(const std::string& /*target*/) override {}
  void OnMsgTimeout(long /*value*/) override {}
  void OnExchangeEnded(const ExchangeOutcome& outcome) override {
    mWindow.mFrame->ShowExchange(outcome, QDateTime::currentDateTime());
    // A save that gave forms to an officer (the document's, or a reassignment's) issued hand
    // receipts: each is offered at once, while the officer stands at the counter. Read now,
    // before the reply's reader forgets it.
    if (outcome.result == ExchangeOutcome::Result::Answered) {
      std::string problem;
      for (const std::int64_t number : IssuedReceipts(outcome, problem)) {
        QTimer::singleShot(0, &mWindow, [window = &mWindow, number] {
          Trap("ShellWindow.HandReceipt", [&] { window->OpenHandReceipt(number); });
        });
      }
      if (!problem.empty()) mWindow.mStatus->setText(ToQString(problem));
    }
    const TARVO_FormsMaint* document = mWindow.mDocument.get();
    if (document != nullptr && outcome.identity == document->DocumentIdentity()) {
      // The screen says why its save was refused; the shell offers the way past the limit.
      mWindow.mSaveOverride->ExchangeEnded(outcome.identity);
      if (!outcome.overridable.empty()) {
        mWindow.mSaveOverride->Offer(outcome.identity, outcome.overridable);
      }
      mWindow.mOverride->setVisible(mWindow.mSaveOverride->Offered());
    }
    if (outcome.result == ExchangeOutcome::Result::Answered && document != nullptr &&
        outcome.identity == document->DocumentIdentity()) {
      // After the document has taken the reply in (DataReady comes next).
      QTimer::singleShot(0, &mWindow, [window = &mWindow] {
        window->FocusFirstGrid();
        window->AskStockAlerts();
      });
    }
  }

 private:
  ShellWindow& mWindow;
};

ShellWindow::ShellWindow(Options options, QWidget* parent)
    : QMainWindow(parent),
      mOptions(std::move(options)),
      mStatus(new QLabel(this)),
      mConnection(new QLabel(this)),
      mSummary(new QLabel(this)),
      mStockAlert(new QPushButton(this)),
      mOverride(new QPushButton(this)),
      mSaveOverride(std::make_unique<shell::SaveOverride>()) {
  setObjectName(QStringLiteral("shellWindow"));
  setWindowTitle(ToQString(mOptions.caption));

  mStatus->setObjectName(QStringLiteral("statusText"));
  mConnection->setObjectName(QStringLiteral("connectionIndicator"));
  mSummary->setObjectName(QStringLiteral("searchSummary"));
  statusBar()->addWidget(mStatus, 1);
  mStockAlert->setObjectName(QStringLiteral("stockAlert"));
  mStockAlert->setFlat(true);
  mStockAlert->setCursor(Qt::PointingHandCursor);
  mStockAlert->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold;"));
  mStockAlert->setToolTip(tr("Open the stock on hand of the station"));
  mStockAlert->hide();
  connect(mStockAlert, &QPushButton::clicked, this,
          [this] { Trap("ShellWindow.StockAlert", [&] { OpenStockOnHand(mStockAlertStation); }); });
  statusBar()->addPermanentWidget(mStockAlert);
  mOverride->setObjectName(QStringLiteral("overrideButton"));
  mOverride->setText(tr("Save with Override..."));
  mOverride->setToolTip(tr(
      "Save the refused change again beyond the allotment limit, with a reason for the history"));
  mOverride->hide();
  connect(mOverride, &QPushButton::clicked, this,
          [this] { Trap("ShellWindow.Override", [&] { OfferOverride(); }); });
  statusBar()->addPermanentWidget(mOverride);
  statusBar()->addPermanentWidget(mSummary);
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
  mImportUsageAction = file->addAction(tr("Import Form &Usage..."));
  mImportUsageAction->setObjectName(QStringLiteral("importUsageAction"));
  connect(mImportUsageAction, &QAction::triggered, this,
          [this] { Trap("ShellWindow.ImportUsage", [&] { OpenUsageImport(); }); });
  file->addSeparator();
  mCloseAction = file->addAction(tr("&Close"));
  mCloseAction->setObjectName(QStringLiteral("closeAction"));
  mCloseAction->setShortcut(QKeySequence::Close);
  connect(mCloseAction, &QAction::triggered, this, [this] { close(); });

  QMenu* tools = menuBar()->addMenu(tr("&Tools"));
  mFormHistoryAction = tools->addAction(tr("Form &History..."));
  mFormHistoryAction->setObjectName(QStringLiteral("formHistoryAction"));
  mFormHistoryAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
  connect(mFormHistoryAction, &QAction::triggered, this, [this] {
    Trap("ShellWindow.FormHistory", [&] {
      // A range selected in the Forms Assignment grid is the form asked about by default.
      if (mDocument && mDocument->SelectedRange()) {
        ShowHistoryOfSelectedRange();
      } else {
        OpenFormHistory();
      }
    });
  });
  mRecordUseAction = tools->addAction(tr("&Record Use..."));
  mRecordUseAction->setObjectName(QStringLiteral("recordUseAction"));
  connect(mRecordUseAction, &QAction::triggered, this,
          [this] { Trap("ShellWindow.RecordUse", [&] { RecordUseOfSelectedRange(); }); });
  mPhysicalCountAction = tools->addAction(tr("&Physical Count..."));
  mPhysicalCountAction->setObjectName(QStringLiteral("physicalCountAction"));
  connect(mPhysicalCountAction, &QAction::triggered, this,
          [this] { Trap("ShellWindow.PhysicalCount", [&] { OpenPhysicalCount(); }); });
  QMenu* reports = menuBar()->addMenu(tr("&Reports"));
  mAccountabilityAction = reports->addAction(tr("&Accountability..."));
  mAccountabilityAction->setObjectName(QStringLiteral("accountabilityAction"));
  connect(mAccountabilityAction, &QAction::triggered, this,
          [this] { Trap("ShellWindow.Accountability", [&] { OpenAccountability(); }); });
  mUnaccountedAction = reports->addAction(tr("&Unaccounted Forms..."));
  mUnaccountedAction->setObjectName(QStringLiteral("unaccountedAction"));
  connect(mUnaccountedAction, &QAction::triggered, this,
          [this] { Trap("ShellWindow.Unaccounted", [&] { OpenUnaccounted(); }); });
  mStockAction = reports->addAction(tr("&Stock on Hand..."));
  mStockAction->setObjectName(QStringLiteral("stockAction"));
  connect(mStockAction, &QAction::triggered, this,
          [this] { Trap("ShellWindow.StockOnHand", [&] { OpenStockOnHand(); }); });
}

FormHistoryWindow& ShellWindow::OpenFormHistory() {
  if (mFormHistory == nullptr) {
    mFormHistory = new FormHistoryWindow(this);
    PlaceCentredOver(*mFormHistory, *this, mFormHistory->sizeHint());
  }
  mFormHistory->show();
  mFormHistory->raise();
  mFormHistory->activateWindow();
  return *mFormHistory;
}

AccountabilityWindow& ShellWindow::OpenAccountability() {
  if (mAccountability == nullptr) {
    mAccountability = new AccountabilityWindow(this);
    // The station the clerk works on: that of the last search.
    if (mDocument) {
      const auto& last = mDocument->LastSearchCriteria();
      if (!text::Trim(last.troop).empty()) {
        mAccountability->SetStation(ToQString(text::Trim(last.troop) + text::Trim(last.district)),
                                    text::Trim(last.district).empty());
      }
    }
    PlaceCentredOver(*mAccountability, *this, mAccountability->sizeHint());
  }
  mAccountability->show();
  mAccountability->raise();
  mAccountability->activateWindow();
  return *mAccountability;
}

void ShellWindow::Present(QWidget& window) {
  window.show();
  window.raise();
  window.activateWindow();
}

std::string ShellWindow::LastStation() const {
  if (!mDocument) return {};
  const auto& last = mDocument->LastSearchCriteria();
  return text::Trim(last.troop) + text::Trim(last.district);
}

UnaccountedFormsWindow& ShellWindow::OpenClearance(std::int64_t registry) {
  auto* window = new UnaccountedFormsWindow(this);
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->SetClearance(QString::number(registry));
  PlaceCentredOver(*window, *this, window->sizeHint());
  Present(*window);
  window->Run();
  return *window;
}

OverrideDialog* ShellWindow::OfferOverride() {
  if (!mSaveOverride->Offered()) return nullptr;
  auto* dialog = new OverrideDialog(
      ToQString(mSaveOverride->Refusal()),
      [this](const std::string& reason) {
        std::string problem = mSaveOverride->Send(reason);
        mOverride->setVisible(mSaveOverride->Offered());
        if (problem.empty()) mStatus->setText(tr("Saving again with the override..."));
        return problem;
      },
      this);
  dialog->show();
  return dialog;
}

HandReceiptWindow& ShellWindow::OpenHandReceipt(std::int64_t number) {
  auto* window = new HandReceiptWindow(this);
  window->setAttribute(Qt::WA_DeleteOnClose);
  // Beside the clerk's work, not in its way: the keys stay with the grid he saved from.
  window->setAttribute(Qt::WA_ShowWithoutActivating);
  PlaceCentredOver(*window, *this, window->sizeHint());
  window->Load(number);
  window->show();
  return *window;
}

UsageImportWindow& ShellWindow::OpenUsageImport() {
  if (mUsageImport == nullptr) {
    mUsageImport = new UsageImportWindow([this] { RefreshDocumentSearch(); }, this);
    PlaceCentredOver(*mUsageImport, *this, mUsageImport->sizeHint());
  }
  Present(*mUsageImport);
  return *mUsageImport;
}

UnaccountedFormsWindow& ShellWindow::OpenUnaccounted() {
  if (mUnaccounted == nullptr) {
    mUnaccounted = new UnaccountedFormsWindow(this);
    mUnaccounted->SetStation(ToQString(LastStation()));
    PlaceCentredOver(*mUnaccounted, *this, mUnaccounted->sizeHint());
  }
  Present(*mUnaccounted);
  return *mUnaccounted;
}

StockOnHandWindow& ShellWindow::OpenStockOnHand(const std::string& station) {
  const bool opened = mStockOnHand == nullptr;
  if (opened) {
    mStockOnHand = new StockOnHandWindow(this);
    PlaceCentredOver(*mStockOnHand, *this, mStockOnHand->sizeHint());
  }
  if (opened || !station.empty()) {
    mStockOnHand->SetStation(ToQString(station.empty() ? LastStation() : station));
    mStockOnHand->Run();
  }
  Present(*mStockOnHand);
  return *mStockOnHand;
}

PhysicalCountWindow& ShellWindow::OpenPhysicalCount() {
  if (mPhysicalCount == nullptr) {
    mPhysicalCount = new PhysicalCountWindow(this);
    PlaceCentredOver(*mPhysicalCount, *this, mPhysicalCount->sizeHint());
    const std::string station = LastStation();
    if (!station.empty()) {
      mPhysicalCount->SetStation(ToQString(station));
      mPhysicalCount->ListCounts();
    }
  }
  Present(*mPhysicalCount);
  return *mPhysicalCount;
}

void ShellWindow::AskStockAlerts() {
  if (!mStockAlertWatch) {
    mStockAlertWatch = std::make_unique<shell::StockAlertWatch>(
        [this](const std::string& summary, const std::string& station) {
          mStockAlertStation = station;
          mStockAlert->setText(ToQString(summary));
          mStockAlert->setVisible(!summary.empty());
        });
  }
  mStockAlertWatch->Ask(LastStation());
}

RecordUseWindow* ShellWindow::RecordUseOfSelectedRange() {
  const auto range = mDocument ? mDocument->SelectedRange() : std::nullopt;
  if (!range) {
    mStatus->setText(tr("Select a range in Forms Assignment to record the use of its forms."));
    return nullptr;
  }
  shell::UseRange use{range->formType, {}, range->from, range->to, 0};
  const auto types = shell::LocalCodeEntries("FORMTYPE");
  const int index = shell::CodeIndex(types, range->formType);
  if (index >= 0) use.description = types[static_cast<std::size_t>(index)].second;
  // The holder the grid shows for the range: the officer of its uses by default.
  const DataGrid& grid = mDocument->grdFormsAssignment;
  if (grid.SelectedCount() > 0) {
    use.registry =
        text::WholeNumber(grid.BoundText(grid.SelectedBookmarks().front(), "ASGND_REG_NBR"))
            .value_or(0);
  }
  if (mRecordUse != nullptr) {
    mRecordUse->close();
    mRecordUse->deleteLater();
  }
  mRecordUse = new RecordUseWindow(
      use, [this] { RefreshDocumentSearch(); }, this);
  PlaceCentredOver(*mRecordUse, *this, mRecordUse->sizeHint());
  Present(*mRecordUse);
  return mRecordUse;
}

void ShellWindow::ShowHistoryOfSelectedRange() {
  if (!mDocument) return;
  const auto range = mDocument->SelectedRange();
  if (range) OpenFormHistory().ShowHistory(range->formType, range->from);
}

void ShellWindow::ReassignSelectedTrooper() {
  if (!mDocument) return;
  const auto from = mDocument->SelectedTrooper();
  if (!from) return;
  if (!mReassignment) {
    mReassignment = std::make_unique<shell::TrooperReassignment>(
        [this](const auto& trooper, const auto& candidates) {
          return ChooseTrooper(this, trooper, candidates);
        },
        [this] { RefreshDocumentSearch(); });
  }
  mReassignment->Start(*from,
                       shell::TrooperReassignment::Colleagues(mDocument->ListedTroopers(), *from));
}

void ShellWindow::RefreshDocumentSearch() {
  TARVO_FormsMaint* document = mDocument.get();
  if (!document || mView == nullptr) return;
  // The screen's own requery after a save: the search it made last, as long as the clerk has
  // not typed other criteria since (the next Search then shows the change).
  if (!document->optButton(0).Value() || document->Saving() ||
      !(document->CurrentCriteria() == document->LastSearchCriteria())) {
    mStatus->setText(tr("Search again to see the changed ranges."));
    return;
  }
  mView->ForwardToForm("RefreshAfterReassignment",
                       [document] { document->QueryForms(33, nullptr); });
}

void ShellWindow::AddGridActions() {
  TARVO_FormsMaint* document = mDocument.get();
  if (auto* ranges = dynamic_cast<GridView*>(mView->WidgetFor(document->grdFormsAssignment))) {
    ranges->AddContextAction(
        tr("Form History..."),
        [this] { return mDocument && mDocument->SelectedRange().has_value(); },
        [this] { Trap("ShellWindow.FormHistory", [&] { ShowHistoryOfSelectedRange(); }); });
    ranges->AddContextAction(
        tr("Record Use..."), [this] { return mDocument && mDocument->SelectedRange().has_value(); },
        [this] { Trap("ShellWindow.RecordUse", [&] { RecordUseOfSelectedRange(); }); });
  }
  if (auto* troopers = dynamic_cast<GridView*>(mView->WidgetFor(document->grdOfficerList))) {
    troopers->AddContextAction(
        tr("Reassign all ranges of this trooper..."),
        [this] {
          return mDocument && mDocument->optButton(0).Value() &&
                 !(mReassignment && mReassignment->Waiting()) &&
                 mDocument->SelectedTrooper().has_value();
        },
        [this] { Trap("ShellWindow.Reassign", [&] { ReassignSelectedTrooper(); }); });
    troopers->AddContextAction(
        tr("Clearance Statement..."),
        [this] { return mDocument && mDocument->SelectedTrooper().has_value(); },
        [this] {
          Trap("ShellWindow.Clearance", [&] {
            if (const auto trooper = mDocument->SelectedTrooper()) OpenClearance(trooper->registry);
          });
        });
  }
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
  mView->SetSyncedHandler([this] { AfterSync(); });
  mArea = new DocumentScrollArea(this);
  mArea->setWidget(mView);
  setCentralWidget(mArea);
  AddGridActions();
  // The form's design size where the screen has room for it; maximised where it has not.
  const QSize wanted = sizeHint();
  resize(SizeOnScreen(*this, wanted));
  if (size() != wanted) setWindowState(windowState() | Qt::WindowMaximized);

  TARVO_FormsMaint* document = mDocument.get();
  mView->ForwardToForm("UserDocument_Show", [document] { document->UserDocument_Show(); });
  WatchExchanges();
  // Once the window is up, so that the question stands over it.
  if (!mOptions.draftFile.empty()) QTimer::singleShot(0, this, [this] { OfferDraft(); });
}

void ShellWindow::OfferDraft() {
  if (!mDocument || mKeepingDrafts) return;
  const shell::DraftFile draft(mOptions.draftFile);
  const auto now = std::chrono::system_clock::now();
  std::shared_ptr<Recordset> rows;
  std::string problem;
  try {
    rows = draft.Read();
  } catch (const PlatformError& error) {
    problem = error.Description();
  }
  if (!problem.empty()) {
    // Not thrown away: the help desk may still get the ranges out of it.
    std::string where;
    try {
      where = fmt::format("It was set aside as {}.", draft.SetAside(now).string());
    } catch (const PlatformError& error) {
      where = error.Description();
    }
    Services::Ui().MessageBox(
        fmt::format("The new ranges kept from your last session could not be restored.\r\n\r\n"
                    "{}\r\n{}",
                    problem, where),
        MsgBoxButtons::Ok, MsgBoxIcon::Exclamation, mOptions.caption);
  } else if (rows && rows->RecordCount() > 0) {
    const long count = rows->RecordCount();
    const std::string question =
        count == 1 ? "1 new range from your last session was not saved. Restore it?"
                   : fmt::format(
                         "{} new ranges from your last session were not saved. Restore "
                         "them?",
                         count);
    const MsgBoxResult answer = Services::Ui().MessageBox(question, MsgBoxButtons::YesNo,
                                                          MsgBoxIcon::Question, mOptions.caption);
    if (answer == MsgBoxResult::Yes && mDocument) RestoreDraft(*rows);
  }
  // From now on the draft follows the new ranges (none: it goes).
  mKeepingDrafts = true;
  mDraftRows.clear();
  mDraftKey = {};
  KeepDraft();
}

void ShellWindow::RestoreDraft(const Recordset& rows) {
  TARVO_FormsMaint* document = mDocument.get();
  // As the clerk would go on: in New Forms, with the ranges back where Add Forms put them.
  mView->Forward(document->optButton(1), "Click", [document] { document->optButton(1).Choose(); });
  mView->ForwardToForm("RestoreDraft", [&] { document->RestoreNewForms(rows); });
}

void ShellWindow::KeepDraft() {
  if (!mKeepingDrafts || !mDocument) return;
  const std::shared_ptr<DataSet> dataSet = mDocument->NewFormsDataSet();
  if (!dataSet) return;
  Trap("ShellWindow.KeepDraft", [&] {
    const Recordset& rows = dataSet->GetRecordset();
    // The rows change only through the screen's add, remove and save, each of which binds
    // the grid anew: nothing to write while the grid shows the same rows.
    const std::array<std::uint64_t, 3> key{
        reinterpret_cast<std::uintptr_t>(&rows),
        mDocument->Rows(TARVO_FormsMaint::Grid::NewForms).version,
        static_cast<std::uint64_t>(rows.RecordCount())};
    if (key == mDraftKey) return;
    mDraftKey = key;
    std::string text = shell::DraftFile::RowsText(rows);
    if (text == mDraftRows) return;
    shell::DraftFile(mOptions.draftFile).Keep(rows, std::chrono::system_clock::now());
    mDraftRows = std::move(text);
  });
}

void ShellWindow::WatchExchanges() {
  if (mExchangeWatch) return;
  // The document has obtained the component on its first show; without one (no transport
  // configured) the light stays grey.
  Trap("ShellWindow.WatchExchanges", [&] {
    mComponent = MessageComponent::Obtain();
    mExchangeWatch = std::make_unique<ExchangeWatch>(*this);
    mComponent->AddListener(mExchangeWatch.get());
  });
}

void ShellWindow::FocusFirstGrid() {
  if (!mDocument || mView == nullptr || QApplication::activeModalWidget() != nullptr) return;
  TARVO_FormsMaint* document = mDocument.get();
  for (Control* control : document->TabOrder()) {
    if (control->Kind() != ControlKind::DataGrid || !control->IsUsable()) continue;
    mView->Forward(*control, "GotFocus", [document, control] { document->SetFocusTo(*control); });
    return;
  }
}

void ShellWindow::AfterSync() {
  UpdateSummary();
  KeepDraft();
}

void ShellWindow::UpdateSummary() {
  if (!mDocument) {
    mSummary->clear();
    return;
  }
  using Grid = TARVO_FormsMaint::Grid;
  const TARVO_FormsMaint& d = *mDocument;
  const auto added = d.Rows(Grid::NewForms);
  const bool newForms = added.shown;
  const auto ranges = newForms ? added : d.Rows(Grid::FormsAssignment);
  const auto officers = d.Rows(Grid::OfficerList);
  const bool troopers = !newForms && officers.shown;
  // Counting walks the rows: only when the grids shown or their rows changed.
  const std::array<std::uint64_t, 8> key{newForms,
                                         troopers,
                                         ranges.version,
                                         static_cast<std::uint64_t>(ranges.count),
                                         reinterpret_cast<std::uintptr_t>(ranges.rows.get()),
                                         officers.version,
                                         static_cast<std::uint64_t>(officers.count),
                                         1};
  if (key == mSummaryKey) return;
  mSummaryKey = key;
  shell::SearchTotals totals;
  Trap("ShellWindow.Summary", [&] {
    if (!ranges.rows) return;
    // The reasons as the grid's Status column reads them today, so a reason described anew
    // counts at once.
    const std::set<std::string> stock = shell::StockStatuses(shell::LocalCodeEntries("DELISTCD"));
    totals = shell::CountRanges(*ranges.rows, newForms ? nullptr : &stock);
  });
  totals.newRanges = newForms;
  if (troopers) totals.troopers = officers.count;
  mSummary->setText(ToQString(shell::SummaryText(totals)));
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
  // Without the document there is nothing to show of the exchanges.
  if (mComponent && mExchangeWatch) mComponent->RemoveListener(mExchangeWatch.get());
  mExchangeWatch.reset();
  mComponent.reset();
  // The view reads the document until its last moment: it goes first.
  if (mView != nullptr) {
    if (mArea != nullptr) mArea->takeWidget();
    delete mView;
    mView = nullptr;
  }
  if (mArea != nullptr) {
    if (centralWidget() == mArea) takeCentralWidget();
    delete mArea;
    mArea = nullptr;
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
  // The document agreed to close: its new ranges were saved, or the clerk gave them up.
  if (mKeepingDrafts) {
    Trap("ShellWindow.RemoveDraft", [&] { shell::DraftFile(mOptions.draftFile).Remove(); });
    mKeepingDrafts = false;
  }
  Notify(LifecycleStep::DocumentDestroyed);
  mClosing = false;
  event->accept();
}

}  // namespace fm::qt
