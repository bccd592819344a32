#include "server/custody/Accountability.h"

#include <map>
#include <set>

#include "base/Text.h"
#include "server/store/ReferenceData.h"
#include "server/store/Store.h"

namespace fm::server {

namespace {

using protocol::AccountLine;
using protocol::SerialRange;

// An entry of the history that ended wrote a range held from its time until it ended. (An
// entry whose range is held still is a range of HoldingsHistory::held.)
bool ValidAt(const CustodyEntry& e, const std::string& instant) {
  return e.event != custody::kWithdraw && e.at < instant && e.endedAt && *e.endedAt >= instant;
}

class Classifier {
 public:
  Classifier(const AccountabilityQuery& query, const ReferenceData& reference) : mQuery(query) {
    for (const auto& s : reference.Statuses()) {
      if (IsStockStatus(s.code, reference)) mStock.insert(s.code);
    }
    mStock.insert(kActiveStatus);
  }

  bool IsStock(const std::string& status) const { return mStock.contains(status); }
  bool InBalance(const FormRange& r) const { return mQuery.scope.Holds(r) && IsStock(r.status); }

  // The line an entry of the period moves its numbers onto, if any. `reason` receives the
  // delisting reason.
  std::optional<AccountLine> LineOf(const CustodyEntry& e, std::string& reason) const {
    const bool wasIn = e.before && e.parentId && InBalance(*e.before);
    const bool isIn = e.event != custody::kWithdraw && InBalance(e.after);
    if (wasIn == isIn) return std::nullopt;
    if (isIn) {
      if (!e.before) return AccountLine::Received;
      if (e.parentId && !IsStock(e.before->status)) {
        return AccountLine::Reinstated;
      }
      return AccountLine::TransferredIn;
    }
    if (e.event == custody::kWithdraw) return AccountLine::Withdrawn;
    if (!IsStock(e.after.status)) {
      reason = e.after.status;
      return AccountLine::Delisted;
    }
    return AccountLine::TransferredOut;
  }

 private:
  const AccountabilityQuery& mQuery;
  std::set<std::string, std::less<>> mStock;
};

}  // namespace

bool IsStockStatus(const std::string& status, const ReferenceData& reference) {
  return reference.IsStockStatus(status);
}

protocol::AccountabilityReport ComputeAccountability(const AccountabilityQuery& query,
                                                     const HoldingsHistory& history,
                                                     const ReferenceData& reference) {
  const Classifier classify(query, reference);
  std::map<std::string, protocol::AccountabilityLine> lines;
  auto lineFor = [&](const std::string& formType) -> protocol::AccountabilityLine& {
    auto [it, added] = lines.try_emplace(formType);
    if (added) {
      it->second.formType = formType;
      if (const FormTypeInfo* info = reference.FindFormType(formType)) {
        it->second.description = info->description;
      }
    }
    return it->second;
  };
  if (!query.formType.empty()) lineFor(query.formType);

  for (const StoredRange& held : history.held) {
    const FormRange& r = held.range;
    if (!query.formType.empty() && r.formType != query.formType) continue;
    if (!classify.InBalance(r)) continue;
    const std::string& since = held.lastChange.at;
    if (since < query.start) lineFor(r.formType).Tally(AccountLine::Beginning).Add({r.from, r.to});
    if (since < query.end) {
      auto& line = lineFor(r.formType);
      line.Tally(AccountLine::Ending).Add({r.from, r.to});
      line.issued += r.Size() - r.remaining;
    }
  }
  for (const CustodyEntry& e : history.entries) {
    if (!query.formType.empty() && e.after.formType != query.formType) continue;
    const SerialRange range{e.after.from, e.after.to};
    if (ValidAt(e, query.start) && classify.InBalance(e.after)) {
      lineFor(e.after.formType).Tally(AccountLine::Beginning).Add(range);
    }
    if (ValidAt(e, query.end) && classify.InBalance(e.after)) {
      auto& line = lineFor(e.after.formType);
      line.Tally(AccountLine::Ending).Add(range);
      line.issued += e.after.Size() - e.after.remaining;
    }
    if (e.at < query.start || e.at >= query.end) continue;
    std::string reason;
    if (auto kind = classify.LineOf(e, reason)) {
      auto& line = lineFor(e.after.formType);
      line.Tally(*kind).Add(range);
      if (*kind == AccountLine::Delisted) line.delistedByReason[reason].Add(range);
    }
  }

  protocol::AccountabilityReport report;
  report.parameters.troop = query.scope.troop;
  report.parameters.district = query.scope.wholeTroop ? std::string() : query.scope.district;
  report.parameters.wholeTroop = query.scope.wholeTroop;
  report.parameters.registry = query.scope.registry;
  report.parameters.formType = query.formType;
  report.parameters.fromDate = query.fromDate;
  report.parameters.toDate = query.toDate;
  report.parameters.start = query.start;
  report.parameters.end = query.end;
  for (auto& [type, line] : lines) {
    for (auto& tally : line.tallies) tally.Normalize();
    for (auto& [code, tally] : line.delistedByReason) {
      tally.Normalize();
      for (const auto& s : reference.Statuses()) {
        if (s.code == code) report.reasonDescriptions[code] = s.description;
      }
    }
    report.lines.push_back(std::move(line));
  }
  return report;
}

void AddUsesOfEnding(protocol::AccountabilityReport& report, Store& store,
                     const std::string& lastDay) {
  for (auto& line : report.lines) {
    line.usedByDisposition.clear();
    const std::vector<SerialRange>& ending = line.Tally(AccountLine::Ending).ranges;
    if (ending.empty()) continue;
    std::size_t at = 0;  // the ending range the next use may lie in; both go up by number
    UseQuery query;
    query.formType = line.formType;  // the spans below bound the numbers
    UseReading brief;
    brief.brief = true;  // the number, its day and its disposition are all a tally needs
    // A troop's ranges lie among every other station's: only theirs are read.
    for (const SerialRange& r : ending) brief.within.push_back({line.formType, r.from, r.to});
    store.ForEachUseWith(query, brief, [&](const protocol::FormUse& use, std::size_t index) {
      if (index == 0) {
        line.usedByDisposition.clear();
        at = 0;
      }
      while (at < ending.size() && ending[at].to < use.number) ++at;
      if (at == ending.size()) return false;
      if (use.number < ending[at].from || use.usedOn > lastDay) return true;
      auto& tally = line.usedByDisposition[protocol::DispositionKey(use.disposition)];
      if (!tally.ranges.empty() && tally.ranges.back().to + 1 == use.number) {
        ++tally.ranges.back().to;
        ++tally.count;
      } else {
        tally.Add({use.number, use.number});
      }
      return true;
    });
  }
}

}  // namespace fm::server
