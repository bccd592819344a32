#include "protocol/Json.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>

#include "protocol/JsonText.h"
#include "protocol/ProtocolError.h"
#include "protocol/ReplyReader.h"
#include "protocol/RequestReader.h"

namespace fm::protocol {

using Json = nlohmann::ordered_json;
// What a message is read into. Not the ordered kind: that one keeps an object's members in a
// vector, whose growth copies the members read before, deep, as their names are const (a
// data set read before another was held twice at that moment).
using Tree = nlohmann::json;

const char* ColumnTypeName(ColumnType type) {
  switch (type) {
    case ColumnType::Text:
      return "text";
    case ColumnType::Integer:
      return "integer";
    case ColumnType::Double:
      return "double";
  }
  return "text";
}

int DataSet::ColumnIndex(const std::string& name) const {
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

namespace {

// --- Flat scan before parsing -----------------------------------------------------------
// nlohmann's parser would accept any depth and build a value whose destruction recurses,
// any number of members in an object (each found by a linear search), and it reads
// integers beyond 64 bits as doubles, silently losing digits. One pass over the bytes
// settles all three before the parser runs.

bool IsNumberChar(char c) {
  return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

void CheckIntegerLiteral(std::string_view token, std::size_t offset) {
  if (token.find_first_of(".eE") != std::string_view::npos) return;  // a decimal: parser's job
  bool negative = !token.empty() && token.front() == '-';
  std::string_view digits = negative ? token.substr(1) : token;
  if (digits.empty()) return;  // malformed; the parser reports it with its position
  std::string_view limit = negative ? "9223372036854775808" : "9223372036854775807";
  bool tooBig = digits.size() > limit.size() || (digits.size() == limit.size() && digits > limit);
  if (tooBig) {
    throw ProtocolError(fmt::format(
        "the number {} at byte {} is outside the range of a 64-bit integer", token, offset));
  }
}

void ScanBeforeParsing(std::string_view text) {
  std::size_t depth = 0;
  // Of each open bracket: whether it opens an object, and its members so far.
  bool isObject[kMaxJsonDepth + 1] = {};
  std::size_t members[kMaxJsonDepth + 1] = {};
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;  // the escaped character cannot end the string
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    switch (c) {
      case '"':
        inString = true;
        break;
      case '[':
      case '{':
        if (++depth > kMaxJsonDepth) {
          throw ProtocolError(fmt::format(
              "the message nests arrays and objects more than {} levels deep (at byte {})",
              kMaxJsonDepth, i));
        }
        isObject[depth] = c == '{';
        members[depth] = 0;
        break;
      case ':':  // outside a text, only a member's name is followed by one
        if (isObject[depth] && ++members[depth] > kMaxJsonMembers) {
          throw ProtocolError(
              fmt::format("the message has an object of more than {} members (at byte {})",
                          kMaxJsonMembers, i));
        }
        break;
      case ']':
      case '}':
        if (depth > 0) --depth;
        break;
      default:
        if (c == '-' || (c >= '0' && c <= '9')) {
          std::size_t start = i;
          while (i + 1 < text.size() && IsNumberChar(text[i + 1])) ++i;
          CheckIntegerLiteral(text.substr(start, i - start + 1), start);
        }
        break;
    }
  }
}

// What the parser's buffers and its error message may take for a stretch of `bytes` bytes
// between the starts of two values, `breaks` of them line breaks or tabs: the message shows
// the stretch with each of those as "<U+000A>", and is copied a few times as it is made.
std::size_t StretchCost(std::size_t bytes, std::size_t breaks) {
  return kReadingBytesPerStretch * bytes + kReadingBytesPerBreak * breaks;
}

bool EndsToken(char c) {
  switch (c) {
    case ' ':
    case '\t':
    case '\n':
    case '\r':
    case ',':
    case ':':
    case '[':
    case ']':
    case '{':
    case '}':
    case '"':
      return true;
    default:
      return false;
  }
}

Tree Parse(std::string_view text) {
  ScanBeforeParsing(text);
  try {
    return Tree::parse(text.begin(), text.end());
  } catch (const Tree::exception& e) {
    // Drop nlohmann's "[json.exception.parse_error.101] " tag; keep its position and reason.
    // What it read last is cut short: it can be a stretch of the text as long as the text
    // (every line break in it shown as "<U+000A>"), of no use to whoever reads the message.
    std::string_view what = e.what();
    const auto close = what.find("] ");
    if (what.rfind("[json.exception", 0) == 0 && close != std::string_view::npos) {
      what.remove_prefix(close + 2);
    }
    constexpr std::size_t kLongestMessage = 300;
    if (what.size() > kLongestMessage) {
      throw ProtocolError(
          fmt::format("the message is not valid JSON: {}...", what.substr(0, kLongestMessage)));
    }
    throw ProtocolError(fmt::format("the message is not valid JSON: {}", what));
  }
}

// --- Reading with a path for the messages ----------------------------------------------

const char* KindOf(const Tree& j) {
  switch (j.type()) {
    case Tree::value_t::null:
      return "null";
    case Tree::value_t::boolean:
      return "a true/false value";
    case Tree::value_t::number_integer:
    case Tree::value_t::number_unsigned:
      return "a whole number";
    case Tree::value_t::number_float:
      return "a decimal number";
    case Tree::value_t::string:
      return "a text";
    case Tree::value_t::array:
      return "an array";
    case Tree::value_t::object:
      return "an object";
    default:
      return "an unsupported value";
  }
}

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
  throw ProtocolError(fmt::format("{}: {}", path, what));
}

[[noreturn]] void WrongType(const std::string& path, const char* expected, const Tree& j) {
  Fail(path, fmt::format("expected {}, got {}", expected, KindOf(j)));
}

std::string Member(const std::string& path, std::string_view name) {
  return path.empty() ? std::string(name) : fmt::format("{}.{}", path, name);
}

// Refuses members outside `allowed` and missing members of `required`.
void CheckMembers(const Tree& object, const std::string& path,
                  std::initializer_list<std::string_view> required,
                  std::initializer_list<std::string_view> optional = {}) {
  const std::string where = path.empty() ? "message" : path;
  if (!object.is_object()) WrongType(where, "an object", object);
  for (const auto& item : object.items()) {
    bool known = false;
    for (auto name : required) known = known || item.key() == name;
    for (auto name : optional) known = known || item.key() == name;
    if (!known) Fail(where, fmt::format("unknown member \"{}\"", item.key()));
  }
  for (auto name : required) {
    if (!object.contains(name)) Fail(where, fmt::format("missing member \"{}\"", name));
  }
}

// The tree is read once: its texts are moved out rather than copied.
std::string ReadText(Tree& j, const std::string& path) {
  if (!j.is_string()) WrongType(path, "a text", j);
  return std::move(j.get_ref<std::string&>());
}

std::int64_t ReadInteger(const Tree& j, const std::string& path) {
  if (j.is_number_integer() && !j.is_number_unsigned()) return j.get<std::int64_t>();
  if (j.is_number_unsigned()) {
    auto v = j.get<std::uint64_t>();
    if (v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      Fail(path, "the number is outside the range of a 64-bit integer");
    }
    return static_cast<std::int64_t>(v);
  }
  WrongType(path, "a whole number", j);
}

bool ReadBool(const Tree& j, const std::string& path) {
  if (!j.is_boolean()) WrongType(path, "true or false", j);
  return j.get<bool>();
}

ColumnType ReadColumnType(Tree& j, const std::string& path) {
  std::string name = ReadText(j, path);
  if (name == "text") return ColumnType::Text;
  if (name == "integer") return ColumnType::Integer;
  if (name == "double") return ColumnType::Double;
  Fail(path,
       fmt::format("unknown column type \"{}\" (expected \"text\", \"integer\" or \"double\")",
                   name));
}

Cell ReadCell(Tree& j, const Column& column, const std::string& path) {
  if (j.is_null()) return Cell{};
  switch (column.type) {
    case ColumnType::Text:
      if (!j.is_string()) {
        Fail(path, fmt::format("column {} holds texts, got {}", column.name, KindOf(j)));
      }
      return std::move(j.get_ref<std::string&>());
    case ColumnType::Integer:
      if (!j.is_number_integer()) {
        Fail(path, fmt::format("column {} holds whole numbers, got {}", column.name, KindOf(j)));
      }
      return ReadInteger(j, path);
    case ColumnType::Double:
      if (!j.is_number()) {
        Fail(path, fmt::format("column {} holds numbers, got {}", column.name, KindOf(j)));
      }
      return j.get<double>();
  }
  return Cell{};
}

DataSet ReadDataSet(Tree& j, const std::string& path) {
  CheckMembers(j, path, {"columns", "rows"});
  DataSet set;
  Tree& columns = j.at("columns");
  const std::string columnsPath = Member(path, "columns");
  if (!columns.is_array()) WrongType(columnsPath, "an array", columns);
  std::set<std::string> seen;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const std::string colPath = fmt::format("{}[{}]", columnsPath, i);
    CheckMembers(columns[i], colPath, {"name", "type"});
    Column column;
    column.name = ReadText(columns[i].at("name"), Member(colPath, "name"));
    if (column.name.empty()) Fail(Member(colPath, "name"), "a column needs a name");
    if (!seen.insert(column.name).second) {
      Fail(Member(colPath, "name"), fmt::format("column {} is named twice", column.name));
    }
    column.type = ReadColumnType(columns[i].at("type"), Member(colPath, "type"));
    set.columns.push_back(std::move(column));
  }
  Tree& rows = j.at("rows");
  const std::string rowsPath = Member(path, "rows");
  if (!rows.is_array()) WrongType(rowsPath, "an array", rows);
  set.rows.reserve(rows.size());
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const std::string rowPath = fmt::format("{}[{}]", rowsPath, r);
    Tree& row = rows[r];
    if (!row.is_array()) WrongType(rowPath, "an array of cells", row);
    if (row.size() != set.columns.size()) {
      Fail(rowPath,
           fmt::format("the row has {} cells for {} columns", row.size(), set.columns.size()));
    }
    Row cells;
    cells.reserve(row.size());
    for (std::size_t c = 0; c < row.size(); ++c) {
      cells.push_back(ReadCell(row[c], set.columns[c], fmt::format("{}[{}]", rowPath, c)));
    }
    set.rows.push_back(std::move(cells));
    row = nullptr;  // read: its cells go now, so the tree and the rows do not coexist whole
  }
  return set;
}

