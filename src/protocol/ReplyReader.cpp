// The direct reply reader. A reply is read far more often than anything else on the client
// (every search answers thousands of rows), and going through a JSON tree costs a node and
// a type switch per cell before the cell is even looked at. This reader walks the text once
// and writes each cell straight into its typed form.
//
// It only ever answers what the tree reader would answer: anything it is not sure of makes
// it give up (nullopt), and the tree reader, with its exact messages, takes over. So every
// refusal still comes from one place, with one wording.

#include "protocol/ReplyReader.h"

#include <charconv>
#include <cstdint>
#include <set>
#include <string>
#include <system_error>

namespace fm::protocol::detail {

namespace {

// Thrown to give up; caught at the top, never escapes.
struct Unread {};

class Reader {
 public:
  explicit Reader(std::string_view text) : mAt(text.data()), mEnd(text.data() + text.size()) {}

  Reply ReadReply() {
    Reply reply;
    bool seenId = false;
    bool seenIdentity = false;
    bool seenOk = false;
    bool seenError = false;
    bool seenDataSets = false;
    Expect('{');
    if (Next() == '}') GiveUp();  // missing members
    std::string key;
    do {
      ReadString(key);
      Expect(':');
      if (key == "request_id") {
        Once(seenId);
        ReadString(reply.requestId);
      } else if (key == "identity") {
        Once(seenIdentity);
        ReadString(reply.identity);
      } else if (key == "ok") {
        Once(seenOk);
        reply.ok = ReadBool();
      } else if (key == "error") {
        Once(seenError);
        ReadString(reply.error);
      } else if (key == "data_sets") {
        Once(seenDataSets);
        ReadDataSets(reply.dataSets);
      } else {
        GiveUp();
      }
    } while (Comma('}'));
    if (!seenId || !seenIdentity || !seenOk || !seenError) GiveUp();
    SkipBlanks();
    if (mAt != mEnd) GiveUp();
    return reply;
  }

 private:
  [[noreturn]] static void GiveUp() { throw Unread{}; }

  static void Once(bool& seen) {
    if (seen) GiveUp();
    seen = true;
  }

  void SkipBlanks() {
    while (mAt != mEnd && (*mAt == ' ' || *mAt == '\n' || *mAt == '\r' || *mAt == '\t')) ++mAt;
  }

  // The next character that is not a blank, not consumed; '\0' at the end.
  char Next() {
    SkipBlanks();
    return mAt == mEnd ? '\0' : *mAt;
  }

  void Expect(char c) {
    if (Next() != c) GiveUp();
    ++mAt;
  }

  // After a member or element: true when a comma follows, false when `close` does.
  bool Comma(char close) {
    const char c = Next();
    if (c == ',') {
      ++mAt;
      return true;
    }
    if (c != close) GiveUp();
    ++mAt;
    return false;
  }

  bool Literal(std::string_view word) {
    if (static_cast<std::size_t>(mEnd - mAt) < word.size() ||
        std::string_view(mAt, word.size()) != word) {
      return false;
    }
    mAt += word.size();
    return true;
  }

  bool ReadBool() {
    SkipBlanks();
    if (Literal("true")) return true;
    if (Literal("false")) return false;
    GiveUp();
  }

  // --- Texts

  void ReadString(std::string& out) {
    Expect('"');
    out.clear();
    for (;;) {
      const char* start = mAt;
      while (mAt != mEnd) {
        const auto c = static_cast<unsigned char>(*mAt);
        if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80) break;
        ++mAt;
      }
      out.append(start, static_cast<std::size_t>(mAt - start));
      if (mAt == mEnd) GiveUp();
      const auto c = static_cast<unsigned char>(*mAt);
      if (c == '"') {
        ++mAt;
        return;
      }
      if (c == '\\') {
        ReadEscape(out);
      } else if (c >= 0x80) {
        ReadUtf8(out);
      } else {
        GiveUp();  // a control character must be escaped
      }
    }
  }

  void ReadEscape(std::string& out) {
    ++mAt;  // the backslash
    if (mAt == mEnd) GiveUp();
    const char c = *mAt++;
    switch (c) {
      case '"':
      case '\\':
      case '/':
        out.push_back(c);
        return;
      case 'b':
        out.push_back('\b');
        return;
      case 'f':
        out.push_back('\f');
        return;
      case 'n':
        out.push_back('\n');
        return;
      case 'r':
        out.push_back('\r');
        return;
      case 't':
        out.push_back('\t');
        return;
      case 'u':
        break;
      default:
        GiveUp();
    }
    std::uint32_t code = ReadHex4();
    if (code >= 0xD800 && code <= 0xDBFF) {
      // A high surrogate must be followed by an escaped low one.
      if (!Literal("\\u")) GiveUp();
      const std::uint32_t low = ReadHex4();
      if (low < 0xDC00 || low > 0xDFFF) GiveUp();
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
    } else if (code >= 0xDC00 && code <= 0xDFFF) {
      GiveUp();
    }
    AppendUtf8(out, code);
  }

  std::uint32_t ReadHex4() {
    if (mEnd - mAt < 4) GiveUp();
    std::uint32_t code = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = *mAt++;
      code <<= 4;
      if (c >= '0' && c <= '9') {
        code |= static_cast<std::uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        code |= static_cast<std::uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        code |= static_cast<std::uint32_t>(c - 'A' + 10);
      } else {
        GiveUp();
      }
    }
    return code;
  }

