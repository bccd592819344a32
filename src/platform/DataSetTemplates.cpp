#include "platform/DataSetTemplates.h"

#include <cctype>

#include "protocol/Layouts.h"

namespace fm {

namespace {

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

FieldType FieldTypeOf(protocol::ColumnType type) {
  switch (type) {
    case protocol::ColumnType::Integer:
      return FieldType::Integer;
    case protocol::ColumnType::Double:
      return FieldType::Double;
    case protocol::ColumnType::Text:
      break;
  }
  return FieldType::Text;
}

std::vector<FieldDef> FieldsOf(std::span<const protocol::LayoutColumn> layout) {
  std::vector<FieldDef> fields;
  fields.reserve(layout.size());
  for (const auto& c : layout) fields.push_back({std::string(c.name), FieldTypeOf(c.type), c.size});
  return fields;
}

}  // namespace

std::optional<std::vector<FieldDef>> TemplateFields(std::string_view name) {
  if (SameNameIgnoringCase(name, kTroopFormTemplate)) return FieldsOf(protocol::kTroopFormLayout);
  if (SameNameIgnoringCase(name, kOfficerTemplate)) return FieldsOf(protocol::kOfficerLayout);
  return std::nullopt;
}

}  // namespace fm
