#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fm::server {

// What a principal may do. Each role includes the one before it:
//   viewer  searches, reads the chain of custody, reports and the uses of forms;
//   clerk   also saves changes and records uses, within its station scope;
//   admin   everything at every station: saves, uses and their corrections, withdrawals,
//           token management.
enum class Role { Viewer, Clerk, Admin };

// The requests a role is weighed against.
enum class Action {
  Search,
  History,
  Report,
  Save,
  Withdraw,
  ManageTokens,
  RecordUses,
  CorrectUses
};

// "viewer", "clerk", "admin".
const char* RoleName(Role role);
// The role of that name (exact, lower case), or none.
std::optional<Role> RoleFromName(std::string_view name);

bool RolePermits(Role role, Action action);

// The stations whose ranges a principal may change. An entry is a troop ("A": the ranges
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

// Who a request acts for: the owner of the bearer token it carries (or of the workstation,
// for the embedded inventory). Its id and name are what the change stamps and the chain
// of custody record.
struct Principal {
  std::int64_t userId = 0;
  std::string displayName;
  Role role = Role::Viewer;
  // Where a clerk may change ranges; an admin's is always everywhere.
  StationScope scope;

  bool May(Action action) const { return RolePermits(role, action); }

  // The workstation's own user over its embedded inventory, which it owns: an admin at
  // every station.
  static Principal LocalAdministrator(std::int64_t userId, std::string displayName);

  friend bool operator==(const Principal&, const Principal&) = default;
};

// "Troop/District B2" or "Troop/District B": how a clerk names the station holding a range.
std::string StationText(std::string_view troop, std::string_view district);

}  // namespace fm::server
