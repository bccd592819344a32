// Allotment caps and reissue rules (Store.h, docs/allotment.md): set by an administrator per
// station, compared by every save that gives forms to an officer before it commits.
#include "server/store/AllotmentStore.h"

#include <fmt/format.h>

#include <map>
#include <tuple>

#include "base/Text.h"
#include "protocol/Messages.h"
#include "server/store/ChangeRules.h"
#include "server/store/ReferenceData.h"
#include "server/store/SqlStore.h"
#include "server/store/SqlStoreRows.h"
#include "server/store/SqlStoreTransactions.h"
#include "server/store/StationScope.h"
#include "server/store/StoreError.h"

namespace fm::server {

namespace {

std::string StationName(const std::string& troop, const std::string& district) {
  return district.empty() ? "troop " + troop : "Troop/District " + troop + district;
}

// The station and form type a limit is set for, checked as a minimum stock is.
void CheckLimitTarget(const SaveContext& context, const std::string& troop,
                      const std::string& district, const std::string* formType,
                      const ReferenceData& reference, const char* what) {
  if (!reference.HasStation(troop, district)) {
    throw StoreError::Rejected(fmt::format("There is no {}", StationName(troop, district)));
  }
  if (formType && !reference.FindFormType(*formType)) {
    throw StoreError::Rejected(fmt::format("The Form Type \"{}\" is not known", *formType));
  }
  if (!context.scope.Covers(troop, district)) {
    throw StoreError::Forbidden(fmt::format("{} may not set the {} of {}", context.userName, what,
                                            StationName(troop, district)));
  }
}

// The unused forms of `formType` the officer holds in a status that keeps them in stock (the
// stock report's "with officers"), at one station or anywhere.
std::int64_t HeldUnused(SqlConnection& c, const ReferenceData& reference, std::int64_t registry,
                        const std::string& formType, const std::string* troop,
                        const std::string* district) {
  std::vector<SqlValue> params{registry, formType};
  std::string sql =
      "SELECT COALESCE(SUM(rmng_form_cnt), 0) FROM form_range"
      " WHERE asgnd_reg_nbr = ? AND form_typ_cd = ? AND trp_actn_cd IN (";
  const std::vector<std::string> stock = reference.StockStatuses();
  for (std::size_t i = 0; i < stock.size(); ++i) {
    sql += i == 0 ? "?" : ", ?";
    params.emplace_back(stock[i]);
  }
  sql += ")";
  if (troop && district) {
    sql += " AND trp_id = ? AND trp_dist_id = ?";
    params.emplace_back(*troop);
    params.emplace_back(*district);
  }
  return Integer(c.Query(sql, params).at(0)[0]);
}

struct Breach {
  bool cap = false;  // else the reissue rule
  std::string text;
};

}  // namespace

void CheckAllotments(SqlConnection& c, const SaveContext& context, const std::string& at,
                     const std::vector<GivenRange>& given, const ReferenceData& reference) {
  if (given.empty()) return;
  // The forms the save gave, per officer, form type and station, and per officer and form
  // type wherever: a reissue rule asks what he held before the save, anywhere.
  using Station = std::tuple<std::int64_t, std::string, std::string, std::string>;
  std::map<Station, std::int64_t> atStation;
  std::map<std::pair<std::int64_t, std::string>, std::int64_t> anywhere;
  for (const GivenRange& g : given) {
    const FormRange& r = g.range;
    atStation[{r.registry, r.formType, r.troop, r.district}] += r.remaining;
    anywhere[{r.registry, r.formType}] += r.remaining;
  }
  std::vector<Breach> breaches;
  for (const auto& [key, gave] : atStation) {
    // A range whose forms are all used gives nothing to hold: an officer over his cap may
    // still be handed his used-up books, and be given back what a correction took away.
    if (gave <= 0) continue;
    const auto& [registry, formType, troop, district] = key;
    const std::string type = FormTypeName(formType, reference);
    const auto caps = c.Query(
        "SELECT cap_qty FROM allotment_cap WHERE trp_id = ? AND trp_dist_id = ? AND form_typ_cd = "
        "?",
        {troop, district, formType});
    if (!caps.empty()) {
      const std::int64_t cap = Integer(caps[0][0]);
      const std::int64_t held = HeldUnused(c, reference, registry, formType, &troop, &district);
      if (held > cap) {
        breaches.push_back(
            {true, fmt::format("Officer {} ({}) would hold {} unused forms of {} at {}, over its "
                               "allotment cap of {}: {} held before and {} given now.",
                               registry, OfficerName(c, registry), held, type,
                               StationName(troop, district), cap, held - gave, gave)});
      }
    }
    const bool rule = !c.Query("SELECT 1 FROM reissue_rule WHERE trp_id = ? AND trp_dist_id = ?",
                               {troop, district})
                           .empty();
    if (rule) {
      const std::int64_t earlier = HeldUnused(c, reference, registry, formType, nullptr, nullptr) -
                                   anywhere[{registry, formType}];
      if (earlier > 0) {
        breaches.push_back(
            {false, fmt::format("Officer {} ({}) still holds {} unused forms of {} given "
                                "earlier, and {} gives no new ones of a type until the earlier "
                                "ones are all used or returned.",
                                registry, OfficerName(c, registry), earlier, type,
                                StationName(troop, district))});
      }
    }
  }
  if (breaches.empty()) return;

  bool anyCap = false;
  std::string lifted;
  for (const Breach& b : breaches) {
    anyCap = anyCap || b.cap;
    lifted += (lifted.empty() ? "" : " ") + b.text;
  }
  const std::string reason = text::Trim(context.overrideReason);
  // OverLimit tells the caller that the same save with a reason of its own would pass; a cap
  // an account may not lift is a plain refusal for it.
  const bool mayLift = !anyCap || context.mayOverrideCaps;
  if (reason.empty() && mayLift) {
    throw StoreError::OverLimit(fmt::format(
        "{} It may be saved with an override and a reason; nothing was saved.", lifted));
  }
  if (reason.empty()) {
    throw StoreError::Rejected(fmt::format(
        "{} An administrator may save it with an override and a reason; nothing was saved.",
        lifted));
  }
  if (!mayLift) {
    throw StoreError::Forbidden(fmt::format(
        "{} Only an administrator may override an allotment cap; nothing was saved.", lifted));
  }
  if (reason.size() > protocol::kMaxOverrideReasonLength) {
    throw StoreError::Rejected(fmt::format("The reason of an override is at most {} characters",
                                           protocol::kMaxOverrideReasonLength));
  }
  c.Query(
      "INSERT INTO save_override (request_id, overridden_at, user_id, user_name, reason, lifted)"
      " VALUES (?, ?, ?, ?, ?, ?)",
      {context.requestId, at, context.userId, context.userName, reason, lifted});
}

AllotmentCap SqlStore::SetAllotmentCap(const SaveContext& context, const AllotmentCap& asked) {
  CheckLimitTarget(context, asked.troop, asked.district, &asked.formType, *mReference,
                   "allotment caps");
  if (asked.cap < 0) {
    throw StoreError::Rejected(
        fmt::format("An allotment cap is a number of forms, 0 or more; {} is not", asked.cap));
  }
  AllotmentCap kept = asked;
  kept.setById = context.userId;
  kept.setBy = context.userName;
  // Under the form type's lock: a save of the type sees the cap before or after, never half.
  WriteWith({context.requestId, {asked.formType}}, [&](SqlConnection& c) {
    kept.setAt = Now();
    c.Query("DELETE FROM allotment_cap WHERE trp_id = ? AND trp_dist_id = ? AND form_typ_cd = ?",
            {asked.troop, asked.district, asked.formType});
    if (asked.cap > 0) {
      c.Query(
          "INSERT INTO allotment_cap (trp_id, trp_dist_id, form_typ_cd, cap_qty, set_by_id,"
          " set_by_name, set_at, request_id) VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
          {kept.troop, kept.district, kept.formType, kept.cap, kept.setById, kept.setBy, kept.setAt,
           context.requestId});
    }
  });
  return kept;
}

std::vector<AllotmentCap> SqlStore::AllotmentCaps() {
  std::vector<AllotmentCap> out;
  for (const SqlRow& row : ReadRows("SELECT trp_id, trp_dist_id, form_typ_cd, cap_qty, set_by_id,"
                                    " set_by_name, set_at FROM allotment_cap"
                                    " ORDER BY trp_id, trp_dist_id, form_typ_cd",
                                    {})) {
    out.push_back({Text(row[0]), Text(row[1]), Text(row[2]), Integer(row[3]), Integer(row[4]),
                   Text(row[5]), Text(row[6])});
  }
  return out;
}

ReissueRule SqlStore::SetReissueRule(const SaveContext& context, const ReissueRule& asked) {
  CheckLimitTarget(context, asked.troop, asked.district, nullptr, *mReference, "reissue rule");
  ReissueRule kept = asked;
  kept.setById = context.userId;
  kept.setBy = context.userName;
  WriteWith({context.requestId, {}}, [&](SqlConnection& c) {
    kept.setAt = Now();
    c.Query("DELETE FROM reissue_rule WHERE trp_id = ? AND trp_dist_id = ?",
            {asked.troop, asked.district});
    if (asked.on) {
      c.Query(
          "INSERT INTO reissue_rule (trp_id, trp_dist_id, set_by_id, set_by_name, set_at,"
          " request_id) VALUES (?, ?, ?, ?, ?, ?)",
          {kept.troop, kept.district, kept.setById, kept.setBy, kept.setAt, context.requestId});
    }
  });
  return kept;
}

std::vector<ReissueRule> SqlStore::ReissueRules() {
  std::vector<ReissueRule> out;
  for (const SqlRow& row :
       ReadRows("SELECT trp_id, trp_dist_id, set_by_id, set_by_name, set_at FROM reissue_rule"
                " ORDER BY trp_id, trp_dist_id",
                {})) {
    out.push_back({Text(row[0]), Text(row[1]), true, Integer(row[2]), Text(row[3]), Text(row[4])});
  }
  return out;
}

}  // namespace fm::server
