#pragma once

#include <QMainWindow>
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

class QAction;
class QLabel;
class QPushButton;
class QScrollArea;

namespace fm {
class MessageComponent;
class Recordset;
class TARVO_FormsMaint;
}  // namespace fm

namespace fm::shell {
class SaveOverride;
class StockAlertWatch;
class TrooperReassignment;
}  // namespace fm::shell

namespace fm::qt {

class AccountabilityWindow;
class FormHistoryWindow;
class HandReceiptWindow;
class OverrideDialog;
class RecordUseWindow;
class StockOnHandWindow;
class PhysicalCountWindow;
class UnaccountedFormsWindow;
class UsageImportWindow;
class FormView;
class QtHostFrame;

// The host shell's main window: it creates the forms-maintenance document, shows it as its
// central widget and plays the host's part of the document's contract.
//
// - Caption and tag: the window's title is the message title the document takes for its
//   message boxes; the tag goes with the document's toolbar calls.
// - Document: the view in a scroll area, so that a window smaller than the form's least
//   size (a laptop at 200 %) scrolls the form rather than outgrowing the screen; the window
//   opens at the form's size where the screen has room, maximised where it has not.
// - Status bar: the document's status texts on the left; then what the grids shown hold,
//   in stock and delisted apart ("7 ranges, 375 forms in stock; 1 delisted (50 forms) · 8
//   troopers"); on the right the second status, the
//   connection indicator (where the requests go: the embedded inventory or a server), a
//   light that shows how the last exchange with the forms server ended (QtHostFrame).
// - Keyboard: after the document's search results arrive, the focus goes to the first grid
//   shown, so that the clerk can go through the ranges with the arrow keys at once.
// - Drafts (with Options::draftFile): the new ranges not yet saved are written to the draft
//   file whenever they change (none: the file is removed), so that they outlive a desktop
//   that dies. On opening, a draft left behind is offered back ("3 new ranges from your
//   last session were not saved. Restore them?"): Yes puts them into New Forms as Add Forms
//   would have, No drops them; a draft that cannot be read is set aside beside it and the
//   clerk is told. When the document agrees to close, its ranges were saved or given up,
//   and the draft goes.
// - Toolbar: the host's items, which the document switches (QtHostFrame):
//     7  Save              SaveData: sends the new ranges (also File > Save, Ctrl+S)
//     8  New               FileNew
//     9  Properties        EditProperties
//     12 Forms Assignment  LoadFormsAssignment
//     14 Duty Assignment   LoadDutyAssignment
//   Each item calls the document operation of the same name; the document keeps them off
//   while it is shown, apart from Save while new ranges are waiting.
// - Closing (the window's close button, File > Close, Ctrl+W): the shell asks
//   CloseDocument; when it answers false the window stays open. Otherwise it calls
//   BeforeUnload, destroys the document (its view first) and closes.
//
// - Accountability (windows of their own, each talking to the forms server through the
//   message component with an identity of its own): Tools > Form History (also on the
//   context menu of the Forms Assignment grid, for the selected range's From), Reports >
//   Accountability (for the station of the last search), each opened centred over this
//   window, and "Reassign all ranges of this
//   trooper..." on the context menu of the troopers grid, after which the document's last
//   search is run again when its criteria are still those of that search.
// - Uses of form numbers: File > Import Form Usage... (a file of uses, previewed first),
//   Tools > Record Use... (also on the context menu of the Forms Assignment grid, for the
//   selected range), after which the last search is run again as after a reassignment, so
//   that the remaining counts shown follow; Reports > Unaccounted Forms... (for the station
//   of the last search).
// - Stock: Reports > Stock on Hand... (for the station of the last search, run at once). After
//   each answer to the document's search or save of a Troop/District, the open stock alerts
//   of that station are asked for; while it has any, the status bar shows "Stock below
//   minimum: ..." as a button that opens the report of the station.
// - Physical counts: Tools > Physical Count... (for the station of the last search, its
//   counts listed at once).
//
// While the window lives it is the process's host frame (Services::SetHostFrame).
class ShellWindow final : public QMainWindow {
 public:
  struct Options {
    // The host window's caption (the document's message title) and tag.
    std::string caption = "Forms Maintenance";
    std::string tag = "FORMSMAINT";
    // What the connection indicator says while connected, e.g. "Embedded inventory".
    std::string connection = "Embedded inventory";
    // Where new ranges not yet saved are kept, so that a desktop that dies does not lose
    // them; empty: they are not kept.
    std::filesystem::path draftFile;
  };

  enum class LifecycleStep { CloseAsked, CloseRefused, BeforeUnload, DocumentDestroyed };

  explicit ShellWindow(Options options, QWidget* parent = nullptr);
  ~ShellWindow() override;

  // Creates the document, gives it the parent window and shows it the first time
  // (UserDocument_Show). A second call does nothing while a document is open.
  void OpenDocument();

