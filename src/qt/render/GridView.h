#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

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
// A click on a column heading sorts the grid by that column (DataGrid::SortByColumn; a
// second click reverses), and the heading shows the sort. Ctrl+C copies the selected rows
// as tab-separated text; the context menu offers Copy and Export to CSV (every row, with
// the captions, RFC 4180), each showing the visible columns as the grid shows them.
//
// The grid must outlive the widget.
class GridView final : public QWidget {
 public:
  using Forward = std::function<void(const char* what, const std::function<void()>& action)>;
  // Asks where to export to: the suggested file name in, the chosen path out (empty:
  // cancelled). The default is the platform's save dialog.
  using SaveFileChooser = std::function<QString(QWidget* parent, const QString& suggested)>;
  static void SetSaveFileChooser(SaveFileChooser chooser);

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

  // The selected rows to the clipboard, tab-separated; nothing selected copies nothing.
  void CopySelectedRows();
  // Every row, with the captions, to a CSV file the clerk chooses. A file that cannot be
  // written is reported in a message box; the file is then left as it was.
  void ExportToCsv();

  // An action the host adds to the context menu, after Copy and Export: `enabled` decides,
  // each time the menu opens, whether it can be chosen.
  void AddContextAction(const QString& text, std::function<bool()> enabled,
                        std::function<void()> run);
  // Runs the context action of that text as the menu would, if it can be chosen now;
  // answers whether it ran.
  bool RunContextAction(const QString& text);
  // Asks where to save a file: the chooser set by SetSaveFileChooser, else the platform's
  // save dialog with `filter`. Empty: cancelled. The other windows' exports ask through it.
  static QString AskSaveFile(QWidget* parent, const QString& suggested, const QString& filter);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void SyncColumns();
  void SyncSelection();
  void ClickRow(int row, Qt::KeyboardModifiers modifiers);
  bool HandleKey(int key, Qt::KeyboardModifiers modifiers);
  void ShowContextMenu(const QPoint& at);
  void RunForwarded(const char* what, const std::function<void()>& action);

  DataGrid* mGrid;
  Forward mForward;
  QLabel* mCaption;
  QTableView* mTable;
  GridTableModel* mModel;
  bool mSyncingColumns = false;
  struct ContextAction {
    QString text;
    std::function<bool()> enabled;
    std::function<void()> run;
  };
  std::vector<ContextAction> mContextActions;
};

}  // namespace fm::qt
