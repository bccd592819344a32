#include "qt/render/ModelTextEdit.h"

#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QTextCursor>

namespace fm::qt {

namespace {

// Position in the widget's text (lines joined by LF) -> position in the model's (CR LF).
int ToCrLfPosition(const QString& widgetText, int position) {
  int breaks = 0;
  for (int i = 0; i < position && i < widgetText.size(); ++i) {
    if (widgetText.at(i) == QLatin1Char('\n')) ++breaks;
  }
  return position + breaks;
}

// The reverse: a CR of a CR LF pair counts for nothing.
int ToLfPosition(const QString& crLfText, int position) {
  int crs = 0;
  for (int i = 0; i < position && i < crLfText.size(); ++i) {
    if (crLfText.at(i) == QLatin1Char('\r') && i + 1 < crLfText.size() &&
        crLfText.at(i + 1) == QLatin1Char('\n')) {
      ++crs;
    }
  }
  return position - crs;
}

}  // namespace

ModelTextEdit::ModelTextEdit(std::unique_ptr<EditTarget> target, EditContext context,
                             QWidget* parent)
    : QPlainTextEdit(parent), EditForwarding(std::move(target), std::move(context)) {
  setAcceptDrops(false);
  setUndoRedoEnabled(false);
  ShowModel(true);
}

void ModelTextEdit::keyPressEvent(QKeyEvent* event) {
  switch (HandleKey(*event, true)) {
    case KeyOutcome::Consumed:
      event->accept();
      break;
    case KeyOutcome::WidgetHandles:
      QPlainTextEdit::keyPressEvent(event);
      break;
    case KeyOutcome::Ignored:
      event->ignore();
      break;
  }
}

void ModelTextEdit::inputMethodEvent(QInputMethodEvent* event) {
  TypeCommittedText(event->commitString());
  event->accept();
}

void ModelTextEdit::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  FillContextMenu(menu, *this);
  menu.exec(event->globalPos());
}

bool ModelTextEdit::canInsertFromMimeData(const QMimeData* source) const {
  return source != nullptr && source->hasText() && !Target().ReadOnly();
}

void ModelTextEdit::insertFromMimeData(const QMimeData* source) {
  if (source != nullptr && source->hasText()) PasteText(source->text());
}

QString ModelTextEdit::WidgetText() const {
  QString text = toPlainText();
  text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  return text;
}

void ModelTextEdit::WidgetSelection(int& start, int& length) const {
  const QString plain = toPlainText();
  const QTextCursor cursor = textCursor();
  const int from = ToCrLfPosition(plain, cursor.selectionStart());
  const int to = ToCrLfPosition(plain, cursor.selectionEnd());
  start = from;
  length = to - from;
}

bool ModelTextEdit::WidgetHasSelection() const { return textCursor().hasSelection(); }

void ModelTextEdit::CopyWidgetSelection() { copy(); }

void ModelTextEdit::SelectAllInWidget() { selectAll(); }

void ModelTextEdit::ShowProperties(int /*textLength*/) {
  if (isReadOnly() != Target().ReadOnly()) setReadOnly(Target().ReadOnly());
}

void ModelTextEdit::ShowInWidget(const QString& shown, int start, int length) {
  QString plain = shown;
  plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  if (toPlainText() != plain) setPlainText(plain);
  const int from = ToLfPosition(shown, start);
  const int to = ToLfPosition(shown, start + length);
  QTextCursor cursor = textCursor();
  cursor.setPosition(from);
  if (to > from) cursor.setPosition(to, QTextCursor::KeepAnchor);
  setTextCursor(cursor);
}

}  // namespace fm::qt
