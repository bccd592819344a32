#include "server/handler/WireRows.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <optional>

#include "base/Numbers.h"
#include "base/Text.h"
#include "protocol/JsonWriter.h"
#include "protocol/Layouts.h"
#include "server/handler/RequestError.h"

namespace fm::server {

namespace {

using protocol::Cell;
using protocol::Column;
using protocol::ColumnType;

class RowReader {
 public:
  RowReader(const protocol::DataSet& set, std::size_t row) : mSet(set), mRow(row) {}

  const Cell* Find(const char* column) const {
    int index = mSet.ColumnIndex(column);
    return index < 0 ? nullptr : &mSet.rows[mRow][static_cast<std::size_t>(index)];
  }

  // A text as sent (numbers written in decimal); nullopt for null, missing or blank text.
  std::optional<std::string> RawText(const char* column) const {
    const Cell* cell = Find(column);
    if (!cell) return std::nullopt;
    if (const auto* s = std::get_if<std::string>(cell)) {
      if (text::Trim(*s).empty()) return std::nullopt;
      return *s;
    }
    if (const auto* i = std::get_if<std::int64_t>(cell)) return std::to_string(*i);
    if (const auto* d = std::get_if<double>(cell)) return fmt::format("{}", *d);
    return std::nullopt;
  }

  std::optional<std::string> Code(const char* column) const {
    auto text = RawText(column);
    if (text) text = text::ToUpper(text::Trim(*text));
    return text;
  }

  std::optional<std::int64_t> Number(const char* column) const {
    const Cell* cell = Find(column);
    if (!cell || std::holds_alternative<std::monostate>(*cell)) return std::nullopt;
    if (const auto* i = std::get_if<std::int64_t>(cell)) return *i;
    if (const auto* d = std::get_if<double>(cell)) {
      if (std::isfinite(*d) && std::floor(*d) == *d && std::fabs(*d) < 9.0e18) {
        return static_cast<std::int64_t>(*d);
      }
      Fail(column, fmt::format("{} is not a whole number", *d));
    }
    const std::string_view digits = text::TrimBlanks(std::get<std::string>(*cell));
    if (digits.empty()) return std::nullopt;
    std::int64_t n = 0;
    if (text::ReadWholeNumber(digits, n) != text::WholeNumberStatus::kOk) {
      Fail(column, fmt::format("\"{}\" is not a whole number", digits));
    }
    return n;
  }

  template <typename T>
  T Required(const std::optional<T>& value, const char* column) const {
    if (!value) Fail(column, "the value is missing");
    return *value;
  }

  [[noreturn]] void Fail(const char* column, const std::string& why) const {
    throw RequestError(fmt::format("Change row {}, column {}: {}", mRow + 1, column, why));
  }

