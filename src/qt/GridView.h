#pragma once

#include <QWidget>
#include <functional>
#include <memory>

class QLabel;
class QTableView;

namespace fm {
class DataGrid;
}

namespace fm::qt {

class GridTableModel;

// The widget of a data grid: its caption bar over a table view of a GridTableModel.
//
// What the grid says is shown as it says it: column widths (twips / 15), hidden columns,
// the caption, the bold of the grid's own font on the caption bar, the selected rows and
// the current row. Rows have one fixed height, so a long result scrolls without measuring
// rows. The view never selects by itself: a click (with Ctrl or Shift) and the arrow keys go
// to DataGrid::ClickRow, and the view shows the selection the grid then holds. A column
// the user widens is widened in the grid too.
//
// The grid must outlive the widget.
class GridView final : public QWidget {
 public:
  using Forward = std::function<void(const char* what, const std::function<void()>& action)>;

  // `forward` runs a model call for a user event under the error trap and then brings the
  // whole view up to date (FormView does both); without one the call runs as it is.
  explicit GridView(DataGrid& grid, Forward forward = {}, QWidget* parent = nullptr);
  ~GridView() override;

  DataGrid& Grid() const { return *mGrid; }
  GridTableModel& Model() const { return *mModel; }
  QTableView& Table() const { return *mTable; }
  QLabel& CaptionBar() const { return *mCaption; }

  // Brings the widget up to date with the grid. While the grid's redraw is off, nothing
  // changes (and nothing is painted) until it is on again.
  void Sync();
  // The grid's "normal appearance": alternating row colours and a lighter grid.
  void SetNormalAppearance(bool on);
  // The size of the rows' and the caption bar's font relative to the normal one.
  void SetFontScale(double scale);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void SyncColumns();
  void SyncSelection();
  void ClickRow(int row, Qt::KeyboardModifiers modifiers);
  bool HandleKey(int key, Qt::KeyboardModifiers modifiers);
  void RunForwarded(const char* what, const std::function<void()>& action);

  DataGrid* mGrid;
  Forward mForward;
  QLabel* mCaption;
  QTableView* mTable;
  GridTableModel* mModel;
  bool mSyncingColumns = false;
};

}  // namespace fm::qt
