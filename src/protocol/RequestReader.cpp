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

template <typename CriterionOut>
bool ReadCriterion(Cursor& in, CriterionOut& c) {
  if (!in.Take('{')) return false;
  unsigned seen = 0;
  auto once = [&](unsigned bit, auto& out) {
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

// Reads into a Request, or into the Shape below, which keeps nothing: both take the same
// texts, as they run the same code.
template <typename RequestOut>
bool ReadInto(std::string_view text, RequestOut& r, std::int64_t& type) {
  Cursor in(text);
  unsigned seen = 0;
  auto once = [&](unsigned bit) {
    if (seen & bit) return false;
    seen |= bit;
    return true;
  };
  if (!in.Take('{')) return false;
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
  return read && (seen | 64) == 255 && in.AtEnd() &&
         type <= std::numeric_limits<std::int16_t>::max();
}

struct CriterionShape {
  std::string_view key, value, op, application;
};
struct Shape {
  std::string_view requestId, identity, version, requester;
  std::int64_t userId = 0;
  struct {
    CriterionShape last;
    std::size_t count = 0;
    CriterionShape& emplace_back() {
      ++count;
      return last;
    }
  } criteria;
};

}  // namespace

std::optional<Request> ReadRequestDirectly(std::string_view text) {
  Request r;
  std::int64_t type = 0;
  if (!ReadInto(text, r, type)) return std::nullopt;
  r.messageType = static_cast<int>(type);
  return r;
}

std::optional<std::size_t> DirectReadingCost(std::string_view text) {
  Shape shape;
  std::int64_t type = 0;
  if (!ReadInto(text, shape, type)) return std::nullopt;
  // Each text at most once, in a block of its length and 32 bytes of the heap's; the
  // criteria's vector while it grows, its old block beside the new one.
  const std::size_t criteria = shape.criteria.count;
  return kDirectReadingBytesFixed + text.size() + (4 + 4 * criteria) * 32 +
         3 * criteria * sizeof(Criterion);
}

}  // namespace fm::protocol::detail
