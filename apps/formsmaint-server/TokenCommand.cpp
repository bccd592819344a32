#include "TokenCommand.h"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "server/handler/Principal.h"
#include "server/http/TokenFile.h"

namespace fm::server::cli {

namespace {

// Longest display name kept: it is shown in lists and recorded in every history row.
constexpr std::size_t kMaxNameLength = 100;
// Shortest token id `revoke --id` takes, so a slip of the finger cannot match many.
constexpr std::size_t kShortestIdPrefix = 6;

struct TokenSelection {
  std::string tokenFile;
  // add
  std::int64_t user = 0;
  std::string name;
  std::string role;
  std::string stations;
  // revoke
  std::optional<std::int64_t> revokeUser;
  std::string revokeId;
};

std::string NowUtc() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z", utc.tm_year + 1900, utc.tm_mon + 1,
                     utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
}

std::string Describe(const TokenRecord& r) {
  return fmt::format("{} user {} {} ({}, stations {})", r.Id(), r.principal.userId,
                     r.principal.displayName, RoleName(r.principal.role), r.principal.scope.Text());
}

Principal PrincipalOf(const TokenSelection& s) {
  Principal principal;
  principal.userId = s.user;
  principal.displayName = s.name;
  const auto role = RoleFromName(s.role);
  if (!role)
    throw UsageError(fmt::format("--role \"{}\": give viewer, clerk, admin or auditor", s.role));
  principal.role = *role;
  if (s.name.empty() || s.name.size() > kMaxNameLength ||
      s.name.find_first_of("\r\n\t") != std::string::npos) {
    throw UsageError(
        fmt::format("--name: the user's display name, one line of at most {} "
                    "characters",
                    kMaxNameLength));
  }
  if (principal.role == Role::Admin) {
    if (!s.stations.empty() && s.stations != "*") {
      throw UsageError("--stations: an admin acts at every station; leave it out or give *");
    }
    principal.scope = StationScope::Everywhere();
  } else if (s.stations.empty()) {
    // A viewer changes nothing, so its stations do not matter, and an auditor without them
    // counts everywhere (an audit office); a clerk's must be said.
    if (principal.role == Role::Clerk) {
      throw UsageError(
          "--stations: a clerk needs the stations whose ranges it may change, "
          "e.g. --stations A1,A2 (troop A alone: A; every station: *)");
    }
    principal.scope = StationScope::Everywhere();
  } else {
    try {
      principal.scope = StationScope::Parse(s.stations);
    } catch (const std::invalid_argument& e) {
      throw UsageError(fmt::format("--stations: {}", e.what()));
    }
  }
  return principal;
}

int Add(const TokenSelection& s) {
  const Principal principal = PrincipalOf(s);
  const std::string token = NewToken();
  TokenRecord record{TokenHash(token), principal, NowUtc()};
  EditTokenFile(s.tokenFile, [&](std::vector<TokenRecord>& records) { records.push_back(record); });
  fmt::print("Added token {} to {}.\n", Describe(record), s.tokenFile);
  fmt::print(
      "Give the token below to the user now: it is not kept anywhere and cannot be shown "
      "again.\nA running server accepts it after SIGHUP (kill -HUP <pid>).\n");
  fmt::print("{}\n", token);
  return 0;
}

int List(const TokenSelection& s) {
  const auto records = ReadTokenFile(s.tokenFile);
  fmt::print("{:<12}  {:>10}  {:<6}  {:<20}  {:<20}  {}\n", "ID", "USER", "ROLE", "STATIONS",
             "CREATED", "NAME");
  for (const auto& r : records) {
    fmt::print("{:<12}  {:>10}  {:<6}  {:<20}  {:<20}  {}\n", r.Id(), r.principal.userId,
               RoleName(r.principal.role), r.principal.scope.Text(), r.created,
               r.principal.displayName);
  }
  fmt::print("{} token{}\n", records.size(), records.size() == 1 ? "" : "s");
  return 0;
}

int Revoke(const TokenSelection& s) {
  if (s.revokeUser.has_value() == !s.revokeId.empty()) {
    throw UsageError(
        "token revoke: give --user ID (every token of the user) or --id TOKEN-ID "
        "(one token, as token list shows it)");
  }
  if (!s.revokeId.empty() && s.revokeId.size() < kShortestIdPrefix) {
    throw UsageError(
        fmt::format("--id: give at least {} characters of the token id", kShortestIdPrefix));
  }
  std::vector<TokenRecord> revoked;
  EditTokenFile(s.tokenFile, [&](std::vector<TokenRecord>& records) {
    std::vector<TokenRecord> kept;
    for (auto& r : records) {
      const bool match = s.revokeUser ? r.principal.userId == *s.revokeUser
                                      : r.hash.compare(0, s.revokeId.size(), s.revokeId) == 0;
      (match ? revoked : kept).push_back(std::move(r));
    }
    if (revoked.empty()) {
      throw UsageError(
          s.revokeUser ? fmt::format("no token of user {} is in {}", *s.revokeUser, s.tokenFile)
                       : fmt::format("no token id starts with {} in {}", s.revokeId, s.tokenFile));
    }
    if (!s.revokeUser && revoked.size() > 1) {
      throw UsageError(fmt::format("{} tokens have ids starting with {}; give more of the id",
                                   revoked.size(), s.revokeId));
    }
    records = std::move(kept);
  });
  for (const auto& r : revoked) fmt::print("Revoked token {}\n", Describe(r));
  fmt::print("A running server refuses {} after SIGHUP (kill -HUP <pid>).\n",
             revoked.size() == 1 ? "it" : "them");
  return 0;
}

}  // namespace

