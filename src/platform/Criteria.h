#pragma once

// Criterion texts of record sets (Filter, Find), compiled once against a column list so that
// testing a row is a walk over a few prepared comparisons: field names are already column
// indices and literals are already in the form each column compares with. Internal to the
// platform.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Recordset.h"

namespace fm::detail {

// Deepest nesting of parentheses a criterion may have. The screens' criteria nest two
// levels; compiling and testing a row recurse once a level, so the cap keeps a mistyped or
// hostile text from exhausting the stack.
inline constexpr int kMaxCriterionNesting = 64;

// A compiled criterion. Immutable once built, so a record set and its clones may share one.
//
// Grammar (keywords in any letter case):
//   expr    := term (OR term)*
//   term    := factor (AND factor)*
//   factor  := '(' expr ')' | field op literal | field IS [NOT] NULL
//   op      := = | <> | < | <= | > | >= | LIKE
//   field   := name | '[' name ']'
//   literal := 'text' ('' inside is one quote) | #date# (compared as its text) | number | NULL
//
// Meaning: a null field meets only `= NULL` / `IS NULL`; compared with any other literal it
// is false, also with `<>`. Text comparisons ignore letter case. A numeric column compares
// numerically (exactly as 64-bit integers when both sides are whole numbers); a quoted text
// against a numeric column must read as a number. A text column against a number literal
// compares numerically when the row's text reads as a number, otherwise as text against the
// number as written. LIKE patterns take * or % for any run of characters and _ for one.
struct CompiledCriterion {
 public:
  // Compiles `text` for rows of `fields`. Throws PlatformError: kItemNotFound for a field the
  // columns do not have, kBadCriterion for anything malformed or nested deeper than
  // kMaxCriterionNesting; the message names the problem, its position (1-based) and the
  // criterion.
  static std::shared_ptr<const CompiledCriterion> Compile(std::string_view text,
                                                          const std::vector<FieldDef>& fields);

  // Whether a row (one value per column, in column order) meets the criterion. Does not
  // allocate.
  bool Matches(const Value* row) const { return Evaluate(mRoot, row); }

  const std::string& Text() const { return mText; }

  enum class Op {
    Equal,
    NotEqual,
    Less,
    LessEqual,
    Greater,
    GreaterEqual,
    Like,
    IsNull,
    IsNotNull
  };

  // One prepared comparison `field op literal`.
  struct Comparison {
    int field = 0;
    Op op = Op::Equal;
    enum class Literal { None, Integer, Real, Text } literal = Literal::None;
    // Number literals, and text literals that read as numbers: the number.
    bool hasNumber = false;
    bool numberIsInteger = false;
    std::int64_t integer = 0;
    double real = 0;
    // The literal as written (text without quotes, number digits), letter case folded to
    // lower case for comparisons and patterns.
    std::string folded;
  };

  struct Node {
    enum class Kind { Compare, And, Or } kind = Kind::Compare;
    // Compare: index into mComparisons. And/Or: children are mChildren[first, first+count).
    int first = 0;
    int count = 0;
  };

 private:
  friend class CriterionParser;

  bool Evaluate(int node, const Value* row) const;

  std::string mText;
  std::vector<Comparison> mComparisons;
  std::vector<Node> mNodes;
  std::vector<int> mChildren;
  int mRoot = 0;
};

// Column-name lookup shared by criteria and sort keys: index of `name` in `fields`, letter
// case ignored, or -1.
int FindFieldIgnoringCase(const std::vector<FieldDef>& fields, std::string_view name);

// Case-insensitive (ASCII) comparison of two texts: <0, 0, >0.
int CompareIgnoringCase(std::string_view a, std::string_view b);

}  // namespace fm::detail
