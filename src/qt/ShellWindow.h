#pragma once

#include <QMainWindow>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

class QAction;
class QLabel;

namespace fm {
class TARVO_FormsMaint;
}

namespace fm::qt {

class FormView;
class QtHostFrame;

// The host shell's main window: it creates the forms-maintenance document, shows it as its
// central widget and plays the host's part of the document's contract.
//
// - Caption and tag: the window's title is the message title the document takes for its
//   message boxes; the tag goes with the document's toolbar calls.
// - Status bar: the document's status texts on the left; on the right the second status,
//   the connection indicator (where the requests go: the embedded inventory or a server).
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
  QtHostFrame& HostFrame() const { return *mFrame; }
  // The action of a toolbar item (7, 8, 9, 12, 14); nullptr for others.
  QAction* ToolbarItem(int item) const;
  QLabel& StatusLabel() const { return *mStatus; }
  QLabel& ConnectionLabel() const { return *mConnection; }
  QAction& CloseAction() const { return *mCloseAction; }

  // Told of each step of closing, in order.
  void SetLifecycleObserver(std::function<void(LifecycleStep)> observer) {
    mLifecycleObserver = std::move(observer);
  }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildToolbarAndMenu();
  void RunDocumentOperation(const char* what, void (TARVO_FormsMaint::*operation)());
  void Notify(LifecycleStep step);
  void DestroyDocument();

  Options mOptions;
  std::unique_ptr<TARVO_FormsMaint> mDocument;
  FormView* mView = nullptr;
  std::shared_ptr<QtHostFrame> mFrame;
  QLabel* mStatus;
  QLabel* mConnection;
  std::map<int, QAction*> mItems;
  QAction* mCloseAction = nullptr;
  bool mClosing = false;
  std::function<void(LifecycleStep)> mLifecycleObserver;
};

}  // namespace fm::qt
