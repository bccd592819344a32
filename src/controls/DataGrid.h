#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "controls/Control.h"
#include "controls/DataControl.h"
#include "controls/DataGridColumn.h"
#include "controls/GridStyleSet.h"
#include "controls/Signal.h"
#include "platform/Recordset.h"

namespace fm {

// A data grid bound through a data control to a record set.
//
// Rows are the record set's visible rows, in its order; a row is identified by the record
// set's bookmark. Rows are loaded on demand: the view (the renderer's table model, or a
// test) asks for them with LoadRows, and the grid raises RowLoaded exactly once for each
// row the first time it is loaded, with the row's bookmark. The handler fills the row's
// computed cells (SetCell, or a column's SetText). Loaded rows and their computed cells are
// kept until the next Refresh or re-bind; reading cells never loads a row, so rows that are
// never shown cost nothing.
//
// A cell reads the value the handler set for that row and column, if any (it may also
// override a bound column, as a status code shown as its description), else the column's
// bound field as text (null reads as the empty text; a field the record set lacks reads
// as the empty text, so a layout change never breaks the display).
//
// The current row is the record set's cursor, as with a bound grid of the original
// platform: moving one moves the other. Selected rows are a set of bookmarks, kept in the
// order they were selected; a re-bind clears it, a Refresh drops rows that are gone.
//
// Redraw: while it is off, Refresh is deferred until redraw is switched on again.
//
// Sorting (a click on a column heading) orders the record set itself, as a sort set by the
// screen's code would, so the rows and the record set keep one order and the current row
// stays the cursor's. Bookmarks do not change, so the selection, the current row and the
// computed cells stay with their rows. The sort holds for the record sets bound later.
//
// Errors: an unknown column key or style set, a row index out of range, or a bookmark of a
// row the grid does not show throws PlatformError naming the grid.
class DataGrid final : public Control {
 public:
  using Bookmark = Recordset::Bookmark;
  enum class ClickModifier { None, Ctrl, Shift };

  explicit DataGrid(const Site& site);
  ~DataGrid() override;

  ControlKind Kind() const override { return ControlKind::DataGrid; }
  bool CanFocus() const override { return true; }

  const std::string& Caption() const { return mCaption; }
  void SetCaption(std::string caption);

  // --- Data
  // Binds the grid to a data control (nullptr: to none) and shows its record set.
  void SetDataSource(DataControl* source);
  DataControl* DataSource() const { return mSource; }
  // The record set shown; nullptr when there is none.
  std::shared_ptr<Recordset> RecordsetPtr() const;

  // --- Columns
  DataGridColumn& AddColumn(std::string caption, std::string key, std::string dataField = {},
                            bool visible = true, int width = 1000);
  int ColumnCount() const { return static_cast<int>(mColumns.size()); }
  DataGridColumn& Column(int index) const;
  // By key, letter case ignored; the first column with that key.
  DataGridColumn& Column(std::string_view key) const;
  DataGridColumn* FindColumn(std::string_view key) const;
  // By caption, exactly; the first column with that caption.
  DataGridColumn* FindColumnByCaption(std::string_view caption) const;

  // --- Style sets. Every grid has "UNBOLD".
  GridStyleSet& AddStyleSet(std::string name);
  GridStyleSet& StyleSet(std::string_view name) const;  // letter case ignored
  GridStyleSet* FindStyleSet(std::string_view name) const;
  int StyleSetCount() const { return static_cast<int>(mStyleSets.size()); }
  // What the renderer draws bold: the column's (heading) style set, else the grid's font.
  bool CellBold(int column) const;
  bool HeadingBold(int column) const;

  // --- Display
  bool Redraw() const { return mRedraw; }
  void SetRedraw(bool redraw);
  // Forgets the loaded rows and computed cells, so that the view loads them again.
  void Refresh();
  // Orders the rows by a column: by its sort fields (numbers as numbers, texts ignoring
  // letter case), ascending, or descending when the grid is sorted by that column ascending
  // already. Answers false, and changes nothing, for a column with no field to sort by in
  // the record set (or no record set).
  bool SortByColumn(int column);
  // The column the rows are sorted by, -1 for none.
  int SortColumn() const { return mSortColumn; }
  bool SortDescending() const { return mSortDescending; }

