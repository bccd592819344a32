#include "qt/render/TextTable.h"

#include <QHeaderView>
#include <QTableWidget>

#include "qt/render/QtText.h"

namespace fm::qt {

void PrepareTextTable(QTableWidget& table, const std::vector<std::string>& headings) {
  QStringList labels;
  for (const auto& heading : headings) labels << ToQString(heading);
  table.setColumnCount(static_cast<int>(labels.size()));
  table.setHorizontalHeaderLabels(labels);
  table.setEditTriggers(QAbstractItemView::NoEditTriggers);
  table.setSelectionBehavior(QAbstractItemView::SelectRows);
  table.verticalHeader()->hide();
  table.horizontalHeader()->setStretchLastSection(true);
}

void FillTextTable(QTableWidget& table, const std::vector<std::vector<std::string>>& rows) {
  table.setRowCount(0);
  table.setRowCount(static_cast<int>(rows.size()));
  for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
    const auto& cells = rows[static_cast<std::size_t>(row)];
    for (int column = 0; column < static_cast<int>(cells.size()); ++column) {
      const QString text = ToQString(cells[static_cast<std::size_t>(column)]);
      auto* item = new QTableWidgetItem(text);
      item->setToolTip(text);
      table.setItem(row, column, item);
    }
  }
  table.resizeColumnsToContents();
}

}  // namespace fm::qt
