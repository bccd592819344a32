#pragma once

#include <string>

namespace fm {

class DataGrid;

// One column of a data grid: a caption, a key by which the screen reaches it (letter case
// ignored), the record-set field it shows (none for a computed column, whose cells the
// row-loaded handler fills), visibility, width in twips and the style sets of its cells
// and heading (empty: the grid's own font).
//
// Errors: a negative width or an unknown style set name throws PlatformError naming the
// grid and the column.
class DataGridColumn {
 public:
  DataGridColumn(DataGrid& grid, int index, std::string caption, std::string key,
                 std::string dataField, bool visible, int width);
  DataGridColumn(const DataGridColumn&) = delete;
  DataGridColumn& operator=(const DataGridColumn&) = delete;

  int Index() const { return mIndex; }
  DataGrid& Grid() const { return *mGrid; }
  const std::string& Caption() const { return mCaption; }
  void SetCaption(std::string caption);
  const std::string& Key() const { return mKey; }
  // The record-set field shown; empty for a computed column.
  const std::string& DataField() const { return mDataField; }
  void SetDataField(std::string dataField);
  bool IsBound() const { return !mDataField.empty(); }
  bool Visible() const { return mVisible; }
  void SetVisible(bool visible);
  int Width() const { return mWidth; }
  void SetWidth(int width);
  const std::string& StyleSet() const { return mStyleSet; }
  void SetStyleSet(std::string name);
  const std::string& HeadStyleSet() const { return mHeadStyleSet; }
  void SetHeadStyleSet(std::string name);
  // The record-set fields a sort by this column orders by, "FIELD[, FIELD]...": for a
  // computed column the fields it is made from. Empty: the column's own field.
  const std::string& SortFields() const { return mSortFields; }
  void SetSortFields(std::string fields) { mSortFields = std::move(fields); }

  // The cell of this column in the row being loaded (inside a row-loaded handler) or else
  // in the current row; the empty text when there is no such row.
  std::string Text() const;
  // Sets that cell (DataGrid::SetCell). Throws PlatformError without a row.
  void SetText(std::string text);

  // The field's position in the bound record set, -1 when unbound or the record set lacks
  // the field. Kept up to date by the grid.
  int FieldIndex() const { return mFieldIndex; }

 private:
  friend class DataGrid;
  void Changed();

  DataGrid* mGrid;
  int mIndex;
  std::string mCaption;
  std::string mKey;
  std::string mDataField;
  bool mVisible;
  int mWidth;
  std::string mStyleSet;
  std::string mHeadStyleSet;
  std::string mSortFields;
  int mFieldIndex = -1;
};

}  // namespace fm
