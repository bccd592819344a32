#include "qt/render/GridTableModel.h"

#include <QGuiApplication>
#include <algorithm>
#include <climits>

#include "controls/DataGrid.h"
#include "platform/ErrorTrap.h"
#include "qt/render/QtText.h"

namespace fm::qt {

namespace {

int ClampToInt(long value) { return static_cast<int>(std::clamp<long>(value, 0, INT_MAX)); }

}  // namespace

GridTableModel::GridTableModel(DataGrid& grid, QObject* parent)
    : QAbstractTableModel(parent), mGrid(&grid) {
  CaptureShape();
}

GridTableModel::~GridTableModel() = default;

void GridTableModel::CaptureShape() {
  mRowCount = ClampToInt(mGrid->RowCount());
  mColumnCount = mGrid->ColumnCount();
  mDataVersion = mGrid->DataVersion();
  mSeenVersion = mGrid->Version();
  mHeadings = ReadHeadings();
}

std::vector<GridTableModel::ColumnHeading> GridTableModel::ReadHeadings() const {
  std::vector<ColumnHeading> headings;
  headings.reserve(static_cast<std::size_t>(mGrid->ColumnCount()));
  for (int i = 0; i < mGrid->ColumnCount(); ++i) {
    headings.push_back({mGrid->Column(i).Caption(), mGrid->HeadingBold(i)});
  }
  return headings;
}

int GridTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : mRowCount;
}

int GridTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : mColumnCount;
}

bool GridTableModel::IsCell(const QModelIndex& index) const {
  return index.isValid() && index.model() == this && !index.parent().isValid() &&
         index.row() < mRowCount && index.column() < mColumnCount;
}

Qt::ItemFlags GridTableModel::flags(const QModelIndex& index) const {
  if (!IsCell(index)) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void GridTableModel::LoadRowIfNeeded(int row) const {
  const DataGrid::Bookmark bookmark = mGrid->BookmarkAt(row);
  if (mGrid->IsRowLoaded(bookmark)) return;
  const bool upToDate = mSeenVersion == mGrid->Version();
  mGrid->LoadRows(row, 1);
  // The cells the handler just filled are what the view is about to read: no change to
  // announce, unless something else was pending already.
  if (upToDate) mSeenVersion = mGrid->Version();
}

QFont GridTableModel::FontFor(bool bold) const {
  QFont font = QGuiApplication::font();
  font.setBold(bold);
  return font;
}

QVariant GridTableModel::data(const QModelIndex& index, int role) const {
  if (!IsCell(index)) return {};
  // The grid may have lost rows since the last reset; the next Sync catches up.
  if (index.row() >= mGrid->RowCount() || index.column() >= mGrid->ColumnCount()) return {};
  QVariant result;
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      Trap("GridTableModel.data", [&] {
        LoadRowIfNeeded(index.row());
        const std::string text = mGrid->CellTextAt(index.row(), index.column());
        if (role == Qt::DisplayRole || !text.empty()) result = ToQString(text);
      });
      break;
    case Qt::FontRole:
      Trap("GridTableModel.data", [&] { result = FontFor(mGrid->CellBold(index.column())); });
      break;
    default:
      break;
  }
  return result;
}

QVariant GridTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal) {
    if (section < 0 || section >= mColumnCount || section >= static_cast<int>(mHeadings.size())) {
      return {};
    }
    const ColumnHeading& heading = mHeadings[static_cast<std::size_t>(section)];
    if (role == Qt::DisplayRole) return ToQString(heading.caption);
    if (role == Qt::FontRole) return FontFor(heading.bold);
    return {};
  }
  if (section < 0 || section >= mRowCount) return {};
  if (role == Qt::DisplayRole) return section + 1;
  return {};
}

GridTableModel::Change GridTableModel::Sync() {
  const bool reshaped = mGrid->DataVersion() != mDataVersion ||
                        ClampToInt(mGrid->RowCount()) != mRowCount ||
                        mGrid->ColumnCount() != mColumnCount;
  if (reshaped) {
    beginResetModel();
    CaptureShape();
    endResetModel();
    return Change::Reset;
  }
  if (mGrid->Version() == mSeenVersion) return Change::None;
  mSeenVersion = mGrid->Version();

  std::vector<ColumnHeading> headings = ReadHeadings();
  if (headings != mHeadings) {
    mHeadings = std::move(headings);
    if (mColumnCount > 0) emit headerDataChanged(Qt::Horizontal, 0, mColumnCount - 1);
  }
  // Cells, fonts and selection: the view repaints what it shows, which is all it costs.
  if (mRowCount > 0 && mColumnCount > 0) {
    emit dataChanged(index(0, 0), index(mRowCount - 1, mColumnCount - 1));
  }
  return Change::Updated;
}

}  // namespace fm::qt