  // nullptr before OpenDocument and after the document was closed.
  TARVO_FormsMaint* Document() const { return mDocument.get(); }
  FormView* DocumentView() const { return mView; }
  // What holds the view: it scrolls the document in a window smaller than the form's least
  // size. nullptr while no document is open.
  QScrollArea* DocumentArea() const { return mArea; }
  QtHostFrame& HostFrame() const { return *mFrame; }
  // The action of a toolbar item (7, 8, 9, 12, 14); nullptr for others.
  QAction* ToolbarItem(int item) const;
  QLabel& StatusLabel() const { return *mStatus; }
  QLabel& ConnectionLabel() const { return *mConnection; }
  QLabel& SummaryLabel() const { return *mSummary; }
  QAction& CloseAction() const { return *mCloseAction; }
  QAction& FormHistoryAction() const { return *mFormHistoryAction; }
  QAction& AccountabilityAction() const { return *mAccountabilityAction; }
  QAction& ImportUsageAction() const { return *mImportUsageAction; }
  QAction& RecordUseAction() const { return *mRecordUseAction; }
  QAction& UnaccountedAction() const { return *mUnaccountedAction; }
  QAction& StockAction() const { return *mStockAction; }
  QAction& PhysicalCountAction() const { return *mPhysicalCountAction; }
  // Hidden while the station last searched has no open stock alert.
  QPushButton& StockAlertButton() const { return *mStockAlert; }
  // Shown while the document's latest save was refused over an allotment limit that the
  // account may override; it opens OfferOverride.
  QPushButton& OverrideButton() const { return *mOverride; }
  // The dialog asking the reason to save the refused save again with an override; nullptr
  // when no refused save is on offer.
  OverrideDialog* OfferOverride();

  // The windows, created on first use and shown (raised when already open).
  FormHistoryWindow& OpenFormHistory();
  AccountabilityWindow& OpenAccountability();
  UsageImportWindow& OpenUsageImport();
  UnaccountedFormsWindow& OpenUnaccounted();
  // A new window with the clearance statement of the officer `registry`, asked for at once
  // (closing deletes it).
  UnaccountedFormsWindow& OpenClearance(std::int64_t registry);
  // A new window showing hand receipt `number` (closing deletes it).
  HandReceiptWindow& OpenHandReceipt(std::int64_t number);
  // Opened for `station` (empty: that of the last search) and run.
  StockOnHandWindow& OpenStockOnHand(const std::string& station = {});
  // Opened for the station of the last search, whose counts it lists.
  PhysicalCountWindow& OpenPhysicalCount();
  // The Record Use window for the range selected in the Forms Assignment grid (a new one
  // for each range); nullptr, said in the status bar, without a selected range.
  RecordUseWindow* RecordUseOfSelectedRange();
  // The history of the From of the range selected in the Forms Assignment grid.
  void ShowHistoryOfSelectedRange();
  // Reassigns the ranges of the trooper selected in the troopers grid.
  void ReassignSelectedTrooper();
  // nullptr until the first reassignment.
  shell::TrooperReassignment* Reassignment() const { return mReassignment.get(); }

  // Told of each step of closing, in order.
  void SetLifecycleObserver(std::function<void(LifecycleStep)> observer) {
    mLifecycleObserver = std::move(observer);
  }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  class ExchangeWatch;

  void BuildToolbarAndMenu();
  void WatchExchanges();
  void FocusFirstGrid();
  void AfterSync();
  void UpdateSummary();
  void OfferDraft();
  void RestoreDraft(const Recordset& rows);
  void KeepDraft();
  void RunDocumentOperation(const char* what, void (TARVO_FormsMaint::*operation)());
  void Notify(LifecycleStep step);
  void DestroyDocument();
  void AddGridActions();
  void RefreshDocumentSearch();
  void Present(QWidget& window);
  std::string LastStation() const;
  void AskStockAlerts();

  Options mOptions;
  std::unique_ptr<TARVO_FormsMaint> mDocument;
  FormView* mView = nullptr;
  QScrollArea* mArea = nullptr;
  std::shared_ptr<QtHostFrame> mFrame;
  QLabel* mStatus;
  QLabel* mConnection;
  QLabel* mSummary;
  std::array<std::uint64_t, 8> mSummaryKey{};
  // Drafts are kept once the draft left behind has been offered back.
  bool mKeepingDrafts = false;
  std::string mDraftRows;  // the rows last written, as DraftFile::RowsText
  std::array<std::uint64_t, 3> mDraftKey{};
  std::map<int, QAction*> mItems;
  QAction* mCloseAction = nullptr;
  QAction* mFormHistoryAction = nullptr;
  QAction* mAccountabilityAction = nullptr;
  QAction* mImportUsageAction = nullptr;
  QAction* mRecordUseAction = nullptr;
  QAction* mUnaccountedAction = nullptr;
  QAction* mStockAction = nullptr;
  QAction* mPhysicalCountAction = nullptr;
  QPushButton* mStockAlert;
  std::string mStockAlertStation;  // the station whose alerts the button shows
  std::unique_ptr<shell::StockAlertWatch> mStockAlertWatch;
  QPushButton* mOverride;
  std::unique_ptr<shell::SaveOverride> mSaveOverride;
  FormHistoryWindow* mFormHistory = nullptr;        // a child of the window, once opened
  AccountabilityWindow* mAccountability = nullptr;  // a child of the window, once opened
  UsageImportWindow* mUsageImport = nullptr;
  UnaccountedFormsWindow* mUnaccounted = nullptr;
  StockOnHandWindow* mStockOnHand = nullptr;
  PhysicalCountWindow* mPhysicalCount = nullptr;
  RecordUseWindow* mRecordUse = nullptr;  // the last range's
  std::unique_ptr<shell::TrooperReassignment> mReassignment;
  bool mClosing = false;
  std::function<void(LifecycleStep)> mLifecycleObserver;
  std::shared_ptr<MessageComponent> mComponent;
  std::unique_ptr<ExchangeWatch> mExchangeWatch;
};

}  // namespace fm::qt
