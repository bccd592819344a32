#pragma once

#include <QAbstractTableModel>
#include <QFont>
#include <cstdint>
#include <string>
#include <vector>

namespace fm {
class DataGrid;
}

namespace fm::qt {

// A Qt table model over a data grid of the screen model: one Qt row per grid row, one Qt
// column per grid column (hidden ones included: hiding is the view's business), headings
// from the column captions, bold from the grid's style sets.
//
// Rows are loaded on demand: the first time the view asks for a cell of a row that the grid
// has not loaded, the model loads that row (DataGrid::LoadRows), which runs the screen's
// row-loaded handler and fills the row's computed cells. Rows that are never shown are never
// loaded.
//
// The model keeps the row and column counts it last announced and answers with those until
// Sync: a grid whose rows must be fetched anew (its DataVersion moved, or its counts
// changed) resets the model; a grid whose cells, selection or headings changed gives
// dataChanged / headerDataChanged. Sync is called by the view after the model's events are
// handled; nothing here listens to the grid by itself.
//
// The grid must outlive the model. A failure of the grid (a handler error that escapes, a
// row that vanished) is reported through the error reporter and the cell reads empty.
class GridTableModel final : public QAbstractTableModel {
 public:
  explicit GridTableModel(DataGrid& grid, QObject* parent = nullptr);
  ~GridTableModel() override;

  DataGrid& Grid() const { return *mGrid; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  enum class Change { None, Reset, Updated };
  // Brings the model up to date with the grid (see above). Answers what it announced.
  Change Sync();

 private:
  struct ColumnHeading {
    std::string caption;
    bool bold = false;
    friend bool operator==(const ColumnHeading&, const ColumnHeading&) = default;
  };

  // A valid index of this model within the announced shape.
  bool IsCell(const QModelIndex& index) const;
  void CaptureShape();
  std::vector<ColumnHeading> ReadHeadings() const;
  void LoadRowIfNeeded(int row) const;
  QFont FontFor(bool bold) const;

  DataGrid* mGrid;
  int mRowCount = 0;
  int mColumnCount = 0;
  std::uint64_t mDataVersion = 0;
  // The grid's Version when the model last caught up; loads the view itself asked for
  // move it on, so that filling computed cells does not count as a change to announce.
  mutable std::uint64_t mSeenVersion = 0;
  std::vector<ColumnHeading> mHeadings;
};

}  // namespace fm::qt