 private:
  const protocol::DataSet& mSet;
  std::size_t mRow;
};

constexpr const char* kRowVersion = "ROW_VERSION";

std::string MissingVersionText(std::size_t row) {
  return fmt::format(
      "Change row {}, column {}: an \"UPD\" row must carry the version of the range it "
      "replaces, as the search answered it; a change that does not know what it replaces is "
      "not applied",
      row + 1, kRowVersion);
}

bool IsUpdate(const RowReader& row) {
  auto action = row.Code("ACTION");
  return action && *action == "UPD";
}

Cell Opt(const std::optional<std::int64_t>& v) { return v ? Cell{*v} : Cell{}; }
Cell Opt(const std::optional<std::string>& v) { return v ? Cell{*v} : Cell{}; }
Cell NonEmpty(const std::string& s) { return s.empty() ? Cell{} : Cell{s}; }

}  // namespace

std::vector<RangeChange> ChangesFromDataSet(const protocol::DataSet& set) {
  for (const char* required : {"ACTION", "FORM_TYP_CD", "FRM_FORM_NBR", "TO_FORM_NBR", "TRP_ID"}) {
    if (set.ColumnIndex(required) < 0) {
      throw RequestError(
          fmt::format("The change rows (\"TROOPFORM\") have no column {}", required));
    }
  }
  std::vector<RangeChange> changes;
  changes.reserve(set.rows.size());
  for (std::size_t i = 0; i < set.rows.size(); ++i) {
    if (set.rows[i].size() != set.columns.size()) {
      throw RequestError(fmt::format("Change row {} has {} cells for {} columns", i + 1,
                                     set.rows[i].size(), set.columns.size()));
    }
    RowReader row(set, i);
    RangeChange c;
    const std::string action = row.Required(row.Code("ACTION"), "ACTION");
    if (action == "ADD") {
      c.action = RangeChange::Action::Add;
    } else if (action == "UPD") {
      c.action = RangeChange::Action::Update;
    } else {
      row.Fail("ACTION", fmt::format("\"{}\" is neither \"ADD\" nor \"UPD\"", action));
    }
    c.formType = row.Required(row.Code("FORM_TYP_CD"), "FORM_TYP_CD");
    c.from = row.Required(row.Number("FRM_FORM_NBR"), "FRM_FORM_NBR");
    c.to = row.Required(row.Number("TO_FORM_NBR"), "TO_FORM_NBR");
    c.troop = row.Required(row.Code("TRP_ID"), "TRP_ID");
    c.district = row.Code("TRP_DIST_ID").value_or("");
    c.registry = row.Number("ASGND_REG_NBR");
    c.status = row.Code("TRP_ACTN_CD");
    c.quarter = row.Number("FORM_QTR_DT");
    c.year = row.Number("FORM_YR_DT");
    c.rowVersion = row.Number(kRowVersion);
    if (c.action == RangeChange::Action::Update && !c.rowVersion) {
      throw RequestError(MissingVersionText(i));
    }
    // The comment travels as written: it carries the clerk's stamp, blanks included.
    if (const Cell* cell = row.Find("TRP_FORM_CMMT_TXT")) {
      if (const auto* s = std::get_if<std::string>(cell)) {
        if (!text::Trim(*s).empty()) c.comment = *s;
      }
    }
    changes.push_back(std::move(c));
  }
  return changes;
}

std::optional<std::string> MissingRowVersion(const protocol::DataSet& set) {
  for (std::size_t i = 0; i < set.rows.size(); ++i) {
    if (set.rows[i].size() != set.columns.size()) return std::nullopt;
    RowReader row(set, i);
    if (!IsUpdate(row)) continue;
    const Cell* version = row.Find(kRowVersion);
    if (!version || std::holds_alternative<std::monostate>(*version)) return MissingVersionText(i);
    if (const auto* text = std::get_if<std::string>(version); text && text::Trim(*text).empty()) {
      return MissingVersionText(i);
    }
  }
  return std::nullopt;
}

// The rows below are written cell by cell in the layouts' order.
static_assert(std::size(protocol::kTroopFormLayout) == 14 &&
              protocol::kTroopFormLayout[4].name == "FRM_FORM_NBR" &&
              protocol::kTroopFormLayout[11].name == "TRP_FORM_CMMT_TXT" &&
              protocol::kTroopFormLayout[13].name == "ROW_VERSION");
static_assert(std::size(protocol::kOfficerLayout) == 11 &&
              protocol::kOfficerLayout[2].name == "INSP_ID" &&
              protocol::kOfficerLayout[10].name == "ACTION");

std::vector<protocol::Column> TroopFormColumns(bool thin) {
  std::vector<protocol::Column> columns = protocol::ColumnsOf(protocol::kTroopFormLayout);
  if (!thin) {
    for (auto& column : protocol::ColumnsOf(protocol::kTroopFormStampLayout)) {
      columns.push_back(std::move(column));
    }
  }
  return columns;
}

void WriteTroopFormRow(protocol::JsonWriter& out, const StoredRange& stored, bool thin) {
  const FormRange& r = stored.range;
  auto optional = [&](const auto& value) {
    if (value) {
      if constexpr (std::is_same_v<std::decay_t<decltype(*value)>, std::string>) {
        out.String(*value);
      } else {
        out.Integer(*value);
      }
    } else {
      out.Null();
    }
  };
  // The cells of TroopFormDataSet's row, in its order.
  out.BeginArray();
  out.String(r.troop);
  out.String(r.district);
  out.String(r.formType);
  if (thin) {
    out.Null();
  } else {
    out.String(stored.formTypeDescription);
  }
  out.Integer(r.from);
  out.Integer(r.to);
  out.Integer(r.registry);
  out.String(r.status);
  out.Integer(r.remaining);
  optional(r.quarter);
  optional(r.year);
  optional(r.comment);
  out.Null();  // ACTION
  out.Integer(stored.version);
  if (!thin) {
    out.String(stored.lastChange.at);
    out.String(stored.lastChange.requestId);
    out.Integer(stored.lastChange.userId);
  }
  out.EndArray();
}

protocol::DataSet TroopFormDataSet(const std::vector<StoredRange>& ranges, bool thin) {
  protocol::DataSet set;
  set.columns = TroopFormColumns(thin);
  set.rows.reserve(ranges.size());
  for (const auto& stored : ranges) {
    const FormRange& r = stored.range;
    // Cell by cell: g++ 12 misjudges braced lists of variants as reading uninitialised texts.
    protocol::Row row;
    row.reserve(set.columns.size());
    row.emplace_back(r.troop);
    row.emplace_back(r.district);
    row.emplace_back(r.formType);
    row.push_back(thin ? Cell{} : Cell{stored.formTypeDescription});
    row.emplace_back(r.from);
    row.emplace_back(r.to);
    row.emplace_back(r.registry);
    row.emplace_back(r.status);
    row.emplace_back(r.remaining);
    row.push_back(Opt(r.quarter));
    row.push_back(Opt(r.year));
    row.push_back(Opt(r.comment));
    row.emplace_back();  // ACTION: a stored range is no change row
    row.emplace_back(stored.version);
    if (!thin) {
      row.emplace_back(stored.lastChange.at);
      row.emplace_back(stored.lastChange.requestId);
      row.emplace_back(stored.lastChange.userId);
    }
    set.rows.push_back(std::move(row));
  }
  return set;
}

void WriteOfficerRow(protocol::JsonWriter& out, const Officer& o) {
  auto nonEmpty = [&](const std::string& s) {
    if (s.empty()) {
      out.Null();
    } else {
      out.String(s);
    }
  };
  // The cells of OfficerDataSet's row, in its order.
  out.BeginArray();
  nonEmpty(o.troop);
  nonEmpty(o.district);
  out.Integer(o.registry);
  nonEmpty(o.dutyStart);
  nonEmpty(o.dutyEnd);
  nonEmpty(o.assignmentUpdated);
  out.String(o.lastName);
  nonEmpty(o.firstName);
  nonEmpty(o.middleInitial);
  nonEmpty(o.userId);
  out.Null();  // ACTION
  out.EndArray();
}

namespace {

std::string ColumnsJson(const std::vector<protocol::Column>& columns) {
  std::string json;
  protocol::JsonWriter(json).WriteColumns(columns);
  return json;
}

}  // namespace

const std::string& TroopFormColumnsJson(bool thin) {
  static const std::string kThin = ColumnsJson(TroopFormColumns(true));
  static const std::string kFull = ColumnsJson(TroopFormColumns(false));
  return thin ? kThin : kFull;
}

const std::string& OfficerColumnsJson() {
  static const std::string kColumns = ColumnsJson(protocol::ColumnsOf(protocol::kOfficerLayout));
  return kColumns;
}

protocol::DataSet OfficerDataSet(const std::vector<Officer>& officers) {
  protocol::DataSet set;
  set.columns = protocol::ColumnsOf(protocol::kOfficerLayout);
  set.rows.reserve(officers.size());
  for (const auto& o : officers) {
    protocol::Row row;
    row.reserve(set.columns.size());
    row.push_back(NonEmpty(o.troop));
    row.push_back(NonEmpty(o.district));
    row.emplace_back(o.registry);
    row.push_back(NonEmpty(o.dutyStart));
    row.push_back(NonEmpty(o.dutyEnd));
    row.push_back(NonEmpty(o.assignmentUpdated));
    row.emplace_back(o.lastName);
    row.push_back(NonEmpty(o.firstName));
    row.push_back(NonEmpty(o.middleInitial));
    row.push_back(NonEmpty(o.userId));
    row.emplace_back();  // ACTION: only a trooper added at the workstation has one
    set.rows.push_back(std::move(row));
  }
  return set;
}

}  // namespace fm::server
