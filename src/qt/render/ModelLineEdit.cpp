#include "qt/render/ModelLineEdit.h"

#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <algorithm>

namespace fm::qt {

namespace {
// QLineEdit's own default, meaning "no limit".
constexpr int kUnlimited = 32767;
}  // namespace

ModelLineEdit::ModelLineEdit(std::unique_ptr<EditTarget> target, EditContext context,
                             QWidget* parent)
    : QLineEdit(parent), EditForwarding(std::move(target), std::move(context)) {
  setAcceptDrops(false);
  setDragEnabled(false);
  ShowModel(true);
}

void ModelLineEdit::keyPressEvent(QKeyEvent* event) {
  switch (HandleKey(*event, false)) {
    case KeyOutcome::Consumed:
      event->accept();
      break;
    case KeyOutcome::WidgetHandles:
      QLineEdit::keyPressEvent(event);
      break;
    case KeyOutcome::Ignored:
      event->ignore();
      break;
  }
}

void ModelLineEdit::inputMethodEvent(QInputMethodEvent* event) {
  // Composition (pre-edit) text is not shown: only committed characters are keys.
  TypeCommittedText(event->commitString());
  event->accept();
}

void ModelLineEdit::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  FillContextMenu(menu, *this);
  menu.exec(event->globalPos());
}

void ModelLineEdit::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::MiddleButton) {
    event->accept();
    return;
  }
  QLineEdit::mousePressEvent(event);
}

void ModelLineEdit::mouseReleaseEvent(QMouseEvent* event) {
  // The X11 middle-button paste goes to the model like any paste.
  if (event->button() == Qt::MiddleButton) {
    PasteFrom(QClipboard::Selection);
    event->accept();
    return;
  }
  QLineEdit::mouseReleaseEvent(event);
}

QString ModelLineEdit::WidgetText() const { return text(); }

void ModelLineEdit::WidgetSelection(int& start, int& length) const {
  if (hasSelectedText()) {
    start = selectionStart();
    length = selectionLength();
  } else {
    start = cursorPosition();
    length = 0;
  }
}

bool ModelLineEdit::WidgetHasSelection() const { return hasSelectedText(); }

void ModelLineEdit::CopyWidgetSelection() { copy(); }

void ModelLineEdit::SelectAllInWidget() { selectAll(); }

void ModelLineEdit::ShowProperties(int textLength) {
  const int limit = Target().MaxLength() > 0 ? Target().MaxLength() : kUnlimited;
  // Text set by the screen's code may be longer than what a user may type. Setting the
  // limit sets the text again (and moves the caret), so only a new limit is set.
  const int wanted = std::max(limit, textLength);
  if (maxLength() != wanted) setMaxLength(wanted);
  if (isReadOnly() != Target().ReadOnly()) setReadOnly(Target().ReadOnly());
}

void ModelLineEdit::ShowInWidget(const QString& shown, int start, int length) {
  if (text() != shown) setText(shown);
  if (length > 0) {
    setSelection(start, length);
  } else {
    setCursorPosition(start);
  }
}

}  // namespace fm::qt
