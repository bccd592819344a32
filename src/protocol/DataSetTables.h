#pragma once

#include <fmt/format.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "protocol/Messages.h"
#include "protocol/ProtocolError.h"

// Building and reading the data sets of the custody and usage answers by column name, for
// the .cpp files of this library only (it brings fmt in).
namespace fm::protocol::tables {

inline Cell TextCell(const std::string& text) { return text.empty() ? Cell{} : Cell{text}; }
inline Cell OptionalCell(const std::optional<std::int64_t>& v) { return v ? Cell{*v} : Cell{}; }

class TableWriter {
 public:
  explicit TableWriter(std::vector<Column> columns) { mSet.columns = std::move(columns); }
  void Add(Row row) { mSet.rows.push_back(std::move(row)); }
  DataSet Take() { return std::move(mSet); }

 private:
  DataSet mSet;
};

// Reads the rows of one data set by column name, naming what is wrong.
class TableReader {
 public:
  TableReader(const std::map<std::string, DataSet>& sets, const char* name) : mName(name) {
    auto it = sets.find(name);
    if (it == sets.end()) {
      throw ProtocolError(fmt::format("the message carries no data set \"{}\"", name));
    }
    mSet = &it->second;
  }
  std::size_t Rows() const { return mSet->rows.size(); }
  std::string Text(std::size_t row, const char* column) const {
    const Cell& cell = At(row, column);
    if (std::holds_alternative<std::monostate>(cell)) return {};
    if (const auto* text = std::get_if<std::string>(&cell)) return *text;
    throw Wrong(row, column, "a text");
  }
  std::optional<std::int64_t> OptInteger(std::size_t row, const char* column) const {
    const Cell& cell = At(row, column);
    if (std::holds_alternative<std::monostate>(cell)) return std::nullopt;
    if (const auto* i = std::get_if<std::int64_t>(&cell)) return *i;
    throw Wrong(row, column, "a whole number");
  }
  std::int64_t Integer(std::size_t row, const char* column) const {
    auto value = OptInteger(row, column);
    if (!value) throw Wrong(row, column, "a whole number");
    return *value;
  }

  // A data set that stands for one thing (a request's parameters, a summary) holds one row.
  const TableReader& RequireOneRow() const {
    if (Rows() != 1) {
      throw ProtocolError(
          fmt::format("data set {} must hold exactly one row, it holds {}", mName, Rows()));
    }
    return *this;
  }
  bool Has(const char* column) const { return mSet->ColumnIndex(column) >= 0; }
  const Cell& At(std::size_t row, const char* column) const {
    const int index = mSet->ColumnIndex(column);
    if (index < 0) {
      throw ProtocolError(fmt::format("data set {} has no column {}", mName, column));
    }
    const Row& cells = mSet->rows.at(row);
    if (static_cast<std::size_t>(index) >= cells.size()) {
      throw ProtocolError(fmt::format("data set {}, row {}: too few cells", mName, row + 1));
    }
    return cells[static_cast<std::size_t>(index)];
  }

 private:
  ProtocolError Wrong(std::size_t row, const char* column, const char* expected) const {
    return ProtocolError(fmt::format("data set {}, row {}, column {}: expected {}", mName, row + 1,
                                     column, expected));
  }
  const char* mName;
  const DataSet* mSet = nullptr;
};

inline Column Text(const char* name) { return {name, ColumnType::Text}; }
inline Column Integer(const char* name) { return {name, ColumnType::Integer}; }

}  // namespace fm::protocol::tables
