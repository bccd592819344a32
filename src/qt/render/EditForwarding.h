#pragma once

#include <QClipboard>
#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "qt/render/EditTarget.h"

class QKeyEvent;
class QMenu;
class QWidget;

namespace fm::qt {

// The part of an edit widget that makes it a view of a model text: every key that would
// change the text goes to the model (KeyPress first, so a handler may refuse or change the
// character), pastes go to the model's Paste, Delete to its TypeDelete; afterwards the
// widget shows the model's text and caret. Caret moves and selections stay in the widget
// until the next edit, which first hands them to the model.
//
// Mixed into ModelLineEdit and ModelTextEdit, which supply the widget access.
class EditForwarding {
 public:
  EditForwarding(std::unique_ptr<EditTarget> target, EditContext context);
  virtual ~EditForwarding();
  EditForwarding(const EditForwarding&) = delete;
  EditForwarding& operator=(const EditForwarding&) = delete;

  EditTarget& Target() const { return *mTarget; }

  // Shows the model's text, and its caret and selection when the model moved them since
  // they were last shown (so a caret the user moved is left alone). `force` shows both.
  void ShowModel(bool force = false);

 protected:
  enum class KeyOutcome {
    Consumed,       // handled here (forwarded to the model, or dropped on purpose)
    WidgetHandles,  // caret movement, selection, copy: the widget's own handling
    Ignored,        // not an edit key: let the parent see it
  };
  KeyOutcome HandleKey(QKeyEvent& event, bool multiLine);
  void PasteFrom(QClipboard::Mode mode);
  void PasteText(const QString& text);
  void CutSelection();
  void DeleteSelection();
  void TypeCommittedText(const QString& text);
  // The edit menu: the model's own operations (no undo: the model keeps no history).
  void FillContextMenu(QMenu& menu, QWidget& widget);

  virtual QString WidgetText() const = 0;
  // In UTF-16 units of WidgetText().
  virtual void WidgetSelection(int& start, int& length) const = 0;
  virtual bool WidgetHasSelection() const = 0;
  virtual void CopyWidgetSelection() = 0;
  virtual void SelectAllInWidget() = 0;
  // Replaces the text when it differs, then places the caret (and selection).
  virtual void ShowInWidget(const QString& text, int start, int length) = 0;
  // Read-only state and length limit, for a text of `textLength` units.
  virtual void ShowProperties(int textLength) = 0;

 private:
  // Hands the widget's caret and selection to the model, runs `action` through the view's
  // forwarding (error trap and view update), then shows the outcome.
  void Forward(const char* what, const std::function<void()>& action);
  void TypeCodes(const char* what, const QString& text);

  std::unique_ptr<EditTarget> mTarget;
  EditContext mContext;
  // What the widget was last given, to tell the model's moves from the user's.
  std::string mShownText;
  int mShownSelStart = -1;
  int mShownSelLength = -1;
  bool mShownOnce = false;
};

}  // namespace fm::qt
