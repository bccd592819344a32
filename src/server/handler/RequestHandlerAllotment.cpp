// The allotment limits of RequestHandler (GET and PUT /v1/caps and /v1/reissue-rules, the cap
// and reissue-rule commands): read by whoever reads reports of the station, set by an
// administrator, since they hold the clerks who hand forms out.

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include "base/Text.h"
#include "server/handler/ReportRequest.h"
#include "server/handler/RequestError.h"
#include "server/handler/RequestHandler.h"
#include "server/handler/SearchCriteria.h"
#include "server/store/Store.h"
#include "server/store/StoreError.h"

namespace fm::server {

namespace {

StationScope ScopeSeenBy(const Principal& principal) {
  return principal.role == Role::Admin ? StationScope::Everywhere() : principal.scope;
}

void MayRead(const Principal& principal) {
  if (!principal.May(Action::Report)) {
    throw StoreError::Forbidden(fmt::format("Your account ({}) may not read the allotment limits.",
                                            RoleName(principal.role)));
  }
}

// Only an administrator sets a limit: a clerk could otherwise lift the one he is held to.
SaveContext AdminContext(const Principal& principal, const std::string& requestId,
                         const std::string& requester, const char* what) {
  if (principal.role != Role::Admin) {
    throw StoreError::Forbidden(fmt::format(
        "Your account ({}) may not set {}; an administrator sets them. Nothing was saved.",
        RoleName(principal.role), what));
  }
  if (requestId.empty()) throw RequestError(fmt::format("Setting {} needs a request id", what));
  SaveContext context;
  context.requestId = requestId;
  context.requester = requester;
  context.userId = principal.userId;
  context.userName = principal.displayName;
  return context;
}

StationParameter RequiredStation(const std::string& text, const ReferenceData& reference,
                                 const char* what) {
  const auto station = ReadStationParameter(text, reference);
  if (!station) {
    throw RequestError(fmt::format("{} is of a Troop/District (e.g. A1); none was given", what));
  }
  return *station;
}

}  // namespace

std::vector<AllotmentCap> RequestHandler::AllotmentCaps(const Principal& principal) {
  MayRead(principal);
  const StationScope seen = ScopeSeenBy(principal);
  std::vector<AllotmentCap> out;
  for (AllotmentCap& cap : mStore->AllotmentCaps()) {
    if (seen.Covers(cap.troop, cap.district)) out.push_back(std::move(cap));
  }
  return out;
}

AllotmentCap RequestHandler::SetAllotmentCap(const AllotmentCapParameters& parameters,
                                             const Principal& principal,
                                             const std::string& requestId,
                                             const std::string& requester) {
  SaveContext context = AdminContext(principal, requestId, requester, "allotment caps");
  const ReferenceData& reference = mStore->Reference();
  const StationParameter station =
      RequiredStation(parameters.station, reference, "An allotment cap");
  const std::string formType = ReadFormTypeParameter(parameters.formType, reference);
  if (formType.empty()) throw RequestError("An allotment cap is of a form type; none was given");
  const std::int64_t cap = ReadCountParameter(parameters.cap, "allotment cap",
                                              "a whole number of forms", 0, kMaxAllotmentCap);
  AllotmentCap kept =
      mStore->SetAllotmentCap(context, {station.troop, station.district, formType, cap});
  spdlog::info("request {} from {} (user {}): allotment cap of {} {} set to {}", requestId,
               requester, principal.userId, StationText(kept.troop, kept.district), formType, cap);
  return kept;
}

std::vector<ReissueRule> RequestHandler::ReissueRules(const Principal& principal) {
  MayRead(principal);
  const StationScope seen = ScopeSeenBy(principal);
  std::vector<ReissueRule> out;
  for (ReissueRule& rule : mStore->ReissueRules()) {
    if (seen.Covers(rule.troop, rule.district)) out.push_back(std::move(rule));
  }
  return out;
}

ReissueRule RequestHandler::SetReissueRule(const ReissueRuleParameters& parameters,
                                           const Principal& principal, const std::string& requestId,
                                           const std::string& requester) {
  SaveContext context = AdminContext(principal, requestId, requester, "reissue rules");
  const StationParameter station =
      RequiredStation(parameters.station, mStore->Reference(), "A reissue rule");
  const std::string state = text::ToUpper(text::Trim(parameters.state));
  if (state != "ON" && state != "OFF") {
    throw RequestError(
        fmt::format("A reissue rule is \"on\" or \"off\", not \"{}\"", parameters.state));
  }
  ReissueRule asked;
  asked.troop = station.troop;
  asked.district = station.district;
  asked.on = state == "ON";
  ReissueRule kept = mStore->SetReissueRule(context, asked);
  spdlog::info("request {} from {} (user {}): reissue rule of {} turned {}", requestId, requester,
               principal.userId, StationText(kept.troop, kept.district), asked.on ? "on" : "off");
  return kept;
}

}  // namespace fm::server
