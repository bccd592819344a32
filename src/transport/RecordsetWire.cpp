#include "transport/RecordsetWire.h"

#include <fmt/format.h>

#include <cmath>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/Text.h"
#include "platform/DataSetTemplates.h"
#include "platform/PlatformError.h"
#include "platform/Recordset.h"

namespace fm {

namespace {

protocol::ColumnType ToWireType(FieldType type) {
  switch (type) {
    case FieldType::Text:
      return protocol::ColumnType::Text;
    case FieldType::Integer:
      return protocol::ColumnType::Integer;
    case FieldType::Double:
      return protocol::ColumnType::Double;
  }
  throw PlatformError(PlatformError::kGeneric, "A column of an unknown type cannot be sent");
}

FieldType FromWireType(protocol::ColumnType type) {
  switch (type) {
    case protocol::ColumnType::Text:
      return FieldType::Text;
    case protocol::ColumnType::Integer:
      return FieldType::Integer;
    case protocol::ColumnType::Double:
      return FieldType::Double;
  }
  throw PlatformError(PlatformError::kGeneric, "A column of an unknown type cannot be read");
}

// Columns are matched by name without regard to letter case everywhere in the record set,
// so two names that differ only in case would make one of them unreachable.
std::string FoldedName(const std::string& name) { return text::ToUpper(name); }

protocol::Cell ToCell(const Value& value, const FieldDef& field, long rowIndex) {
  if (value.IsNull()) return std::monostate{};
  // The record set stores values already converted to the column's type; the switch below
  // only guards against a value that somehow is not.
  const Value typed = value.ConvertedTo(field.type);
  if (typed.IsInteger()) return typed.AsInteger();
  if (typed.IsDouble()) {
    if (!std::isfinite(typed.AsDouble())) {
      throw PlatformError(PlatformError::kOverflow,
                          fmt::format("Row {}, column '{}': the value {} is not a number that "
                                      "can be sent",
                                      rowIndex + 1, field.name, typed.ToText()));
    }
    return typed.AsDouble();
  }
  return typed.AsText();
}

Value ToValue(const protocol::Cell& cell) {
  if (const auto* integer = std::get_if<std::int64_t>(&cell)) return Value(*integer);
  if (const auto* real = std::get_if<double>(&cell)) return Value(*real);
  if (const auto* text = std::get_if<std::string>(&cell)) return Value(*text);
  return Value();
}

Value ToValue(protocol::Cell&& cell) {
  if (auto* text = std::get_if<std::string>(&cell)) return Value(std::move(*text));
  return ToValue(std::as_const(cell));
}

// The record set of a wire data set, its cells copied or (from a data set that may be
// taken) moved: the rows are built whole, so a cell costs its conversion and nothing else.
template <class DataSetRef>
std::shared_ptr<Recordset> BuildRecordset(DataSetRef&& dataSet, std::string_view templateName) {
  std::vector<FieldDef> layout;
  if (!templateName.empty()) {
    if (auto fields = TemplateFields(templateName)) layout = std::move(*fields);
  }

  std::vector<FieldDef> fields;
  fields.reserve(dataSet.columns.size());
  std::set<std::string> seen;
  for (const protocol::Column& column : dataSet.columns) {
    if (column.name.empty()) {
      throw PlatformError(PlatformError::kGeneric,
                          fmt::format("Column {} of the data set has no name", fields.size() + 1));
    }
    if (!seen.insert(FoldedName(column.name)).second) {
      throw PlatformError(PlatformError::kGeneric,
                          fmt::format("The data set has two columns named '{}'", column.name));
    }
    FieldDef field{column.name, FromWireType(column.type), 0};
    for (const FieldDef& known : layout) {
      if (FoldedName(known.name) == FoldedName(column.name)) field.size = known.size;
    }
    fields.push_back(std::move(field));
  }

  std::vector<std::vector<Value>> rows;
  rows.reserve(dataSet.rows.size());
  for (std::size_t r = 0; r < dataSet.rows.size(); ++r) {
    auto& row = dataSet.rows[r];
    if (row.size() != fields.size()) {
      throw PlatformError(PlatformError::kGeneric,
                          fmt::format("Row {} of the data set has {} values for {} columns", r + 1,
                                      row.size(), fields.size()));
    }
    std::vector<Value>& values = rows.emplace_back();
    values.reserve(fields.size());
    for (std::size_t c = 0; c < row.size(); ++c) {
      const FieldDef& field = fields[c];
      Value value;
      if constexpr (std::is_const_v<std::remove_reference_t<decltype(row)>>) {
        value = ToValue(row[c]);
      } else {
        value = ToValue(std::move(row[c]));
      }
      if (!value.IsNull() && !value.Holds(field.type)) {
        // A text arriving for a numeric column would be read as a number by the record set;
        // the wire promises typed cells, so anything else means the sender is broken.
        if (value.IsText()) {
          throw PlatformError(PlatformError::kTypeMismatch,
                              fmt::format("Row {}, column '{}': a text where a {} belongs", r + 1,
                                          field.name, FieldTypeName(field.type)));
        }
        try {
          value = ValueForField(field, value);
        } catch (const PlatformError& error) {
          throw PlatformError(error.Number(),
                              fmt::format("Row {}: {}", r + 1, error.Description()));
        }
      }
      values.push_back(std::move(value));
    }
  }
  return Recordset::FromRows(std::move(fields), std::move(rows));
}

}  // namespace

protocol::DataSet ToWireDataSet(const Recordset& recordset) {
  protocol::DataSet out;
  const auto& fields = recordset.Fields();
  out.columns.reserve(fields.size());
  for (const FieldDef& field : fields) out.columns.push_back({field.name, ToWireType(field.type)});

  const long count = recordset.RecordCount();
  out.rows.reserve(static_cast<std::size_t>(count));
  for (long index = 0; index < count; ++index) {
    protocol::Row row;
    row.reserve(fields.size());
    for (int column = 0; column < static_cast<int>(fields.size()); ++column) {
      row.push_back(ToCell(recordset.ValueAt(index, column),
                           fields[static_cast<std::size_t>(column)], index));
    }
    out.rows.push_back(std::move(row));
  }
  return out;
}

std::shared_ptr<Recordset> FromWireDataSet(const protocol::DataSet& dataSet,
                                           std::string_view templateName) {
  return BuildRecordset(dataSet, templateName);
}

std::shared_ptr<Recordset> FromWireDataSet(protocol::DataSet&& dataSet,
                                           std::string_view templateName) {
  return BuildRecordset(std::move(dataSet), templateName);
}

}  // namespace fm
