// The criterion compiler on any text, and every compiled criterion tested against rows of
// every kind of value. The input is the criterion; after a NUL byte come the cells of one
// more row, NUL-separated, in column order (an empty cell is null). A fault must be a
// PlatformError, and a criterion that compiles must mean the same once parenthesised and
// joined to itself (unless that passes the nesting cap).
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Require.h"
#include "base/Numbers.h"
#include "platform/Criteria.h"
#include "platform/PlatformError.h"

namespace {

using fm::FieldDef;
using fm::FieldType;
using fm::Value;
using fm::detail::CompiledCriterion;

const std::vector<FieldDef>& Columns() {
  static const std::vector<FieldDef> columns = {{"CD_TBL_CD", FieldType::Text, 8},
                                                {"INSP_ID", FieldType::Integer, 0},
                                                {"RATE", FieldType::Double, 0},
                                                {"TRP_DIST_ID", FieldType::Text, 2},
                                                {"FRM_FORM_NBR", FieldType::Integer, 0}};
  return columns;
}

// Rows of the values comparisons are most likely to get wrong, and one from the input.
std::vector<std::vector<Value>> Rows(std::string_view cells) {
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<std::vector<Value>> rows = {
      {Value(), Value(), Value(), Value(), Value()},
      {"", std::int64_t{0}, -0.0, "01", std::numeric_limits<std::int64_t>::min()},
      {"Anderson", std::numeric_limits<std::int64_t>::max(), inf, "1A", std::int64_t{9999999999}},
      {"o'brien%_*", std::int64_t{-1}, std::numeric_limits<double>::quiet_NaN(), "9e999", -inf},
      {"\xc3\xa9\xff", std::int64_t{9007199254740993}, 1e-300, " 12 ", 2.5},
  };
  std::vector<Value> row;
  while (row.size() < Columns().size()) {
    const std::size_t end = cells.find('\0');
    const std::string_view cell = cells.substr(0, end);
    cells = end == std::string_view::npos ? std::string_view() : cells.substr(end + 1);
    std::int64_t integer = 0;
    double real = 0;
    const auto kind = fm::text::ParseNumber(cell, integer, real);
    if (cell.empty()) {
      row.emplace_back();
    } else if (Columns()[row.size()].type == FieldType::Text) {
      row.emplace_back(cell);
    } else if (kind == fm::text::NumberKind::Integer) {
      row.emplace_back(integer);
    } else {
      row.emplace_back(real);  // 0 when the cell is no number
    }
  }
  rows.push_back(std::move(row));
  return rows;
}

// Null when refused; `tooDeep` then says whether for its nesting alone.
std::shared_ptr<const CompiledCriterion> Compile(std::string_view text, bool& tooDeep) {
  try {
    return CompiledCriterion::Compile(text, Columns());
  } catch (const fm::PlatformError& e) {
    tooDeep = e.Description().find("levels deep") != std::string::npos;
    return nullptr;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = input.find('\0');
  const std::string_view text = input.substr(0, nul);
  bool tooDeep = false;
  const auto criterion = Compile(text, tooDeep);
  if (!criterion) return 0;
  const std::string wrapped(text);
  const auto both = Compile("(" + wrapped + ") AND (" + wrapped + ")", tooDeep);
  const auto either = Compile("(" + wrapped + ") OR (" + wrapped + ")", tooDeep);
  // One more level may pass the nesting cap, but only that may make it refused.
  fm::fuzz::Require((both && either) || tooDeep, "a criterion is refused once parenthesised", text);
  if (!both || !either) return 0;
  for (const auto& row : Rows(nul == std::string_view::npos ? "" : input.substr(nul + 1))) {
    const bool meets = criterion->Matches(row.data());
    fm::fuzz::Require(both->Matches(row.data()) == meets && either->Matches(row.data()) == meets,
                      "a criterion means something else once parenthesised", text);
  }
  return 0;
}