std::map<std::string, DataSet> ReadDataSets(Tree& j, const std::string& path) {
  if (!j.is_object()) WrongType(path, "an object of data sets by name", j);
  std::map<std::string, DataSet> sets;
  for (auto& item : j.items()) {
    if (item.key().empty()) Fail(path, "a data set needs a name");
    sets.emplace(item.key(), ReadDataSet(item.value(), Member(path, item.key())));
  }
  return sets;
}

Criterion ReadCriterion(Tree& j, const std::string& path) {
  CheckMembers(j, path, {"key", "value", "op", "application"});
  Criterion c;
  c.key = ReadText(j.at("key"), Member(path, "key"));
  c.value = ReadText(j.at("value"), Member(path, "value"));
  c.op = ReadText(j.at("op"), Member(path, "op"));
  c.application = ReadText(j.at("application"), Member(path, "application"));
  return c;
}

// --- Writing ------------------------------------------------------------------------------

Json CellToJson(const Cell& cell) {
  return std::visit(
      [](const auto& v) -> Json {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return nullptr;
        } else {
          return v;
        }
      },
      cell);
}

Json DataSetToJson(const DataSet& set) {
  Json columns = Json::array();
  for (const auto& column : set.columns) {
    columns.push_back(Json{{"name", column.name}, {"type", ColumnTypeName(column.type)}});
  }
  Json rows = Json::array();
  for (const auto& row : set.rows) {
    Json cells = Json::array();
    for (const auto& cell : row) cells.push_back(CellToJson(cell));
    rows.push_back(std::move(cells));
  }
  return Json{{"columns", std::move(columns)}, {"rows", std::move(rows)}};
}