  // Bumped whenever the rows must be fetched anew (re-bind, refresh, sort): the renderer
  // resets its table model when it changes.
  std::uint64_t DataVersion() const { return mDataVersion; }

  // --- Rows
  long RowCount() const;
  // Loads rows [first, first + count) that are not loaded yet, raising RowLoaded for each,
  // in order. Rows past the end are ignored.
  void LoadRows(long first, long count);
  bool IsRowLoaded(Bookmark bookmark) const;
  long LoadedRowCount() const;
  Bookmark BookmarkAt(long rowIndex) const;
  // -1 when the grid does not show that row.
  long IndexOf(Bookmark bookmark) const;

  // --- Cells
  std::string CellText(Bookmark bookmark, std::string_view key) const;
  std::string CellTextAt(long rowIndex, std::string_view key) const;
  std::string CellTextAt(long rowIndex, int column) const;
  // The bound field's value as text, ignoring any value set for the cell.
  std::string BoundText(Bookmark bookmark, std::string_view key) const;
  void SetCell(Bookmark bookmark, std::string_view key, std::string value);
  // The row being loaded inside a RowLoaded handler, else the current row.
  std::optional<Bookmark> ContextRow() const;

  // --- Current row (the record set's cursor)
  bool HasCurrentRow() const;
  Bookmark CurrentBookmark() const;  // throws without a current row
  void SetCurrentBookmark(Bookmark bookmark);
  long CurrentRowIndex() const;  // -1 without a current row
  void SetCurrentRowIndex(long rowIndex);
  // Makes the first row current; nothing happens when there are no rows.
  void MoveFirst();

  // --- Selection
  long SelectedCount() const { return static_cast<long>(mSelected.size()); }
  const std::vector<Bookmark>& SelectedBookmarks() const { return mSelected; }
  bool IsSelected(Bookmark bookmark) const;
  void SelectRow(Bookmark bookmark);
  void DeselectRow(Bookmark bookmark);
  void ClearSelection();

  // The user clicks a row: alone, it becomes the only selected row; with Ctrl its
  // selection toggles; with Shift the rows from the last row clicked without Shift to this
  // one become the selection. The row becomes current, then Click is raised. Ignored when
  // the grid cannot be used. Answers whether the click was taken.
  bool ClickRow(long rowIndex, ClickModifier modifier = ClickModifier::None);

  Signal<> Click;
  Signal<Bookmark> RowLoaded;

 private:
  friend class DataControl;
  friend class DataGridColumn;
  friend class GridStyleSet;

  struct RowState {
    bool loaded = false;
    std::vector<std::pair<int, std::string>> cells;  // column index, value
  };

  void Rebind();
  void DetachFromSource();
  void ResolveFields();
  void ResolveField(DataGridColumn& column);
  void DoRefresh();
  // Sorts the record set by a column's sort fields; false when it has not got them.
  bool ApplySort(const DataGridColumn& column, bool descending);
  void Touch() { NotifyChanged(); }
  void CheckStyleSet(const DataGridColumn& column, const std::string& name) const;
  long CheckedIndex(Bookmark bookmark) const;
  void CheckRowIndex(long rowIndex) const;
  std::string CellTextAtIndex(long rowIndex, Bookmark bookmark, int column) const;
  const std::string* ComputedCell(Bookmark bookmark, int column) const;
  [[noreturn]] void ThrowNoRecordset(const char* what) const;

  std::string mCaption;
  DataControl* mSource = nullptr;
  std::shared_ptr<DataControl::Binding> mBinding;
  std::shared_ptr<Recordset> mRecordset;  // what the grid shows since the last (re)bind
  std::vector<std::unique_ptr<DataGridColumn>> mColumns;
  std::vector<std::unique_ptr<GridStyleSet>> mStyleSets;
  bool mRedraw = true;
  bool mRefreshPending = false;
  std::uint64_t mDataVersion = 0;
  std::unordered_map<Bookmark, RowState> mRows;
  long mLoadedCount = 0;
  std::vector<Bookmark> mSelected;
  std::optional<Bookmark> mAnchor;
  std::vector<Bookmark> mLoading;  // rows whose RowLoaded handlers are running
  int mSortColumn = -1;
  bool mSortDescending = false;
};

}  // namespace fm
