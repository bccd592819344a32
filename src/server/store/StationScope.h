#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace fm::server {

// The stations whose ranges a caller may change. An entry is a troop ("A": the ranges
// held by troop A itself and by every one of its districts) or a Troop/District ("B2":
// the ranges held by district 2 of troop B only); "*" is every station. A scope with no
// entry covers nothing. Letter case is ignored.
class StationScope {
 public:
  // Covers nothing.
  StationScope() = default;

  static StationScope Everywhere();
  // Entries separated by commas ("A1,A2", "B", "*"); blanks around entries are ignored. An
  // entry is a letter or digit (the troop) followed by at most two (the district). Throws
  // std::invalid_argument saying which entry is wrong; "*" mixed with entries and an empty
  // list are refused too.
  static StationScope Parse(std::string_view text);

  // Whether a range held by `troop` and `district` (empty: held by the troop itself) lies
  // within the scope.
  bool Covers(std::string_view troop, std::string_view district) const;
  bool IsEverywhere() const { return mEverywhere; }
  // "*" or the entries, upper-cased, sorted and joined by commas: Parse(Text()) is the
  // same scope.
  std::string Text() const;

  friend bool operator==(const StationScope&, const StationScope&) = default;

 private:
  bool mEverywhere = false;
  std::vector<std::string> mEntries;  // upper-cased, sorted, unique
};

// "Troop/District B2" or "Troop/District B": how a clerk names the station holding a range.
std::string StationText(std::string_view troop, std::string_view district);

}  // namespace fm::server