Json DataSetsToJson(const std::map<std::string, DataSet>& sets) {
  Json j = Json::object();
  for (const auto& [name, set] : sets) j[name] = DataSetToJson(set);
  return j;
}

}  // namespace

std::string RequestToJson(const Request& request) {
  Json criteria = Json::array();
  for (const auto& c : request.criteria) {
    criteria.push_back(
        Json{{"key", c.key}, {"value", c.value}, {"op", c.op}, {"application", c.application}});
  }
  Json j{{"request_id", request.requestId},
         {"identity", request.identity},
         {"version", request.version},
         {"requester", request.requester},
         {"user_id", request.userId},
         {"message_type", request.messageType},
         {"data_sets", DataSetsToJson(request.dataSets)},
         {"criteria", std::move(criteria)}};
  return DumpJson(j);
}

std::string ReplyToJson(const Reply& reply) {
  Json j{{"request_id", reply.requestId},
         {"identity", reply.identity},
         {"ok", reply.ok},
         {"error", reply.error},
         {"data_sets", DataSetsToJson(reply.dataSets)}};
  return DumpJson(j);
}

std::size_t ReadingCost(std::string_view text) {
  std::size_t values = 0;
  std::size_t stretch = 0;       // the dearest stretch's cost so far
  std::size_t stretchStart = 0;  // where the last text or number began
  std::size_t breaks = 0;        // line breaks and tabs since then
  bool inString = false;
  bool inToken = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    const bool ends = EndsToken(c);
    if (ends) inToken = false;
    if (c == '\n' || c == '\r' || c == '\t') ++breaks;
    if (c == '[' || c == '{') {
      ++values;
    } else if (c == '"' || (!ends && !inToken)) {
      // The parser starts its buffers anew here: what came since the last start was in them.
      ++values;
      stretch = std::max(stretch, StretchCost(i - stretchStart, breaks));
      stretchStart = i;
      breaks = 0;
      inString = c == '"';
      inToken = !inString;
    }
  }
  stretch = std::max(stretch, StretchCost(text.size() - stretchStart, breaks));
  return kReadingBytesFixed + text.size() + text.size() / 4 + stretch +
         kReadingBytesPerValue * values;
}

