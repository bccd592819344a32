#include "platform/DataSetTemplates.h"

#include "base/Text.h"
#include "protocol/Layouts.h"

namespace fm {

namespace {

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
  if (text::EqualsNoCase(name, kTroopFormTemplate)) return FieldsOf(protocol::kTroopFormLayout);
  if (text::EqualsNoCase(name, kOfficerTemplate)) return FieldsOf(protocol::kOfficerLayout);
  return std::nullopt;
}

}  // namespace fm
