#include "server/custody/CustodyWords.h"

#include <fmt/format.h>

#include "base/Text.h"
#include "server/custody/Accountability.h"
#include "server/store/ChangeRules.h"
#include "server/store/ReferenceData.h"
#include "server/store/StationScope.h"
#include "server/store/TimeText.h"

namespace fm::server {

namespace {

std::string StatusDescription(const ReferenceData& reference, const std::string& code) {
  for (const auto& s : reference.Statuses()) {
    if (s.code == code) return s.description;
  }
  return {};
}

// The screen gives the reasons described "Void" and "Unassign" their own meaning; so do
// the words here.
bool Described(const ReferenceData& reference, const std::string& code, const char* word) {
  return text::ToUpper(text::Trim(StatusDescription(reference, code))) == word;
}

std::string OfficerText(const ReferenceData& reference, std::int64_t registry) {
  const std::string name = OfficerName(reference, registry);
  return name.empty() ? fmt::format("the officer with Registry # {}", registry)
                      : fmt::format("{} ({})", name, registry);
}

// "Troop/District A1 Capital City"; a troop alone by its name, "Troop A - Capital" (or
// "Troop A" when it has none).
std::string NamedStation(const ReferenceData& reference, const std::string& troop,
                         const std::string& district) {
  if (district.empty()) {
    for (const auto& t : reference.Troops()) {
      if (t.id == troop && !text::Trim(t.name).empty()) return text::Trim(t.name);
    }
    return "Troop " + troop;
  }
  std::string station = StationText(troop, district);
  for (const auto& d : reference.Districts()) {
    if (d.troop == troop && d.id == district) return fmt::format("{} {}", station, d.name);
  }
  return station;
}

}  // namespace

std::string OfficerName(const ReferenceData& reference, std::int64_t registry) {
  if (registry == kNoOfficer) return {};
  for (const Officer& officer : reference.Officers()) {
    if (officer.registry != registry) continue;
    const std::string first = text::Trim(officer.firstName);
    const std::string last = text::Trim(officer.lastName);
    return first.empty() || last.empty() ? first + last : fmt::format("{} {}", first, last);
  }
  return {};
}

protocol::CustodyState CustodyStateOf(const FormRange& r, const ReferenceData& reference) {
  return {r.troop,    r.district,
          r.registry, OfficerName(reference, r.registry),
          r.status,   StatusDescription(reference, r.status)};
}

std::string DescribeCustodyChange(const CustodyEntry& e, const ReferenceData& reference) {
  if (e.event == custody::kReceive) return "received";
  if (e.event == custody::kLoad) return "received with the initial inventory";
  if (e.event == custody::kWithdraw) return "withdrawn";
  if (!e.before) return "recorded";
  const FormRange& b = *e.before;
  const FormRange& a = e.after;
  std::vector<std::string> parts;
  if (a.troop != b.troop || a.district != b.district) {
    parts.push_back(
        fmt::format("moved from {} to {}", StationText(b.troop, b.district), a.troop + a.district));
  }
  bool unassigned = false;
  if (a.status != b.status) {
    if (Described(reference, a.status, "UNASSIGN")) {
      parts.emplace_back("unassigned");
      unassigned = true;
    } else if (Described(reference, a.status, "VOID")) {
      parts.emplace_back("voided");
    } else if (!IsStockStatus(a.status, reference)) {
      parts.push_back("delisted: " + StatusName(a.status, reference));
    } else if (!IsStockStatus(b.status, reference)) {
      parts.emplace_back("reinstated");
    }
  }
  if (a.registry != b.registry) {
    if (b.registry == kNoOfficer) {
      parts.push_back("assigned to " + OfficerText(reference, a.registry));
    } else if (a.registry == kNoOfficer) {
      if (!unassigned) parts.emplace_back("unassigned");
    } else {
      parts.push_back(fmt::format("reassigned from {} to {}", OfficerText(reference, b.registry),
                                  OfficerText(reference, a.registry)));
    }
  }
  if (a.from != b.from || a.to != b.to) {
    parts.push_back(fmt::format("split from {}-{}", b.from, b.to));
  }
  if (parts.empty()) return a.comment != b.comment ? "comment changed" : "recorded again";
  std::string what;
  for (const auto& part : parts) what += (what.empty() ? "" : "; ") + part;
  return what;
}

protocol::FormHistory BuildFormHistory(const std::string& formType, std::int64_t number,
                                       const std::vector<CustodyEntry>& entries,
                                       const std::optional<FormRange>& current,
                                       const ReferenceData& reference) {
  protocol::FormHistory history;
  history.formType = formType;
  history.number = number;
  for (const CustodyEntry& e : entries) {
    protocol::HistoryEntry entry;
    entry.at = e.at;
    entry.userId = e.userId;
    entry.userName = e.userName.empty() ? fmt::format("User {}", e.userId) : e.userName;
    entry.event = e.event;
    entry.what = DescribeCustodyChange(e, reference);
    entry.range = {e.after.from, e.after.to};
    if (e.before) entry.before = CustodyStateOf(*e.before, reference);
    entry.after = CustodyStateOf(e.after, reference);
    entry.comment = e.after.comment.value_or("");
    entry.reason = e.reason.value_or("");
    entry.requestId = e.requestId;
    entry.receipt = e.receipt;
    entry.overrideReason = e.overrideReason.value_or("");
    history.entries.push_back(std::move(entry));
  }
  const std::string name = fmt::format("Form {} of {}", number, FormTypeName(formType, reference));
  if (current) {
    history.currentRange = protocol::SerialRange{current->from, current->to};
    history.current = CustodyStateOf(*current, reference);
    const protocol::CustodyState& s = *history.current;
    const std::string status =
        s.status == kActiveStatus ? "in use" : StatusName(s.status, reference);
    history.summary = fmt::format("{} is held by {}{}, status {}, in the range {}-{}.", name,
                                  NamedStation(reference, s.troop, s.district),
                                  s.registry == kNoOfficer
                                      ? std::string(", no officer")
                                      : ", assigned to " + OfficerText(reference, s.registry),
                                  status, current->from, current->to);
  } else if (!entries.empty() && entries.back().event == custody::kWithdraw) {
    const CustodyEntry& last = entries.back();
    const auto when = ParseUtcTimestamp(last.at);
    history.summary =
        fmt::format("{} was withdrawn at {} by {}: {}", name, when ? ClerkTime(*when) : last.at,
                    last.userName.empty() ? fmt::format("User {}", last.userId) : last.userName,
                    last.reason.value_or(""));
  } else {
    history.summary = fmt::format("{} is in no range and has no recorded history.", name);
  }
  return history;
}

std::string HolderScopeText(const HolderScope& scope, const ReferenceData& reference) {
  std::string station;
  if (!scope.troop.empty()) {
    station = scope.wholeTroop ? NamedStation(reference, scope.troop, "") + ", every district"
                               : NamedStation(reference, scope.troop, scope.district);
  }
  if (!scope.registry) return station;
  const std::string officer = OfficerText(reference, *scope.registry);
  return station.empty() ? officer : officer + " at " + station;
}

std::string UsesSummary(const std::vector<protocol::FormUse>& uses,
                        const ReferenceData& reference) {
  const auto standing =
      std::find_if(uses.begin(), uses.end(), [](const auto& u) { return u.standing; });
  if (standing == uses.end()) return {};
  const protocol::FormUse& u = *standing;
  std::string what = protocol::DispositionCaption(u.disposition);
  what[0] = static_cast<char>(what[0] - 'A' + 'a');  // a one-word caption, in a sentence
  std::string words = fmt::format(" Used: {} on {}", what, u.usedOn);
  if (u.registry != 0) {
    const std::string name = OfficerName(reference, u.registry);
    words += name.empty() ? fmt::format(" by officer {}", u.registry)
                          : fmt::format(" by {} ({})", name, u.registry);
  }
  if (!u.reference.empty()) words += ", reference " + u.reference;
  if (!u.note.empty()) words += ", note: " + u.note;
  words += fmt::format("; recorded {}by {} at {}",
                       u.source.fileName.empty() ? "" : "from " + u.source.fileName + " ",
                       u.recordedBy.empty() ? fmt::format("user {}", u.recordedById) : u.recordedBy,
                       u.recordedAt);
  if (u.supersedes)
    words += fmt::format(", correcting use {} ({})", *u.supersedes, u.correctionReason);
  words += ".";
  const std::size_t earlier = uses.size() - 1;
  if (earlier > 0)
    words += fmt::format(" {} earlier record{} superseded.", earlier, earlier == 1 ? "" : "s");
  return words;
}

}  // namespace fm::server