std::size_t RequestReadingCost(std::string_view text) {
  // A text the single pass refuses goes to the tree, whose cost is the larger by far for
  // what the single pass held before it gave up (a criterion's texts and its block, against
  // nine values of the tree).
  if (auto direct = detail::DirectReadingCost(text)) return *direct;
  return ReadingCost(text);
}

Request RequestFromJson(std::string_view text) {
  if (auto request = detail::ReadRequestDirectly(text)) return std::move(*request);
  return detail::RequestFromJsonTree(text);
}

Request detail::RequestFromJsonTree(std::string_view text) {
  Tree j = Parse(text);
  CheckMembers(
      j, "",
      {"request_id", "identity", "version", "requester", "user_id", "message_type", "criteria"},
      {"data_sets"});
  Request r;
  r.requestId = ReadText(j.at("request_id"), "request_id");
  r.identity = ReadText(j.at("identity"), "identity");
  r.version = ReadText(j.at("version"), "version");
  r.requester = ReadText(j.at("requester"), "requester");
  r.userId = ReadInteger(j.at("user_id"), "user_id");
  std::int64_t type = ReadInteger(j.at("message_type"), "message_type");
  if (type < std::numeric_limits<std::int16_t>::min() ||
      type > std::numeric_limits<std::int16_t>::max()) {
    Fail("message_type", fmt::format("{} is not a 16-bit message type", type));
  }
  r.messageType = static_cast<int>(type);
  if (j.contains("data_sets")) r.dataSets = ReadDataSets(j.at("data_sets"), "data_sets");
  Tree& criteria = j.at("criteria");
  if (!criteria.is_array()) WrongType("criteria", "an array", criteria);
  for (std::size_t i = 0; i < criteria.size(); ++i) {
    r.criteria.push_back(ReadCriterion(criteria[i], fmt::format("criteria[{}]", i)));
    criteria[i] = nullptr;
  }
  return r;
}

Reply ReplyFromJson(std::string_view text) {
  if (auto reply = detail::ReadReplyDirectly(text)) return std::move(*reply);
  return detail::ReplyFromJsonTree(text);
}

Reply detail::ReplyFromJsonTree(std::string_view text) {
  Tree j = Parse(text);
  CheckMembers(j, "", {"request_id", "identity", "ok", "error"}, {"data_sets"});
  Reply r;
  r.requestId = ReadText(j.at("request_id"), "request_id");
  r.identity = ReadText(j.at("identity"), "identity");
  r.ok = ReadBool(j.at("ok"), "ok");
  r.error = ReadText(j.at("error"), "error");
  if (j.contains("data_sets")) r.dataSets = ReadDataSets(j.at("data_sets"), "data_sets");
  return r;
}

std::string WithdrawalRequestToJson(const WithdrawalRequest& request) {
  return DumpJson(Json{{"request_id", request.requestId},
                       {"form_type", request.formType},
                       {"from", request.from},
                       {"to", request.to},
                       {"reason", request.reason}});
}

WithdrawalRequest WithdrawalRequestFromJson(std::string_view text) {
  Tree j = Parse(text);
  CheckMembers(j, "", {"request_id", "form_type", "from", "to", "reason"});
  WithdrawalRequest r;
  r.requestId = ReadText(j.at("request_id"), "request_id");
  r.formType = ReadText(j.at("form_type"), "form_type");
  r.from = ReadInteger(j.at("from"), "from");
  r.to = ReadInteger(j.at("to"), "to");
  r.reason = ReadText(j.at("reason"), "reason");
  return r;
}

}  // namespace fm::protocol
