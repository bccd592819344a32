#include "protocol/JsonWriter.h"

#include <charconv>
#include <nlohmann/json.hpp>
#include <variant>

namespace fm::protocol {

namespace {

// Texts of plain printable ASCII (nearly every text of the inventory) are copied as they
// are; anything else is left to the tree writer's own escaping, so both write the same bytes
// for it whatever it holds.
bool Plain(std::string_view text) {
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7f || c == '"' || c == '\\') return false;
  }
  return true;
}

}  // namespace

void JsonWriter::Quoted(std::string_view text) {
  if (Plain(text)) {
    mOut.push_back('"');
    mOut.append(text);
    mOut.push_back('"');
    return;
  }
  // error_handler_t::replace: texts from the store are not guaranteed to be UTF-8.
  mOut += nlohmann::json(std::string(text))
              .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void JsonWriter::Key(std::string_view name) {
  Separate();
  Quoted(name);
  mOut.push_back(':');
  mAfterKey = true;
}

void JsonWriter::String(std::string_view text) {
  Separate();
  Quoted(text);
}

void JsonWriter::Integer(std::int64_t value) {
  Separate();
  char digits[24];
  auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  mOut.append(digits, end);
}

void JsonWriter::Double(double value) {
  Separate();
  mOut += nlohmann::json(value).dump();
}

void JsonWriter::Bool(bool value) {
  Separate();
  mOut += value ? "true" : "false";
}

void JsonWriter::Null() {
  Separate();
  mOut += "null";
}

void JsonWriter::Value(const Cell& cell) {
  std::visit(
      [this](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          Null();
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          Integer(v);
        } else if constexpr (std::is_same_v<T, double>) {
          Double(v);
        } else {
          String(v);
        }
      },
      cell);
}

void JsonWriter::WriteColumns(const std::vector<Column>& columns) {
  BeginArray();
  for (const auto& column : columns) {
    BeginObject();
    Key("name");
    String(column.name);
    Key("type");
    String(ColumnTypeName(column.type));
    EndObject();
  }
  EndArray();
}

void JsonWriter::WriteDataSet(const DataSet& set) {
  BeginObject();
  Key("columns");
  WriteColumns(set.columns);
  Key("rows");
  BeginArray();
  for (const auto& row : set.rows) {
    BeginArray();
    for (const auto& cell : row) Value(cell);
    EndArray();
  }
  EndArray();
  EndObject();
}

}  // namespace fm::protocol
