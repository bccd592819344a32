#include "protocol/RequestReader.h"

#include <cstdint>
#include <limits>
#include <string>

namespace fm::protocol::detail {

namespace {

// A cursor over the text that fails (answers false) on anything outside the plain forms it
// takes; the caller then leaves the text to the tree reader.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : mText(text) {}

  void SkipBlanks() {
    while (mAt < mText.size() &&
           (mText[mAt] == ' ' || mText[mAt] == '\t' || mText[mAt] == '\n' || mText[mAt] == '\r')) {
      ++mAt;
    }
  }
  bool AtEnd() {
    SkipBlanks();
    return mAt == mText.size();
  }
  // The next non-blank byte is `c`; it is taken.
  bool Take(char c) {
    SkipBlanks();
    if (mAt < mText.size() && mText[mAt] == c) {
      ++mAt;
      return true;
    }
    return false;
  }
  bool Peek(char c) {
    SkipBlanks();
    return mAt < mText.size() && mText[mAt] == c;
  }
  // A text of printable ASCII without escapes.
  bool Text(std::string_view& out) {
    if (!Take('"')) return false;
    const std::size_t start = mAt;
    for (; mAt < mText.size(); ++mAt) {
      const auto byte = static_cast<unsigned char>(mText[mAt]);
      if (byte == '"') {
        out = mText.substr(start, mAt - start);
        ++mAt;
        return true;
      }
      if (byte < 0x20 || byte >= 0x7f || byte == '\\') return false;
    }
    return false;
  }
  bool Text(std::string& out) {
    std::string_view view;
    if (!Text(view)) return false;
    out.assign(view);
    return true;
  }
  // A whole number of at most 18 digits without sign or leading zero (so no overflow).
  bool Integer(std::int64_t& out) {
    SkipBlanks();
    const std::size_t start = mAt;
    while (mAt < mText.size() && mText[mAt] >= '0' && mText[mAt] <= '9') ++mAt;
    const std::size_t digits = mAt - start;
    if (digits == 0 || digits > 18 || (digits > 1 && mText[start] == '0')) return false;
    // A fraction or an exponent makes it another kind of number.
    if (mAt < mText.size() && (mText[mAt] == '.' || mText[mAt] == 'e' || mText[mAt] == 'E')) {
      return false;
    }
    // Only now that the digits are known to fit: counting them in would overflow first.
    std::int64_t value = 0;
    for (std::size_t i = start; i < mAt; ++i) value = value * 10 + (mText[i] - '0');
    out = value;
    return true;
  }

 private:
  std::string_view mText;
  std::size_t mAt = 0;
};

// Reads the members of an object whose '{' has been taken, each with `member(name)`, which
// answers false for a member it does not take. An empty object is fine.
template <typename Member>
bool Members(Cursor& in, Member&& member) {
  if (in.Take('}')) return true;
  do {
    std::string_view name;
    if (!in.Text(name) || !in.Take(':') || !member(name)) return false;
  } while (in.Take(','));
  return in.Take('}');
}

bool ReadCriterion(Cursor& in, Criterion& c) {
  if (!in.Take('{')) return false;
  unsigned seen = 0;
  auto once = [&](unsigned bit, std::string& out) {
    if (seen & bit) return false;
    seen |= bit;
    return in.Text(out);
  };
  if (!Members(in, [&](std::string_view name) {
        if (name == "key") return once(1, c.key);
        if (name == "value") return once(2, c.value);
        if (name == "op") return once(4, c.op);
        if (name == "application") return once(8, c.application);
        return false;
      })) {
    return false;
  }
  return seen == 15;
}

}  // namespace

std::optional<Request> ReadRequestDirectly(std::string_view text) {
  Cursor in(text);
  Request r;
  unsigned seen = 0;
  auto once = [&](unsigned bit) {
    if (seen & bit) return false;
    seen |= bit;
    return true;
  };
  std::int64_t type = 0;
  if (!in.Take('{')) return std::nullopt;
  const bool read = Members(in, [&](std::string_view name) {
    if (name == "request_id") return once(1) && in.Text(r.requestId);
    if (name == "identity") return once(2) && in.Text(r.identity);
    if (name == "version") return once(4) && in.Text(r.version);
    if (name == "requester") return once(8) && in.Text(r.requester);
    if (name == "user_id") return once(16) && in.Integer(r.userId);
    if (name == "message_type") return once(32) && in.Integer(type);
    // Change rows (a save) are left to the tree reader.
    if (name == "data_sets") return once(64) && in.Take('{') && in.Take('}');
    if (name == "criteria") {
      if (!once(128) || !in.Take('[')) return false;
      if (in.Take(']')) return true;
      do {
        if (!ReadCriterion(in, r.criteria.emplace_back())) return false;
      } while (in.Take(','));
      return in.Take(']');
    }
    return false;
  });
  // Every member but data_sets is required.
  if (!read || (seen | 64) != 255 || !in.AtEnd()) return std::nullopt;
  if (type > std::numeric_limits<std::int16_t>::max()) return std::nullopt;
  r.messageType = static_cast<int>(type);
  return r;
}

}  // namespace fm::protocol::detail
