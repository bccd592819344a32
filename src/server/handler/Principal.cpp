#include "server/handler/Principal.h"

#include <utility>

namespace fm::server {

const char* RoleName(Role role) {
  switch (role) {
    case Role::Viewer:
      return "viewer";
    case Role::Clerk:
      return "clerk";
    case Role::Admin:
      return "admin";
    case Role::Auditor:
      return "auditor";
  }
  return "viewer";
}

std::optional<Role> RoleFromName(std::string_view name) {
  for (Role role : {Role::Viewer, Role::Clerk, Role::Admin, Role::Auditor}) {
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
    case Action::SettleCount:
      return role == Role::Admin;
    case Action::Count:
    case Action::CertifyCount:
      return role == Role::Auditor;
  }
  return false;
}

Principal Principal::LocalAdministrator(std::int64_t userId, std::string displayName) {
  return Principal{userId, std::move(displayName), Role::Admin, StationScope::Everywhere()};
}

}  // namespace fm::server
