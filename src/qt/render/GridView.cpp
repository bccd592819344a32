#include "qt/render/GridView.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QItemSelection>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "base/DelimitedText.h"
#include "controls/DataGrid.h"
#include "controls/GridText.h"
#include "platform/AtomicFile.h"
#include "platform/ErrorTrap.h"
#include "platform/PlatformError.h"
#include "platform/Services.h"
#include "platform/UiServices.h"
#include "qt/render/GridTableModel.h"
#include "qt/render/QtText.h"

namespace fm::qt {

namespace {

DataGrid::ClickModifier ModifierOf(Qt::KeyboardModifiers modifiers) {
  if (modifiers & Qt::ShiftModifier) return DataGrid::ClickModifier::Shift;
  if (modifiers & Qt::ControlModifier) return DataGrid::ClickModifier::Ctrl;
  return DataGrid::ClickModifier::None;
}

}  // namespace

GridView::GridView(DataGrid& grid, Forward forward, QWidget* parent)
    : QWidget(parent),
      mGrid(&grid),
      mForward(std::move(forward)),
      mCaption(new QLabel(this)),
      mTable(new QTableView(this)),
      mModel(new GridTableModel(grid, this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(mCaption);
  layout->addWidget(mTable, 1);

  mCaption->setObjectName(QStringLiteral("gridCaption"));
  mCaption->setAlignment(Qt::AlignCenter);
  mCaption->setStyleSheet(QStringLiteral(
      "QLabel#gridCaption { background-color: #3c5a78; color: white; padding: 2px 4px; }"));

  mTable->setModel(mModel);
  // The grid decides what is selected; the view only shows it.
  mTable->setSelectionMode(QAbstractItemView::NoSelection);
  mTable->setSelectionBehavior(QAbstractItemView::SelectRows);
  mTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
  mTable->setTabKeyNavigation(false);
  mTable->setWordWrap(false);
  mTable->setTextElideMode(Qt::ElideRight);
  mTable->setCornerButtonEnabled(false);
  mTable->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

  QHeaderView* rows = mTable->verticalHeader();
  rows->setSectionResizeMode(QHeaderView::Fixed);
  rows->setDefaultSectionSize(mTable->fontMetrics().height() + 6);
  rows->setMinimumSectionSize(mTable->fontMetrics().height() + 2);
  rows->hide();

  QHeaderView* columns = mTable->horizontalHeader();
  columns->setSectionResizeMode(QHeaderView::Interactive);
  columns->setStretchLastSection(false);
  columns->setHighlightSections(false);
  columns->setSectionsClickable(true);
  columns->setSortIndicatorShown(true);
  columns->setSortIndicator(-1, Qt::AscendingOrder);
  connect(columns, &QHeaderView::sectionClicked, this, [this](int column) {
    if (column < 0 || column >= mGrid->ColumnCount()) return;
    RunForwarded("HeadClick", [&] { mGrid->SortByColumn(column); });
  });
  columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  connect(columns, &QHeaderView::sectionResized, this, [this](int column, int, int size) {
    if (mSyncingColumns || column < 0 || column >= mGrid->ColumnCount()) return;
    RunForwarded("ColumnResize", [&] { mGrid->Column(column).SetWidth(Twips(size)); });
  });

  mTable->installEventFilter(this);
  mTable->viewport()->installEventFilter(this);
  mTable->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(mTable, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { ShowContextMenu(at); });
  Sync();
}

namespace {
GridView::SaveFileChooser& Chooser() {
  static GridView::SaveFileChooser chooser;
  return chooser;
}
}  // namespace

void GridView::SetSaveFileChooser(SaveFileChooser chooser) { Chooser() = std::move(chooser); }

void GridView::CopySelectedRows() {
  RunForwarded("Copy", [&] {
    if (mGrid->SelectedCount() == 0) return;
    const std::string text = TabSeparated(GridText(*mGrid, GridRows::Selected, false));
    QGuiApplication::clipboard()->setText(ToQString(text));
  });
}

void GridView::ExportToCsv() {
  QString suggested = ToQString(mGrid->Caption()).trimmed();
  suggested.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]+")), QStringLiteral("-"));
  if (suggested.isEmpty()) suggested = QStringLiteral("grid");
  suggested += QStringLiteral(".csv");
  const QString path = AskSaveFile(this, suggested, tr("CSV files (*.csv);;All files (*)"));
  if (path.isEmpty()) return;
  RunForwarded("ExportToCsv", [&] {
    std::ostringstream out;
    CsvWriter csv(out);
    for (const auto& record : GridText(*mGrid, GridRows::All, true)) csv.WriteRecord(record);
    try {
      WriteFileAtomically(std::filesystem::path(path.toStdString()), out.str());
    } catch (const PlatformError& error) {
      Services::Ui().MessageBox(error.Description(), MsgBoxButtons::Ok, MsgBoxIcon::Exclamation,
                                ToStdString(window()->windowTitle()));
    }
  });
}

QString GridView::AskSaveFile(QWidget* parent, const QString& suggested, const QString& filter) {
  return Chooser() ? Chooser()(parent, suggested)
                   : QFileDialog::getSaveFileName(parent, tr("Save as"), suggested, filter);
}

void GridView::AddContextAction(const QString& text, std::function<bool()> enabled,
                                std::function<void()> run) {
  mContextActions.push_back({text, std::move(enabled), std::move(run)});
}

bool GridView::RunContextAction(const QString& text) {
  for (const auto& action : mContextActions) {
    if (action.text != text || !action.enabled()) continue;
    action.run();
    return true;
  }
  return false;
}

void GridView::ShowContextMenu(const QPoint& at) {
  QMenu menu(this);
  QAction* copy = menu.addAction(tr("Copy"), this, [this] { CopySelectedRows(); });
  copy->setShortcut(QKeySequence::Copy);
  copy->setEnabled(mGrid->SelectedCount() > 0);
  menu.addAction(tr("Export to CSV..."), this, [this] { ExportToCsv(); });
  if (!mContextActions.empty()) menu.addSeparator();
  for (const auto& action : mContextActions) {
    QAction* item = menu.addAction(action.text, this, action.run);
    item->setEnabled(action.enabled());
  }
  menu.exec(mTable->viewport()->mapToGlobal(at));
}

GridView::~GridView() = default;

void GridView::SetNormalAppearance(bool on) {
  mTable->setAlternatingRowColors(on);
  mTable->setStyleSheet(on ? QStringLiteral("QTableView { gridline-color: #c8d0d8; }") : QString());
}

void GridView::SetFontScale(double scale) {
  QFont font = QApplication::font(mTable);
  if (scale != 1.0) font.setPointSizeF(font.pointSizeF() * scale);
  if (font == mTable->font()) return;
  mTable->setFont(font);
  font.setBold(mCaption->font().bold());
  mCaption->setFont(font);
  QHeaderView* rows = mTable->verticalHeader();
  rows->setMinimumSectionSize(mTable->fontMetrics().height() + 2);
  rows->setDefaultSectionSize(mTable->fontMetrics().height() + 6);
}

void GridView::RunForwarded(const char* what, const std::function<void()>& action) {
  if (mForward) {
    mForward(what, action);
    return;
  }
  Trap(std::string("GridView.") + what, action);
  Sync();
}

void GridView::Sync() {
  if (!mGrid->Redraw()) {
    // The grid is being refilled: show nothing half-done.
    if (mTable->updatesEnabled()) mTable->setUpdatesEnabled(false);
    return;
  }
  if (!mTable->updatesEnabled()) mTable->setUpdatesEnabled(true);

  const QString caption = ToQString(mGrid->Caption());
  if (mCaption->text() != caption) mCaption->setText(caption);
  mCaption->setVisible(!caption.isEmpty());
  if (mCaption->font().bold() != mGrid->FontBold()) {
    QFont font = mCaption->font();
    font.setBold(mGrid->FontBold());
    mCaption->setFont(font);
  }

  mModel->Sync();
  SyncColumns();
  SyncSelection();
}

void GridView::SyncColumns() {
  mSyncingColumns = true;
  QHeaderView* header = mTable->horizontalHeader();
  for (int i = 0; i < mGrid->ColumnCount() && i < header->count(); ++i) {
    const DataGridColumn& column = mGrid->Column(i);
    const bool hidden = !column.Visible();
    if (mTable->isColumnHidden(i) != hidden) mTable->setColumnHidden(i, hidden);
    // A hidden section reports no size; its width is applied when it shows again.
    const int width = Pixels(column.Width());
    if (!hidden && header->sectionSize(i) != width) header->resizeSection(i, width);
  }
  const Qt::SortOrder order = mGrid->SortDescending() ? Qt::DescendingOrder : Qt::AscendingOrder;
  if (header->sortIndicatorSection() != mGrid->SortColumn() ||
      header->sortIndicatorOrder() != order) {
    header->setSortIndicator(mGrid->SortColumn(), order);
  }
  mSyncingColumns = false;
}

void GridView::SyncSelection() {
  QItemSelectionModel* selectionModel = mTable->selectionModel();
  if (selectionModel == nullptr) return;
  const int rowCount = mModel->rowCount();
  const int lastColumn = mModel->columnCount() - 1;

  std::vector<int> rows;
  rows.reserve(mGrid->SelectedBookmarks().size());
  for (DataGrid::Bookmark bookmark : mGrid->SelectedBookmarks()) {
    const long index = mGrid->IndexOf(bookmark);
    if (index >= 0 && index < rowCount) rows.push_back(static_cast<int>(index));
  }
  std::sort(rows.begin(), rows.end());

  QItemSelection selection;
  for (std::size_t i = 0; i < rows.size() && lastColumn >= 0;) {
    std::size_t j = i;
    while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1) ++j;
    selection.select(mModel->index(rows[i], 0), mModel->index(rows[j], lastColumn));
    i = j + 1;
  }
  if (selection != selectionModel->selection()) {
    selectionModel->select(selection, QItemSelectionModel::ClearAndSelect);
  }

