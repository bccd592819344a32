#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "server/store/StationScope.h"

namespace fm::server {

// What a principal may do. Of the first three each includes the one before it:
//   viewer   searches, reads the chain of custody, reports and the uses of forms;
//   clerk    also saves changes and records uses, within its station scope;
//   admin    everything at every station: saves, uses and their corrections, withdrawals,
//            settling what a physical count found missing, token management;
//   auditor  reads as a viewer does, saves nothing, and alone opens, enters and certifies
//            the physical counts of its stations (docs/counts.md): it holds no forms, so it
//            may attest to those of others.
enum class Role { Viewer, Clerk, Admin, Auditor };

// The requests a role is weighed against.
enum class Action {
  Search,
  History,
  Report,
  Save,
  Withdraw,
  ManageTokens,
  RecordUses,
  CorrectUses,
  Count,  // open a physical count and enter what was counted
  CertifyCount,
  SettleCount  // settle what a certified count found missing
};

// "viewer", "clerk", "admin", "auditor".
const char* RoleName(Role role);
// The role of that name (exact, lower case), or none.
std::optional<Role> RoleFromName(std::string_view name);

bool RolePermits(Role role, Action action);

// Who a request acts for: the owner of the bearer token it carries (or of the workstation,
// for the embedded inventory). Its id and name are what the change stamps and the chain
// of custody record.
struct Principal {
  std::int64_t userId = 0;
  std::string displayName;
  Role role = Role::Viewer;
  // Where a clerk may change ranges, and an auditor count; an admin's is always everywhere.
  StationScope scope;

  bool May(Action action) const { return RolePermits(role, action); }

  // The workstation's own user over its embedded inventory, which it owns: an admin at
  // every station.
  static Principal LocalAdministrator(std::int64_t userId, std::string displayName);

  friend bool operator==(const Principal&, const Principal&) = default;
};

}  // namespace fm::server
