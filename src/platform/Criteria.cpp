#include "platform/Criteria.h"

#include <fmt/format.h>

#include <cstddef>
#include <utility>

#include "base/Numbers.h"
#include "base/Text.h"
#include "platform/PlatformError.h"

namespace fm::detail {

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Folded(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = Lower(c);
  return out;
}

// `folded` is already lower case; only the row's text needs folding.
int CompareWithFolded(std::string_view text, std::string_view folded) {
  const std::size_t n = text.size() < folded.size() ? text.size() : folded.size();
  for (std::size_t i = 0; i < n; ++i) {
    const auto a = static_cast<unsigned char>(Lower(text[i]));
    const auto b = static_cast<unsigned char>(folded[i]);
    if (a != b) return a < b ? -1 : 1;
  }
  if (text.size() == folded.size()) return 0;
  return text.size() < folded.size() ? -1 : 1;
}

bool IsWildcardAny(char c) { return c == '*' || c == '%'; }

// Glob match with one-step backtracking to the last '*': linear for the patterns criteria
// use, never allocates. `pattern` is lower case.
bool LikeMatches(std::string_view text, std::string_view pattern) {
  std::size_t t = 0;
  std::size_t p = 0;
  std::size_t starP = std::string_view::npos;
  std::size_t starT = 0;
  while (t < text.size()) {
    if (p < pattern.size() && IsWildcardAny(pattern[p])) {
      starP = p++;
      starT = t;
    } else if (p < pattern.size() && (pattern[p] == '_' || pattern[p] == Lower(text[t]))) {
      ++p;
      ++t;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      t = ++starT;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && IsWildcardAny(pattern[p])) ++p;
  return p == pattern.size();
}

template <typename T>
int Compare3(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

bool Holds(CompiledCriterion::Op op, int order) {
  using Op = CompiledCriterion::Op;
  switch (op) {
    case Op::Equal:
      return order == 0;
    case Op::NotEqual:
      return order != 0;
    case Op::Less:
      return order < 0;
    case Op::LessEqual:
      return order <= 0;
    case Op::Greater:
      return order > 0;
    case Op::GreaterEqual:
      return order >= 0;
    default:
      return false;
  }
}

using Comparison = CompiledCriterion::Comparison;
using text::FormatDouble;
using text::FormatInteger;
using text::IsBlank;
using text::IsDigit;
using text::kDoubleTextSize;
using text::NumberKind;
using text::ParseNumber;

// A row's number against the comparison's number.
int CompareNumbers(bool rowIsInteger, std::int64_t rowInteger, double rowReal,
                   const Comparison& c) {
  if (rowIsInteger && c.numberIsInteger) return Compare3(rowInteger, c.integer);
  return Compare3(rowReal, c.real);
}

bool TestComparison(const Comparison& c, const Value& value) {
  using Op = CompiledCriterion::Op;
  if (c.op == Op::IsNull) return value.IsNull();
  if (c.op == Op::IsNotNull) return !value.IsNull();
  if (value.IsNull()) return false;

  if (c.op == Op::Like) {
    if (value.IsText()) return LikeMatches(value.AsText(), c.folded);
    char buffer[kDoubleTextSize];
    const std::size_t length = value.IsInteger() ? FormatInteger(value.AsInteger(), buffer)
                                                 : FormatDouble(value.AsDouble(), buffer);
    return LikeMatches(std::string_view(buffer, length), c.folded);
  }

  if (value.IsInteger() || value.IsDouble()) {
    const bool isInteger = value.IsInteger();
    const std::int64_t integer = isInteger ? value.AsInteger() : 0;
    const double real = isInteger ? static_cast<double>(integer) : value.AsDouble();
    if (c.hasNumber) return Holds(c.op, CompareNumbers(isInteger, integer, real, c));
    // Only reachable for a column whose declared type is Text holding a number; compiling
    // refuses non-numeric texts against numeric columns.
    char buffer[kDoubleTextSize];
    const std::size_t length =
        isInteger ? FormatInteger(integer, buffer) : FormatDouble(real, buffer);
    return Holds(c.op, CompareWithFolded(std::string_view(buffer, length), c.folded));
  }

  const std::string& text = value.AsText();
  if (c.literal != Comparison::Literal::Text && c.hasNumber) {
    std::int64_t integer = 0;
    double real = 0;
    const NumberKind kind = ParseNumber(text, integer, real);
    if (kind != NumberKind::NotANumber) {
      return Holds(c.op, CompareNumbers(kind == NumberKind::Integer, integer, real, c));
    }
  }
  return Holds(c.op, CompareWithFolded(text, c.folded));
}

// --- Tokens

enum class TokenKind { Name, Text, Number, Operator, Open, Close, End };

struct Token {
  TokenKind kind = TokenKind::End;
  std::string_view source;   // as written (names without brackets, texts with quotes)
  std::string text;          // texts: the content, quotes undoubled
  std::size_t position = 0;  // 1-based
  bool bracketed = false;
};

}  // namespace

class CriterionParser {
 public:
  CriterionParser(std::string_view text, const std::vector<FieldDef>& fields,
                  CompiledCriterion& out)
      : mSource(text), mFields(fields), mOut(out) {}

  void Run() {
    Tokenize();
    if (mTokens.size() == 1) Fail("No comparison (the text is empty)");
    mOut.mRoot = ParseExpression();
    const Token& next = Peek();
    if (next.kind == TokenKind::Close) {
      Fail(fmt::format("Unmatched ')' at position {}", next.position));
    }
    if (next.kind != TokenKind::End) {
      Fail(fmt::format("Unexpected '{}' at position {} (expected AND, OR or the end)", next.source,
                       next.position));
    }
  }

 private:
  [[noreturn]] void Fail(const std::string& problem,
                         std::int64_t number = PlatformError::kBadCriterion) const {
    throw PlatformError(number, fmt::format("{} in criterion: {}", problem, mSource));
  }

  // --- Lexing

  void Tokenize() {
    std::size_t i = 0;
    const std::size_t n = mSource.size();
    while (true) {
      while (i < n && IsBlank(mSource[i])) ++i;
      Token token;
      token.position = i + 1;
      if (i == n) {
        mTokens.push_back(std::move(token));
        return;
      }
      const char c = mSource[i];
      const std::size_t start = i;
      if (c == '(' || c == ')') {
        token.kind = c == '(' ? TokenKind::Open : TokenKind::Close;
        ++i;
      } else if (c == '=' || c == '<' || c == '>') {
        token.kind = TokenKind::Operator;
        ++i;
        if (c == '<' && i < n && (mSource[i] == '=' || mSource[i] == '>')) ++i;
        if (c == '>' && i < n && mSource[i] == '=') ++i;
      } else if (c == '\'') {
        token.kind = TokenKind::Text;
        ++i;
        bool closed = false;
        while (i < n) {
          if (mSource[i] == '\'') {
            if (i + 1 < n && mSource[i + 1] == '\'') {
              token.text += '\'';
              i += 2;
              continue;
            }
            ++i;
            closed = true;
            break;
          }
          token.text += mSource[i++];
        }
        if (!closed) {
          Fail(fmt::format("Unterminated text starting at position {} (a closing ' is missing)",
                           token.position));
        }
      } else if (c == '#') {
        // A date literal: dates are ISO texts here, so it compares as the text inside.
        const std::size_t close = mSource.find('#', i + 1);
        if (close == std::string_view::npos) {
          Fail(fmt::format("Unterminated date starting at position {} (a closing # is missing)",
                           token.position));
        }
        token.kind = TokenKind::Text;
        token.text = std::string(mSource.substr(i + 1, close - i - 1));
        i = close + 1;
      } else if (c == '[') {
        const std::size_t close = mSource.find(']', i + 1);
        if (close == std::string_view::npos) {
          Fail(
              fmt::format("Unterminated field name starting at position {} (a closing ] is "
                          "missing)",
                          token.position));
        }
        token.kind = TokenKind::Name;
        token.bracketed = true;
        token.source = mSource.substr(i + 1, close - i - 1);
        mTokens.push_back(std::move(token));
        i = close + 1;
        continue;
      } else if (IsDigit(c) || c == '.' ||
                 ((c == '-' || c == '+') && i + 1 < n &&
                  (IsDigit(mSource[i + 1]) || mSource[i + 1] == '.'))) {
        token.kind = TokenKind::Number;
        ++i;
        // Take everything that can belong to a number, then let the number reader judge, so
        // "12x" or "1.2.3" is reported as one malformed number rather than two tokens.
        while (i < n &&
               (IsNameChar(mSource[i]) || mSource[i] == '.' ||
                ((mSource[i] == '-' || mSource[i] == '+') && Lower(mSource[i - 1]) == 'e'))) {
          ++i;
        }
      } else if (IsNameStart(c)) {
        token.kind = TokenKind::Name;
        while (i < n && IsNameChar(mSource[i])) ++i;
      } else {
        Fail(fmt::format("Unexpected character '{}' at position {}", c, token.position));
      }
      token.source = mSource.substr(start, i - start);
      mTokens.push_back(std::move(token));
    }
  }

  static bool IsNameStart(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '$';
  }
  static bool IsNameChar(char c) { return IsNameStart(c) || IsDigit(c); }

  // --- Parsing

  const Token& Peek() const { return mTokens[mNext]; }
  const Token& Take() { return mTokens[mNext++]; }

  bool PeekKeyword(std::string_view keyword) const {
    const Token& t = Peek();
    return t.kind == TokenKind::Name && !t.bracketed && text::EqualsNoCase(t.source, keyword);
  }

  static bool IsKeyword(const Token& t) {
    if (t.kind != TokenKind::Name || t.bracketed) return false;
    for (std::string_view k : {"AND", "OR", "LIKE", "NULL", "IS", "NOT"}) {
      if (text::EqualsNoCase(t.source, k)) return true;
    }
    return false;
  }

  int ParseExpression() { return ParseJoined(CompiledCriterion::Node::Kind::Or, "OR"); }

  int ParseTerm() { return ParseJoined(CompiledCriterion::Node::Kind::And, "AND"); }

  int ParseJoined(CompiledCriterion::Node::Kind kind, std::string_view keyword) {
    std::vector<int> parts;
    parts.push_back(kind == CompiledCriterion::Node::Kind::Or ? ParseTerm() : ParseFactor());
    while (PeekKeyword(keyword)) {
      const Token& joiner = Take();
      if (Peek().kind == TokenKind::End) {
        Fail(fmt::format("Expected a comparison after '{}' at position {}", joiner.source,
                         joiner.position));
      }
      parts.push_back(kind == CompiledCriterion::Node::Kind::Or ? ParseTerm() : ParseFactor());
    }
    if (parts.size() == 1) return parts.front();
    CompiledCriterion::Node node;
    node.kind = kind;
    node.first = static_cast<int>(mOut.mChildren.size());
    node.count = static_cast<int>(parts.size());
    mOut.mChildren.insert(mOut.mChildren.end(), parts.begin(), parts.end());
    mOut.mNodes.push_back(node);
    return static_cast<int>(mOut.mNodes.size()) - 1;
  }

  int ParseFactor() {
    const Token& first = Peek();
    if (first.kind == TokenKind::Open) {
      Take();
      if (++mNesting > kMaxCriterionNesting) {
        Fail(fmt::format("Parentheses nested more than {} levels deep at position {}",
                         kMaxCriterionNesting, first.position));
      }
      if (Peek().kind == TokenKind::Close) {
        Fail(fmt::format("Empty parentheses at position {}", first.position));
      }
      const int inner = ParseExpression();
      if (Peek().kind != TokenKind::Close) {
        const Token& got = Peek();
        if (got.kind == TokenKind::End) {
          Fail(fmt::format("Missing ')' for the '(' at position {}", first.position));
        }
        Fail(fmt::format("Expected ')' for the '(' at position {} but found '{}' at position {}",
                         first.position, got.source, got.position));
      }
      Take();
      --mNesting;
      return inner;
    }
    if (first.kind != TokenKind::Name || IsKeyword(first)) {
      if (first.kind == TokenKind::End) {
        Fail(fmt::format("Expected a field name at position {} but the criterion ends",
                         first.position));
      }
      Fail(fmt::format("Expected a field name at position {} but found '{}'", first.position,
                       first.source));
    }
    const Token& fieldToken = Take();
    const int field = FindFieldIgnoringCase(mFields, fieldToken.source);
    if (field < 0) {
      Fail(fmt::format("Unknown field '{}'", fieldToken.source), PlatformError::kItemNotFound);
    }

    CompiledCriterion::Comparison comparison;
    comparison.field = field;
    if (PeekKeyword("IS")) {
      Take();
      bool negated = false;
      if (PeekKeyword("NOT")) {
        Take();
        negated = true;
      }
      if (!PeekKeyword("NULL")) {
        Fail(fmt::format("Expected NULL after IS at position {}", Peek().position));
      }
      Take();
      comparison.op = negated ? CompiledCriterion::Op::IsNotNull : CompiledCriterion::Op::IsNull;
      return AddComparison(std::move(comparison));
    }

    const Token& opToken = Peek();
    if (opToken.kind == TokenKind::Operator) {
      comparison.op = OperatorOf(opToken.source);
    } else if (PeekKeyword("LIKE")) {
      comparison.op = CompiledCriterion::Op::Like;
    } else {
      Fail(
          fmt::format("Expected a comparison operator (= <> < <= > >= LIKE) after '{}' at "
                      "position {}",
                      fieldToken.source, opToken.position));
    }
    Take();

    const Token& literal = Peek();
    if (PeekKeyword("NULL")) {
      Take();
      if (comparison.op == CompiledCriterion::Op::Equal) {
        comparison.op = CompiledCriterion::Op::IsNull;
      } else if (comparison.op == CompiledCriterion::Op::NotEqual) {
        comparison.op = CompiledCriterion::Op::IsNotNull;
      } else {
        Fail(fmt::format("NULL can only be tested with = or <>, not with '{}' at position {}",
                         opToken.source, opToken.position));
      }
      return AddComparison(std::move(comparison));
    }
    if (literal.kind == TokenKind::Text) {
      PrepareText(comparison, Take(), fieldToken);
    } else if (literal.kind == TokenKind::Number) {
      PrepareNumber(comparison, Take());
    } else {
      Fail(fmt::format("Expected a value after '{}' at position {}", opToken.source,
                       opToken.position));
    }
    return AddComparison(std::move(comparison));
  }

  static CompiledCriterion::Op OperatorOf(std::string_view op) {
    using Op = CompiledCriterion::Op;
    if (op == "=") return Op::Equal;
    if (op == "<>") return Op::NotEqual;
    if (op == "<") return Op::Less;
    if (op == "<=") return Op::LessEqual;
    if (op == ">") return Op::Greater;
    return Op::GreaterEqual;
  }

  void PrepareText(CompiledCriterion::Comparison& c, const Token& token,
                   const Token& fieldToken) const {
    c.literal = CompiledCriterion::Comparison::Literal::Text;
    c.folded = Folded(token.text);
    const FieldDef& def = mFields[static_cast<std::size_t>(c.field)];
    if (c.op == CompiledCriterion::Op::Like || def.type == FieldType::Text) return;
    const NumberKind kind = ParseNumber(token.text, c.integer, c.real);
    if (kind == NumberKind::NotANumber) {
      Fail(
          fmt::format("The text {} at position {} is not a number and cannot be compared with "
                      "the {} field '{}'",
                      token.source, token.position, FieldTypeName(def.type), fieldToken.source));
    }
    c.hasNumber = true;
    c.numberIsInteger = kind == NumberKind::Integer;
  }

  void PrepareNumber(CompiledCriterion::Comparison& c, const Token& token) const {
    const NumberKind kind = ParseNumber(token.source, c.integer, c.real);
    if (kind == NumberKind::NotANumber) {
      Fail(fmt::format("Malformed number '{}' at position {}", token.source, token.position));
    }
    c.literal = kind == NumberKind::Integer ? CompiledCriterion::Comparison::Literal::Integer
                                            : CompiledCriterion::Comparison::Literal::Real;
    c.hasNumber = true;
    c.numberIsInteger = kind == NumberKind::Integer;
    c.folded = Folded(token.source);
  }

  int AddComparison(CompiledCriterion::Comparison comparison) {
    mOut.mComparisons.push_back(std::move(comparison));
    CompiledCriterion::Node node;
    node.kind = CompiledCriterion::Node::Kind::Compare;
    node.first = static_cast<int>(mOut.mComparisons.size()) - 1;
    mOut.mNodes.push_back(node);
    return static_cast<int>(mOut.mNodes.size()) - 1;
  }

  std::string_view mSource;
  const std::vector<FieldDef>& mFields;
  CompiledCriterion& mOut;
  std::vector<Token> mTokens;
  std::size_t mNext = 0;
  int mNesting = 0;  // parentheses open around the factor being parsed
};

std::shared_ptr<const CompiledCriterion> CompiledCriterion::Compile(
    std::string_view text, const std::vector<FieldDef>& fields) {
  auto compiled = std::make_shared<CompiledCriterion>();
  compiled->mText = std::string(text);
  CriterionParser(compiled->mText, fields, *compiled).Run();
  return compiled;
}

bool CompiledCriterion::Evaluate(int index, const Value* row) const {
  const Node& node = mNodes[static_cast<std::size_t>(index)];
  switch (node.kind) {
    case Node::Kind::Compare: {
      const Comparison& c = mComparisons[static_cast<std::size_t>(node.first)];
      return TestComparison(c, row[c.field]);
    }
    case Node::Kind::And:
      for (int i = 0; i < node.count; ++i) {
        if (!Evaluate(mChildren[static_cast<std::size_t>(node.first) + static_cast<std::size_t>(i)],
                      row))
          return false;
      }
      return true;
    case Node::Kind::Or:
      for (int i = 0; i < node.count; ++i) {
        if (Evaluate(mChildren[static_cast<std::size_t>(node.first) + static_cast<std::size_t>(i)],
                     row))
          return true;
      }
      return false;
  }
  return false;
}

int FindFieldIgnoringCase(const std::vector<FieldDef>& fields, std::string_view name) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (text::EqualsNoCase(fields[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

int CompareIgnoringCase(std::string_view a, std::string_view b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(Lower(a[i]));
    const auto y = static_cast<unsigned char>(Lower(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace fm::detail