  const long current = mGrid->CurrentRowIndex();
  if (current >= 0 && current < rowCount && lastColumn >= 0) {
    if (selectionModel->currentIndex().row() != static_cast<int>(current)) {
      int column = 0;
      while (column < lastColumn && mTable->isColumnHidden(column)) ++column;
      selectionModel->setCurrentIndex(mModel->index(static_cast<int>(current), column),
                                      QItemSelectionModel::NoUpdate);
    }
  } else if (selectionModel->currentIndex().isValid()) {
    selectionModel->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
  }
}

void GridView::ClickRow(int row, Qt::KeyboardModifiers modifiers) {
  if (row < 0 || row >= mModel->rowCount()) return;
  RunForwarded("Click", [&] { mGrid->ClickRow(row, ModifierOf(modifiers)); });
}

bool GridView::HandleKey(int key, Qt::KeyboardModifiers modifiers) {
  const int rowCount = mModel->rowCount();
  if (rowCount == 0) return false;
  const long current = mGrid->CurrentRowIndex();
  const int page = std::max(1, mTable->viewport()->height() /
                                   std::max(1, mTable->verticalHeader()->defaultSectionSize()));
  int target = 0;
  switch (key) {
    case Qt::Key_Up:
      target = current < 0 ? 0 : static_cast<int>(current) - 1;
      break;
    case Qt::Key_Down:
      target = current < 0 ? 0 : static_cast<int>(current) + 1;
      break;
    case Qt::Key_PageUp:
      target = static_cast<int>(current) - page;
      break;
    case Qt::Key_PageDown:
      target = static_cast<int>(current) + page;
      break;
    case Qt::Key_Home:
      target = 0;
      break;
    case Qt::Key_End:
      target = rowCount - 1;
      break;
    case Qt::Key_Space:
      if (!(modifiers & Qt::ControlModifier) || current < 0) return false;
      ClickRow(static_cast<int>(current), Qt::ControlModifier);
      return true;
    default:
      return false;
  }
  target = std::clamp(target, 0, rowCount - 1);
  // Arrow keys move the selection as a click would; Shift extends it, Ctrl is not a
  // selection key here.
  ClickRow(target, modifiers & Qt::ShiftModifier);
  return true;
}

bool GridView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == mTable->viewport()) {
    switch (event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonDblClick: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton) return false;
        const QModelIndex index = mTable->indexAt(mouse->position().toPoint());
        if (index.isValid()) ClickRow(index.row(), mouse->modifiers());
        return true;
      }
      case QEvent::MouseMove:
      case QEvent::MouseButtonRelease:
        // No drag selection: the grid's selection is made of clicks.
        return static_cast<QMouseEvent*>(event)->buttons() != Qt::NoButton ||
               event->type() == QEvent::MouseButtonRelease;
      default:
        return false;
    }
  }
  if (watched == mTable && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->matches(QKeySequence::Copy)) {
      CopySelectedRows();
      return true;
    }
    return HandleKey(key->key(), key->modifiers());
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace fm::qt
