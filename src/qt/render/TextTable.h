#pragma once

#include <string>
#include <vector>

class QTableWidget;

namespace fm::qt {

// A read-only table of texts, as the shell's windows show their lists: `headings` as the
// column headings, rows selected whole, no row numbers, the last column stretched.
void PrepareTextTable(QTableWidget& table, const std::vector<std::string>& headings);
// Replaces the table's rows with `rows` (each cell's tool tip its whole text) and fits the
// columns to them.
void FillTextTable(QTableWidget& table, const std::vector<std::vector<std::string>>& rows);

}  // namespace fm::qt
