#include "controls/DataGrid.h"

#include <fmt/format.h>

#include <algorithm>

#include "base/Text.h"
#include "platform/PlatformError.h"

namespace fm {
namespace {
constexpr const char* kUnboldStyleSet = "UNBOLD";
}  // namespace

// ---------------------------------------------------------------- GridStyleSet

void GridStyleSet::SetBold(bool bold) {
  if (bold == mBold) return;
  mBold = bold;
  mGrid->Touch();
}

// ---------------------------------------------------------------- DataGridColumn

DataGridColumn::DataGridColumn(DataGrid& grid, int index, std::string caption, std::string key,
                               std::string dataField, bool visible, int width)
    : mGrid(&grid),
      mIndex(index),
      mCaption(std::move(caption)),
      mKey(std::move(key)),
      mDataField(std::move(dataField)),
      mVisible(visible),
      mWidth(width) {}

void DataGridColumn::Changed() { mGrid->Touch(); }

void DataGridColumn::SetCaption(std::string caption) {
  if (caption == mCaption) return;
  mCaption = std::move(caption);
  Changed();
}

void DataGridColumn::SetDataField(std::string dataField) {
  if (dataField == mDataField) return;
  mDataField = std::move(dataField);
  mGrid->ResolveField(*this);
  Changed();
}

void DataGridColumn::SetVisible(bool visible) {
  if (visible == mVisible) return;
  mVisible = visible;
  Changed();
}

void DataGridColumn::SetWidth(int width) {
  if (width < 0) {
    throw PlatformError(PlatformError::kGeneric,
                        fmt::format("Invalid width {} for column {} of {}: a width cannot be "
                                    "negative",
                                    width, mKey, mGrid->Name()));
  }
  if (width == mWidth) return;
  mWidth = width;
  Changed();
}

void DataGridColumn::SetStyleSet(std::string name) {
  mGrid->CheckStyleSet(*this, name);
  if (name == mStyleSet) return;
  mStyleSet = std::move(name);
  Changed();
}

void DataGridColumn::SetHeadStyleSet(std::string name) {
  mGrid->CheckStyleSet(*this, name);
  if (name == mHeadStyleSet) return;
  mHeadStyleSet = std::move(name);
  Changed();
}

std::string DataGridColumn::Text() const {
  const auto row = mGrid->ContextRow();
  if (!row) return {};
  return mGrid->CellTextAtIndex(mGrid->CheckedIndex(*row), *row, mIndex);
}

void DataGridColumn::SetText(std::string text) {
  const auto row = mGrid->ContextRow();
  if (!row) {
    throw PlatformError(PlatformError::kNoCurrentRow,
                        fmt::format("Cannot set column {} of {}: the grid has no current row", mKey,
                                    mGrid->Name()));
  }
  mGrid->SetCell(*row, mKey, std::move(text));
}

// ---------------------------------------------------------------- DataGrid

DataGrid::DataGrid(const Site& site) : Control(site) {
  mStyleSets.push_back(std::make_unique<GridStyleSet>(*this, kUnboldStyleSet));
}

DataGrid::~DataGrid() {
  if (mBinding) std::erase(mBinding->grids, this);
}

void DataGrid::SetCaption(std::string caption) {
  if (caption == mCaption) return;
  mCaption = std::move(caption);
  NotifyChanged();
}

// --- Data

void DataGrid::SetDataSource(DataControl* source) {
  if (source != nullptr && &source->Owner() != &Owner()) {
    throw PlatformError(PlatformError::kGeneric,
                        fmt::format("{} cannot be bound to {}, a data control of another form",
                                    Name(), source->Name()));
  }
  if (mBinding) std::erase(mBinding->grids, this);
  mSource = source;
  mBinding = source != nullptr ? source->GetBinding() : nullptr;
  if (mBinding) mBinding->grids.push_back(this);
  Rebind();
}

void DataGrid::DetachFromSource() {
  mSource = nullptr;
  mBinding.reset();
  Rebind();
}

std::shared_ptr<Recordset> DataGrid::RecordsetPtr() const { return mRecordset; }

void DataGrid::Rebind() {
  mRecordset = mBinding ? mBinding->recordset : nullptr;
  // Bookmarks of different record sets may coincide: nothing computed for the old rows
  // may show in the new ones, whatever the redraw state.
  mRows.clear();
  mLoadedCount = 0;
  mSelected.clear();
  mAnchor.reset();
  mRefreshPending = false;
  ResolveFields();
  // The clerk's sort holds for the next rows too.
  if (mSortColumn >= 0 && (!mRecordset || !ApplySort(Column(mSortColumn), mSortDescending))) {
    mSortColumn = -1;
  }
  ++mDataVersion;
  NotifyChanged();
}

bool DataGrid::ApplySort(const DataGridColumn& column, bool descending) {
  if (!mRecordset) return false;
  const std::string& fields =
      column.SortFields().empty() ? column.DataField() : column.SortFields();
  std::string sort;
  std::size_t start = 0;
  while (start <= fields.size()) {
    const std::size_t comma = std::min(fields.find(',', start), fields.size());
    const std::string field = text::Trim(fields.substr(start, comma - start));
    if (field.empty() || mRecordset->FindField(field) < 0) return false;
    if (!sort.empty()) sort += ", ";
    sort += field + (descending ? " DESC" : " ASC");
    start = comma + 1;
  }
  mRecordset->SetSort(sort);
  return true;
}

bool DataGrid::SortByColumn(int index) {
  const DataGridColumn& column = Column(index);
  const bool descending = mSortColumn == index && !mSortDescending;
  if (!ApplySort(column, descending)) return false;
  mSortColumn = index;
  mSortDescending = descending;
  // The rows stand in another order; what was loaded, computed and selected stays.
  ++mDataVersion;
  NotifyChanged();
  return true;
}

void DataGrid::ResolveField(DataGridColumn& column) {
  column.mFieldIndex =
      (mRecordset && column.IsBound()) ? mRecordset->FindField(column.DataField()) : -1;
}

void DataGrid::ResolveFields() {
  for (auto& column : mColumns) ResolveField(*column);
}

// --- Columns

DataGridColumn& DataGrid::AddColumn(std::string caption, std::string key, std::string dataField,
                                    bool visible, int width) {
  if (key.empty()) {
    throw PlatformError(PlatformError::kGeneric, fmt::format("A column of {} needs a key", Name()));
  }
  if (width < 0) {
    throw PlatformError(PlatformError::kGeneric,
                        fmt::format("Invalid width {} for column {} of {}: a width cannot be "
                                    "negative",
                                    width, key, Name()));
  }
  auto column =
      std::make_unique<DataGridColumn>(*this, ColumnCount(), std::move(caption), std::move(key),
                                       std::move(dataField), visible, width);
  ResolveField(*column);
  mColumns.push_back(std::move(column));
  // The renderer's table model changes shape.
  ++mDataVersion;
  NotifyChanged();
  return *mColumns.back();
}

DataGridColumn& DataGrid::Column(int index) const {
  if (index < 0 || index >= ColumnCount()) {
    throw PlatformError(PlatformError::kItemNotFound, fmt::format("{} has no column {} (it has {})",
                                                                  Name(), index, ColumnCount()));
  }
  return *mColumns[static_cast<std::size_t>(index)];
}

DataGridColumn* DataGrid::FindColumn(std::string_view key) const {
  for (const auto& column : mColumns) {
    if (text::EqualsNoCase(column->Key(), key)) return column.get();
  }
  return nullptr;
}

DataGridColumn& DataGrid::Column(std::string_view key) const {
  DataGridColumn* column = FindColumn(key);
  if (column == nullptr) {
    throw PlatformError(PlatformError::kItemNotFound,
                        fmt::format("{} has no column with the key \"{}\"", Name(), key));
  }
  return *column;
}

DataGridColumn* DataGrid::FindColumnByCaption(std::string_view caption) const {
  for (const auto& column : mColumns) {
    if (column->Caption() == caption) return column.get();
  }
  return nullptr;
}

// --- Style sets

GridStyleSet* DataGrid::FindStyleSet(std::string_view name) const {
  for (const auto& set : mStyleSets) {
    if (text::EqualsNoCase(set->Name(), name)) return set.get();
  }
  return nullptr;
}

GridStyleSet& DataGrid::AddStyleSet(std::string name) {
  if (name.empty() || FindStyleSet(name) != nullptr) {
    throw PlatformError(PlatformError::kGeneric,
                        name.empty()
                            ? fmt::format("A style set of {} needs a name", Name())
                            : fmt::format("{} already has a style set named \"{}\"", Name(), name));
  }
  mStyleSets.push_back(std::make_unique<GridStyleSet>(*this, std::move(name)));
  NotifyChanged();
  return *mStyleSets.back();
}

GridStyleSet& DataGrid::StyleSet(std::string_view name) const {
  GridStyleSet* set = FindStyleSet(name);
  if (set == nullptr) {
    throw PlatformError(PlatformError::kItemNotFound,
                        fmt::format("{} has no style set named \"{}\"", Name(), name));
  }
  return *set;
}

void DataGrid::CheckStyleSet(const DataGridColumn& column, const std::string& name) const {
  if (!name.empty() && FindStyleSet(name) == nullptr) {
    throw PlatformError(PlatformError::kItemNotFound,
                        fmt::format("Column {} of {} cannot use the style set \"{}\": the grid "
                                    "has no such style set",
                                    column.Key(), Name(), name));
  }
}

bool DataGrid::CellBold(int column) const {
  const auto& name = Column(column).StyleSet();
  return name.empty() ? FontBold() : StyleSet(name).Bold();
}

bool DataGrid::HeadingBold(int column) const {
  const auto& name = Column(column).HeadStyleSet();
  return name.empty() ? FontBold() : StyleSet(name).Bold();
}

// --- Display

void DataGrid::SetRedraw(bool redraw) {
  if (redraw == mRedraw) return;
  mRedraw = redraw;
  if (mRedraw && mRefreshPending) {
    DoRefresh();
  } else {
    NotifyChanged();
  }
}

void DataGrid::Refresh() {
  if (!mRedraw) {
    mRefreshPending = true;
    return;
  }
  DoRefresh();
}

void DataGrid::DoRefresh() {
  mRefreshPending = false;
  mRows.clear();
  mLoadedCount = 0;
  // The record set may have lost rows (deleted, filtered out) since they were selected.
  if (mRecordset) {
    std::erase_if(mSelected, [&](Bookmark b) { return mRecordset->IndexOf(b) < 0; });
  } else {
    mSelected.clear();
  }
  if (mAnchor && (!mRecordset || mRecordset->IndexOf(*mAnchor) < 0)) mAnchor.reset();
  ResolveFields();
  ++mDataVersion;
  NotifyChanged();
}

// --- Rows

long DataGrid::RowCount() const { return mRecordset ? mRecordset->RecordCount() : 0; }

void DataGrid::CheckRowIndex(long rowIndex) const {
  if (rowIndex < 0 || rowIndex >= RowCount()) {
    throw PlatformError(
        PlatformError::kNoCurrentRow,
        fmt::format("{} has no row {} (it shows {} rows)", Name(), rowIndex, RowCount()));
  }
}

void DataGrid::LoadRows(long first, long count) {
  if (first < 0 || count < 0) {
    throw PlatformError(
        PlatformError::kGeneric,
        fmt::format("Invalid rows to load from {}: first row {}, count {}", Name(), first, count));
  }
  const long end = std::min(RowCount(), first + count);
  for (long index = first; index < end; ++index) {
    // The record set may shrink under a handler's feet.
    if (index >= RowCount()) break;
    const Bookmark bookmark = mRecordset->BookmarkAt(index);
    RowState& row = mRows[bookmark];
    if (row.loaded) continue;
    // Marked first, so that a handler reading or loading rows cannot raise it again.
    row.loaded = true;
    ++mLoadedCount;
    mLoading.push_back(bookmark);
    struct LoadingGuard {
      std::vector<Bookmark>& loading;
      ~LoadingGuard() { loading.pop_back(); }
    } guard{mLoading};
    RowLoaded.Emit(bookmark);
  }
}

bool DataGrid::IsRowLoaded(Bookmark bookmark) const {
  const auto it = mRows.find(bookmark);
  return it != mRows.end() && it->second.loaded;
}

long DataGrid::LoadedRowCount() const { return mLoadedCount; }

DataGrid::Bookmark DataGrid::BookmarkAt(long rowIndex) const {
  CheckRowIndex(rowIndex);
  return mRecordset->BookmarkAt(rowIndex);
}

long DataGrid::IndexOf(Bookmark bookmark) const {
  return mRecordset ? mRecordset->IndexOf(bookmark) : -1;
}

long DataGrid::CheckedIndex(Bookmark bookmark) const {
  const long index = IndexOf(bookmark);
  if (index < 0) {
    throw PlatformError(
        PlatformError::kNoCurrentRow,
        fmt::format("{} does not show a row with the bookmark {}", Name(), bookmark));
  }
  return index;
}

// --- Cells

const std::string* DataGrid::ComputedCell(Bookmark bookmark, int column) const {
  const auto it = mRows.find(bookmark);
  if (it == mRows.end()) return nullptr;
  for (const auto& [index, value] : it->second.cells) {
    if (index == column) return &value;
  }
  return nullptr;
}

std::string DataGrid::CellTextAtIndex(long rowIndex, Bookmark bookmark, int column) const {
  if (const std::string* computed = ComputedCell(bookmark, column)) return *computed;
  const int field = mColumns[static_cast<std::size_t>(column)]->FieldIndex();
  if (field < 0) return {};
  return mRecordset->ValueAt(rowIndex, field).ToText();
}

std::string DataGrid::CellText(Bookmark bookmark, std::string_view key) const {
  const int column = Column(key).Index();
  return CellTextAtIndex(CheckedIndex(bookmark), bookmark, column);
}

std::string DataGrid::CellTextAt(long rowIndex, std::string_view key) const {
  const int column = Column(key).Index();
  CheckRowIndex(rowIndex);
  return CellTextAtIndex(rowIndex, mRecordset->BookmarkAt(rowIndex), column);
}

std::string DataGrid::CellTextAt(long rowIndex, int column) const {
  Column(column);  // checks the index
  CheckRowIndex(rowIndex);
  return CellTextAtIndex(rowIndex, mRecordset->BookmarkAt(rowIndex), column);
}

std::string DataGrid::BoundText(Bookmark bookmark, std::string_view key) const {
  const int field = Column(key).FieldIndex();
  const long index = CheckedIndex(bookmark);
  return field < 0 ? std::string() : mRecordset->ValueAt(index, field).ToText();
}

void DataGrid::SetCell(Bookmark bookmark, std::string_view key, std::string value) {
  const int column = Column(key).Index();
  CheckedIndex(bookmark);
  auto& cells = mRows[bookmark].cells;
  for (auto& [index, existing] : cells) {
    if (index == column) {
      if (existing == value) return;
      existing = std::move(value);
      NotifyChanged();
      return;
    }
  }
  cells.emplace_back(column, std::move(value));
  NotifyChanged();
}

std::optional<DataGrid::Bookmark> DataGrid::ContextRow() const {
  if (!mLoading.empty()) return mLoading.back();
  if (HasCurrentRow()) return CurrentBookmark();
  return std::nullopt;
}

// --- Current row

void DataGrid::ThrowNoRecordset(const char* what) const {
  throw PlatformError(PlatformError::kNoCurrentRow,
                      fmt::format("Cannot {} in {}: the grid shows no record set", what, Name()));
}

bool DataGrid::HasCurrentRow() const {
  return mRecordset && mRecordset->HasCurrentRow() &&
         mRecordset->IndexOf(mRecordset->GetBookmark()) >= 0;
}

DataGrid::Bookmark DataGrid::CurrentBookmark() const {
  if (!HasCurrentRow()) {
    throw PlatformError(PlatformError::kNoCurrentRow, fmt::format("{} has no current row", Name()));
  }
  return mRecordset->GetBookmark();
}

void DataGrid::SetCurrentBookmark(Bookmark bookmark) {
  if (!mRecordset) ThrowNoRecordset("choose a current row");
  CheckedIndex(bookmark);
  mRecordset->SetBookmark(bookmark);
  NotifyChanged();
}

long DataGrid::CurrentRowIndex() const {
  return HasCurrentRow() ? mRecordset->IndexOf(mRecordset->GetBookmark()) : -1;
}

void DataGrid::SetCurrentRowIndex(long rowIndex) {
  CheckRowIndex(rowIndex);
  SetCurrentBookmark(mRecordset->BookmarkAt(rowIndex));
}

void DataGrid::MoveFirst() {
  if (!mRecordset || mRecordset->RecordCount() == 0) return;
  mRecordset->MoveFirst();
  NotifyChanged();
}

// --- Selection

bool DataGrid::IsSelected(Bookmark bookmark) const {
  return std::find(mSelected.begin(), mSelected.end(), bookmark) != mSelected.end();
}

void DataGrid::SelectRow(Bookmark bookmark) {
  CheckedIndex(bookmark);
  if (IsSelected(bookmark)) return;
  mSelected.push_back(bookmark);
  NotifyChanged();
}

void DataGrid::DeselectRow(Bookmark bookmark) {
  const auto it = std::find(mSelected.begin(), mSelected.end(), bookmark);
  if (it == mSelected.end()) return;
  mSelected.erase(it);
  NotifyChanged();
}

void DataGrid::ClearSelection() {
  if (mSelected.empty()) return;
  mSelected.clear();
  NotifyChanged();
}

bool DataGrid::ClickRow(long rowIndex, ClickModifier modifier) {
  CheckRowIndex(rowIndex);
  if (!IsUsable()) return false;
  const Bookmark bookmark = mRecordset->BookmarkAt(rowIndex);
  switch (modifier) {
    case ClickModifier::None:
      mSelected.assign(1, bookmark);
      mAnchor = bookmark;
      break;
    case ClickModifier::Ctrl:
      if (IsSelected(bookmark)) {
        std::erase(mSelected, bookmark);
      } else {
        mSelected.push_back(bookmark);
      }
      mAnchor = bookmark;
      break;
    case ClickModifier::Shift: {
      long anchorIndex = mAnchor ? IndexOf(*mAnchor) : -1;
      if (anchorIndex < 0) {
        anchorIndex = rowIndex;
        mAnchor = bookmark;
      }
      mSelected.clear();
      const long step = anchorIndex <= rowIndex ? 1 : -1;
      for (long i = anchorIndex;; i += step) {
        mSelected.push_back(mRecordset->BookmarkAt(i));
        if (i == rowIndex) break;
      }
      break;
    }
  }
  mRecordset->SetBookmark(bookmark);
  NotifyChanged();
  Click.Emit();
  return true;
}

}  // namespace fm
