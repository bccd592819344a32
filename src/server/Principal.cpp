#include "server/Principal.h"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

#include "base/Text.h"

namespace fm::server {

namespace {

bool IsStationCharacter(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

}  // namespace

const char* RoleName(Role role) {
  switch (role) {
    case Role::Viewer:
      return "viewer";
    case Role::Clerk:
      return "clerk";
    case Role::Admin:
      return "admin";
  }
  return "viewer";
}

std::optional<Role> RoleFromName(std::string_view name) {
  for (Role role : {Role::Viewer, Role::Clerk, Role::Admin}) {
    if (name == RoleName(role)) return role;
  }
  return std::nullopt;
}

bool RolePermits(Role role, Action action) {
  switch (action) {
    case Action::Search:
    case Action::History:
    case Action::Report:
      return true;
    case Action::Save:
    case Action::RecordUses:
      return role == Role::Clerk || role == Role::Admin;
    case Action::Withdraw:
    case Action::CorrectUses:
    case Action::ManageTokens:
      return role == Role::Admin;
  }
  return false;
}

StationScope StationScope::Everywhere() {
  StationScope scope;
  scope.mEverywhere = true;
  return scope;
}

StationScope StationScope::Parse(std::string_view text) {
  StationScope scope;
  std::string_view rest = text;
  bool star = false;
  for (;;) {
    const std::size_t comma = rest.find(',');
    const std::string entry = text::ToUpper(text::Trim(rest.substr(0, comma)));
    if (entry == "*") {
      star = true;
    } else if (entry.empty() || entry.size() > 3 ||
               !std::all_of(entry.begin(), entry.end(), IsStationCharacter)) {
      throw std::invalid_argument(
          fmt::format("\"{}\" is not a station: give a troop (A), a Troop/District (B2) or * "
                      "for every station, several separated by commas",
                      entry));
    } else {
      scope.mEntries.push_back(entry);
    }
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  if (star && !scope.mEntries.empty()) {
    throw std::invalid_argument("* already means every station; give it alone");
  }
  std::sort(scope.mEntries.begin(), scope.mEntries.end());
  scope.mEntries.erase(std::unique(scope.mEntries.begin(), scope.mEntries.end()),
                       scope.mEntries.end());
  scope.mEverywhere = star;
  return scope;
}

bool StationScope::Covers(std::string_view troop, std::string_view district) const {
  if (mEverywhere) return true;
  const std::string t = text::ToUpper(text::Trim(troop));
  const std::string d = text::ToUpper(text::Trim(district));
  for (const std::string& entry : mEntries) {
    if (entry.compare(0, 1, t) != 0 || t.size() != 1) continue;
    // A troop entry covers its districts; a Troop/District entry only itself.
    if (entry.size() == 1 || entry.compare(1, std::string::npos, d) == 0) return true;
  }
  return false;
}

std::string StationScope::Text() const {
  if (mEverywhere) return "*";
  std::string joined;
  for (const std::string& entry : mEntries) joined += (joined.empty() ? "" : ",") + entry;
  return joined;
}

Principal Principal::LocalAdministrator(std::int64_t userId, std::string displayName) {
  return Principal{userId, std::move(displayName), Role::Admin, StationScope::Everywhere()};
}

std::string StationText(std::string_view troop, std::string_view district) {
  return fmt::format("Troop/District {}{}", text::Trim(troop), text::Trim(district));
}

}  // namespace fm::server
