#include "qt/render/EditForwarding.h"

#include <QAction>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QWidget>

#include "qt/render/QtText.h"

namespace fm::qt {

namespace {

constexpr int kBackspaceKey = 8;
constexpr int kEnter = 13;

bool IsNavigation(const QKeyEvent& event) {
  static const QKeySequence::StandardKey kWidgetKeys[] = {
      QKeySequence::MoveToNextChar,
      QKeySequence::MoveToPreviousChar,
      QKeySequence::MoveToNextWord,
      QKeySequence::MoveToPreviousWord,
      QKeySequence::MoveToStartOfLine,
      QKeySequence::MoveToEndOfLine,
      QKeySequence::MoveToStartOfDocument,
      QKeySequence::MoveToEndOfDocument,
      QKeySequence::MoveToNextLine,
      QKeySequence::MoveToPreviousLine,
      QKeySequence::MoveToNextPage,
      QKeySequence::MoveToPreviousPage,
      QKeySequence::SelectNextChar,
      QKeySequence::SelectPreviousChar,
      QKeySequence::SelectNextWord,
      QKeySequence::SelectPreviousWord,
      QKeySequence::SelectStartOfLine,
      QKeySequence::SelectEndOfLine,
      QKeySequence::SelectStartOfDocument,
      QKeySequence::SelectEndOfDocument,
      QKeySequence::SelectNextLine,
      QKeySequence::SelectPreviousLine,
      QKeySequence::SelectNextPage,
      QKeySequence::SelectPreviousPage,
      QKeySequence::SelectAll,
      QKeySequence::Copy,
      QKeySequence::Deselect,
  };
  for (auto key : kWidgetKeys) {
    if (event.matches(key)) return true;
  }
  return false;
}

// Keys with which the widget would change the text behind the model's back.
bool IsUnsupportedEdit(const QKeyEvent& event) {
  static const QKeySequence::StandardKey kEdits[] = {
      QKeySequence::Undo,
      QKeySequence::Redo,
      QKeySequence::DeleteStartOfWord,
      QKeySequence::DeleteEndOfWord,
      QKeySequence::DeleteEndOfLine,
      QKeySequence::DeleteCompleteLine,
  };
  for (auto key : kEdits) {
    if (event.matches(key)) return true;
  }
  return false;
}

}  // namespace

EditForwarding::EditForwarding(std::unique_ptr<EditTarget> target, EditContext context)
    : mTarget(std::move(target)), mContext(std::move(context)) {}

EditForwarding::~EditForwarding() = default;

void EditForwarding::ShowModel(bool force) {
  const std::string& text = mTarget->Text();
  const int selStart = mTarget->SelStart();
  const int selLength = mTarget->SelLength();
  // The widget may have changed its own text behind our back (a combo box shows the item
  // it switched to), so its text is compared too.
  const QString shown = ToQString(text);
  const bool textChanged = !mShownOnce || text != mShownText || WidgetText() != shown;
  const bool selectionMoved = selStart != mShownSelStart || selLength != mShownSelLength;
  ShowProperties(static_cast<int>(shown.size()));
  if (!force && !textChanged && !selectionMoved) return;
  const int start = ToWidgetPosition(shown, selStart);
  const int end = ToWidgetPosition(shown, selStart + selLength);
  ShowInWidget(shown, start, end - start);
  mShownText = text;
  mShownSelStart = selStart;
  mShownSelLength = selLength;
  mShownOnce = true;
}

void EditForwarding::Forward(const char* what, const std::function<void()>& action) {
  mContext.forward(what, [&] {
    const QString shown = WidgetText();
    int start = 0;
    int length = 0;
    WidgetSelection(start, length);
    const int modelStart = ToModelPosition(shown, start);
    const int modelEnd = ToModelPosition(shown, start + length);
    if (modelStart != mTarget->SelStart() || modelEnd - modelStart != mTarget->SelLength()) {
      mTarget->SetSelection(modelStart, modelEnd - modelStart);
    }
    action();
  });
  ShowModel(true);
}

void EditForwarding::TypeCodes(const char* what, const QString& text) {
  const auto codes = text.toUcs4();
  if (codes.isEmpty()) return;
  Forward(what, [&] {
    for (char32_t code : codes) mTarget->TypeKey(static_cast<int>(code));
  });
}

EditForwarding::KeyOutcome EditForwarding::HandleKey(QKeyEvent& event, bool multiLine) {
  if (event.matches(QKeySequence::Paste)) {
    PasteFrom(QClipboard::Clipboard);
    return KeyOutcome::Consumed;
  }
  if (event.matches(QKeySequence::Cut)) {
    CutSelection();
    return KeyOutcome::Consumed;
  }
  if (IsUnsupportedEdit(event)) return KeyOutcome::Consumed;

  const auto modifiers = event.modifiers();
  switch (event.key()) {
    case Qt::Key_Delete:
      Forward("Delete", [&] { mTarget->TypeDelete(); });
      return KeyOutcome::Consumed;
    case Qt::Key_Backspace:
      Forward("KeyPress", [&] { mTarget->TypeKey(kBackspaceKey); });
      return KeyOutcome::Consumed;
    case Qt::Key_Return:
    case Qt::Key_Enter: {
      // As on the original platform, Enter presses the form's default button when there
      // is one; only otherwise is it a key of the box (a line break in a multi-line box).
      const bool lineBreakWanted = multiLine && (modifiers & Qt::ControlModifier);
      Forward("Enter", [&] {
        if (lineBreakWanted || !mContext.pressDefault || !mContext.pressDefault()) {
          mTarget->TypeKey(kEnter);
        }
      });
      return KeyOutcome::Consumed;
    }
    case Qt::Key_Escape: {
      bool taken = false;
      if (mContext.pressCancel) {
        mContext.forward("Escape", [&] { taken = mContext.pressCancel(); });
      }
      return taken ? KeyOutcome::Consumed : KeyOutcome::Ignored;
    }
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      return KeyOutcome::Ignored;
    default:
      break;
  }

  if (IsNavigation(event)) return KeyOutcome::WidgetHandles;

  const QString text = event.text();
  const bool shortcutModifier = (modifiers & (Qt::ControlModifier | Qt::MetaModifier)) != 0;
  if (!text.isEmpty() && !shortcutModifier) {
    QString printable;
    for (QChar c : text) {
      if (c.unicode() >= 32 && c.unicode() != 127) printable += c;
    }
    if (!printable.isEmpty()) {
      TypeCodes("KeyPress", printable);
      return KeyOutcome::Consumed;
    }
  }
  return KeyOutcome::Ignored;
}

void EditForwarding::PasteFrom(QClipboard::Mode mode) {
  const QClipboard* clipboard = QGuiApplication::clipboard();
  if (clipboard == nullptr) return;
  if (mode == QClipboard::Selection && !clipboard->supportsSelection()) return;
  PasteText(clipboard->text(mode));
}

void EditForwarding::PasteText(const QString& text) {
  if (text.isEmpty()) return;
  const std::string pasted = ToStdString(text);
  Forward("Paste", [&] { mTarget->Paste(pasted); });
}

void EditForwarding::CutSelection() {
  if (!WidgetHasSelection()) return;
  CopyWidgetSelection();
  if (mTarget->ReadOnly()) return;
  DeleteSelection();
}

void EditForwarding::DeleteSelection() {
  if (!WidgetHasSelection()) return;
  Forward("Delete", [&] { mTarget->TypeDelete(); });
}

void EditForwarding::TypeCommittedText(const QString& text) {
  QString printable;
  for (QChar c : text) {
    if (c.unicode() >= 32 && c.unicode() != 127) printable += c;
  }
  if (!printable.isEmpty()) TypeCodes("KeyPress", printable);
}

void EditForwarding::FillContextMenu(QMenu& menu, QWidget& widget) {
  const bool selection = WidgetHasSelection();
  const bool editable = !mTarget->ReadOnly() && widget.isEnabled();
  const QClipboard* clipboard = QGuiApplication::clipboard();
  const bool canPaste = clipboard != nullptr && !clipboard->text().isEmpty();

  QAction* cut = menu.addAction(QObject::tr("Cu&t"), [this] { CutSelection(); });
  cut->setEnabled(selection && editable);
  QAction* copy = menu.addAction(QObject::tr("&Copy"), [this] { CopyWidgetSelection(); });
  copy->setEnabled(selection);
  QAction* paste =
      menu.addAction(QObject::tr("&Paste"), [this] { PasteFrom(QClipboard::Clipboard); });
  paste->setEnabled(canPaste && editable);
  QAction* remove = menu.addAction(QObject::tr("&Delete"), [this] { DeleteSelection(); });
  remove->setEnabled(selection && editable);
  menu.addSeparator();
  QAction* all = menu.addAction(QObject::tr("Select &All"), [this] { SelectAllInWidget(); });
  all->setEnabled(!WidgetText().isEmpty());
}

}  // namespace fm::qt