std::pair<CLI::App*, CommandRun> AddTokenCommand(CLI::App& app) {
  auto s = std::make_shared<TokenSelection>();
  CLI::App* command = app.add_subcommand(
      "token",
      "Manage the bearer tokens of the server's token file: add (prints the new token once), "
      "list, revoke. Send the server SIGHUP afterwards.");
  command->require_subcommand(1);
  auto fileOption = [&](CLI::App* sub) {
    sub->add_option("--token-file", s->tokenFile, "The server's token file.")->required();
  };

  CLI::App* add = command->add_subcommand(
      "add", "Make a token for a user; prints it once, alone on the last line of the output.");
  fileOption(add);
  add->add_option("--user", s->user, "The user's id (registry number).")
      ->required()
      ->check(CLI::Range(std::int64_t{1}, std::int64_t{2147483647}));
  add->add_option("--name", s->name, "The user's display name, recorded with every change.")
      ->required();
  add->add_option("--role", s->role,
                  "viewer (search, history, reports), clerk (also saves within its stations), "
                  "admin (everything, every station) or auditor (reads as a viewer, saves "
                  "nothing, and counts and certifies the physical counts of its stations).")
      ->required();
  add->add_option("--stations", s->stations,
                  "Where a clerk may change ranges: troops and Troop/Districts separated by "
                  "commas (A, B2) or * for every station.");

  CLI::App* list = command->add_subcommand("list",
                                           "Show the tokens of the file (never the "
                                           "tokens themselves).");
  fileOption(list);

  CLI::App* revoke = command->add_subcommand(
      "revoke", "Remove every token of a user (--user) or one token (--id, as list shows it).");
  fileOption(revoke);
  revoke->add_option("--user", s->revokeUser, "Revoke every token of this user id.");
  revoke->add_option("--id", s->revokeId, "Revoke the token whose id starts with this.");

  return {command, [s, add, list, revoke]() -> int {
            if (add->parsed()) return Add(*s);
            if (list->parsed()) return List(*s);
            if (revoke->parsed()) return Revoke(*s);
            return 2;
          }};
}

}  // namespace fm::server::cli