  static void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (code >> 6)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (code >> 12)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (code >> 18)));
      out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }

  // One well-formed UTF-8 sequence (no overlong forms, no surrogates, at most U+10FFFF),
  // copied as it is.
  void ReadUtf8(std::string& out) {
    const auto lead = static_cast<unsigned char>(*mAt);
    int continuation = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;  // bounds of the first continuation byte
    if (lead >= 0xC2 && lead <= 0xDF) {
      continuation = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      continuation = 2;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      continuation = 3;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      GiveUp();
    }
    if (mEnd - mAt <= continuation) GiveUp();
    for (int i = 1; i <= continuation; ++i) {
      const auto c = static_cast<unsigned char>(mAt[i]);
      if (i == 1 ? (c < low || c > high) : (c < 0x80 || c > 0xBF)) GiveUp();
    }
    out.append(mAt, static_cast<std::size_t>(continuation) + 1);
    mAt += continuation + 1;
  }

  // --- Numbers

  // The extent of a JSON number at the cursor; gives up on anything else.
  std::string_view NumberToken(bool& integral) {
    const char* start = mAt;
    const char* p = mAt;
    auto digits = [&] {
      const char* first = p;
      while (p != mEnd && *p >= '0' && *p <= '9') ++p;
      return p - first;
    };
    if (p != mEnd && *p == '-') ++p;
    if (p != mEnd && *p == '0') {
      ++p;
    } else if (digits() == 0) {
      GiveUp();
    }
    integral = true;
    if (p != mEnd && *p == '.') {
      ++p;
      integral = false;
      if (digits() == 0) GiveUp();
    }
    if (p != mEnd && (*p == 'e' || *p == 'E')) {
      ++p;
      integral = false;
      if (p != mEnd && (*p == '+' || *p == '-')) ++p;
      if (digits() == 0) GiveUp();
    }
    mAt = p;
    return {start, static_cast<std::size_t>(p - start)};
  }

  static std::int64_t ToInteger(std::string_view token) {
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
    if (ec != std::errc() || end != token.data() + token.size()) GiveUp();
    return value;
  }

  // --- Data sets

  void ReadDataSets(std::map<std::string, DataSet>& sets) {
    Expect('{');
    if (Next() == '}') {
      ++mAt;
      return;
    }
    std::string name;
    do {
      ReadString(name);
      if (name.empty() || sets.count(name) > 0) GiveUp();
      Expect(':');
      ReadDataSet(sets[name]);
    } while (Comma('}'));
  }

  void ReadDataSet(DataSet& set) {
    Expect('{');
    std::string key;
    ReadString(key);
    if (key != "columns") GiveUp();  // rows are read by the columns' types, so these first
    Expect(':');
    ReadColumns(set.columns);
    Expect(',');
    ReadString(key);
    if (key != "rows") GiveUp();
    Expect(':');
    ReadRows(set);
    Expect('}');
  }

  void ReadColumns(std::vector<Column>& columns) {
    Expect('[');
    if (Next() == ']') {
      ++mAt;
      return;
    }
    std::set<std::string> seen;
    std::string key;
    std::string type;
    do {
      Column column;
      bool seenName = false;
      bool seenType = false;
      Expect('{');
      do {
        ReadString(key);
        Expect(':');
        if (key == "name") {
          Once(seenName);
          ReadString(column.name);
        } else if (key == "type") {
          Once(seenType);
          ReadString(type);
        } else {
          GiveUp();
        }
      } while (Comma('}'));
      if (!seenName || !seenType || column.name.empty() || !seen.insert(column.name).second) {
        GiveUp();
      }
      if (type == "text") {
        column.type = ColumnType::Text;
      } else if (type == "integer") {
        column.type = ColumnType::Integer;
      } else if (type == "double") {
        column.type = ColumnType::Double;
      } else {
        GiveUp();
      }
      columns.push_back(std::move(column));
    } while (Comma(']'));
  }

  void ReadRows(DataSet& set) {
    Expect('[');
    if (Next() == ']') {
      ++mAt;
      return;
    }
    const std::size_t width = set.columns.size();
    do {
      Row& row = set.rows.emplace_back();
      row.resize(width);
      Expect('[');
      if (width == 0) {
        Expect(']');
        continue;
      }
      for (std::size_t c = 0; c < width; ++c) {
        if (c > 0) Expect(',');
        ReadCell(row[c], set.columns[c].type);
      }
      Expect(']');
    } while (Comma(']'));
  }

  void ReadCell(Cell& cell, ColumnType type) {
    const char c = Next();
    if (c == 'n') {
      if (!Literal("null")) GiveUp();
      return;  // the cell is null already
    }
    switch (type) {
      case ColumnType::Text: {
        if (c != '"') GiveUp();
        ReadString(cell.emplace<std::string>());
        return;
      }
      case ColumnType::Integer: {
        bool integral = false;
        const std::string_view token = NumberToken(integral);
        if (!integral) GiveUp();
        cell = ToInteger(token);
        return;
      }
      case ColumnType::Double: {
        bool integral = false;
        const std::string_view token = NumberToken(integral);
        // A whole number is read as one and then converted, as the tree reader does.
        if (integral) {
          cell = static_cast<double>(ToInteger(token));
          return;
        }
        double value = 0;
        const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
        if (ec != std::errc() || end != token.data() + token.size()) GiveUp();
        cell = value;
        return;
      }
    }
  }

  const char* mAt;
  const char* const mEnd;
};

}  // namespace

std::optional<Reply> ReadReplyDirectly(std::string_view text) {
  try {
    return Reader(text).ReadReply();
  } catch (const Unread&) {
    return std::nullopt;
  }
}

}  // namespace fm::protocol::detail
