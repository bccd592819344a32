#include "server/RequestHandler.h"

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <optional>

#include "server/ReferenceData.h"
#include "server/RequestError.h"
#include "server/SearchCriteria.h"
#include "server/Store.h"
#include "server/StoreError.h"
#include "server/TimeText.h"
#include "server/WireRows.h"

namespace fm::server {

namespace {

// The major version of the request format this server answers.
constexpr std::string_view kSupportedMajor = "1";

void CheckVersion(const std::string& version) {
  std::string_view major(version);
  major = major.substr(0, major.find('.'));
  if (!version.empty() && major != kSupportedMajor) {
    throw RequestError(fmt::format(
        "The request is of version {}; this server answers version 1 requests", version));
  }
}

// A refused save is answered with the search refreshed too, so the clerk's grids can show
// what the inventory holds now: the refusal usually means someone else changed it.
bool RefreshesAfterRefusal(const StoreError& e) {
  switch (e.GetKind()) {
    case StoreError::Kind::Rejected:
    case StoreError::Kind::Stale:
    case StoreError::Kind::Conflict:
      return true;
    case StoreError::Kind::Forbidden:
    case StoreError::Kind::Unavailable:
    case StoreError::Kind::Internal:
      break;
  }
  return false;
}

}  // namespace

RequestHandler::RequestHandler(std::shared_ptr<Store> store, RequestHandlerOptions options)
    : mStore(std::move(store)), mOptions(std::move(options)) {}

RequestHandler::~RequestHandler() = default;

std::string RequestHandler::Today() const {
  return mOptions.today ? mOptions.today() : LocalDate(std::chrono::system_clock::now());
}

HandledRequest RequestHandler::Handle(const protocol::Request& request,
                                      const Principal& principal) {
  HandledRequest answer;
  protocol::Reply& reply = answer.reply;
  bool saved = false;  // a failure after the save must not claim that nothing changed
  std::optional<std::string> refusal;  // the save was refused; the search still answers
  try {
    reply.requestId = request.requestId;
    reply.identity = request.identity;
    CheckVersion(request.version);
    if (!protocol::IsKnownMessageType(request.messageType)) {
      throw RequestError(
          fmt::format("The message type {} is not known; the server answers 33 (search), 34 (save "
                      "with requery), 35 (form history) and 36 (accountability report)",
                      request.messageType));
    }
    if (request.messageType == protocol::kFormHistoryMessage ||
        request.messageType == protocol::kAccountabilityMessage) {
      const Action action =
          request.messageType == protocol::kFormHistoryMessage ? Action::History : Action::Report;
      if (!principal.May(action)) {
        throw StoreError::Forbidden(
            fmt::format("Your account ({}) may not read the chain of custody of forms.",
                        RoleName(principal.role)));
      }
      answer.reply = AnswerCustody(request);
      return answer;
    }
    // The criteria are read before anything is saved, so a bad one changes nothing.
    SearchCriteria criteria = ParseCriteria(request.criteria);
    criteria.officers.today = Today();

    if (request.messageType == protocol::kSaveRequeryMessage && !principal.May(Action::Save)) {
      throw StoreError::Forbidden(fmt::format(
          "Your account ({}) may search and read the history of forms but not save changes; "
          "nothing was saved.",
          RoleName(principal.role)));
    }
    if (request.messageType == protocol::kSaveRequeryMessage) {
      auto rows = request.dataSets.find(protocol::kTroopFormDataSet);
      if (rows == request.dataSets.end()) {
        throw RequestError(
            "A save (message type 34) carries its rows in a data set named \"TROOPFORM\"; "
            "the request has none");
      }
      if (request.requestId.empty()) throw RequestError("A save needs a request id");
      std::vector<RangeChange> changes = ChangesFromDataSet(rows->second);
      SaveContext context;
      context.requestId = request.requestId;
      context.requester = request.requester;
      context.userId = principal.userId;
      context.userName = principal.displayName;
      context.scope = principal.role == Role::Admin ? StationScope::Everywhere() : principal.scope;
      context.claimedUserId = request.userId;
      try {
        SaveOutcome outcome = mStore->ApplyChanges(context, changes);
        saved = true;
        spdlog::info("request {} from {} (user {}): {}", request.requestId, request.requester,
                     principal.userId,
                     outcome.alreadyApplied ? std::string("already applied, not applied again")
                                            : fmt::format("{} rows applied", outcome.rowsApplied));
      } catch (const StoreError& e) {
        if (!RefreshesAfterRefusal(e)) throw;
        refusal = e.what();
        spdlog::info("request {} from {} (user {}): refused: {}", request.requestId,
                     request.requester, principal.userId, e.what());
      }
    }

    RangeQuery query = criteria.ranges;
    query.limit = mOptions.maxRanges + 1;
    std::vector<StoredRange> ranges = mStore->FindRanges(query);
    if (ranges.size() > mOptions.maxRanges) {
      if (!saved && !refusal) {
        throw RequestError(fmt::format(
            "The search found more than {} ranges. Narrow the selection with a Troop/District, "
            "a form type, a registry number or a form number.",
            mOptions.maxRanges));
      }
      // After a save (applied or refused) an answer cut short is better than a failure the
      // clerk would read as the outcome of the save.
      ranges.resize(mOptions.maxRanges);
    }
    std::vector<Officer> officers = mStore->FindOfficers(criteria.officers);

    reply.dataSets.emplace(protocol::kTroopFormDataSet, TroopFormDataSet(ranges, criteria.thin));
    reply.dataSets.emplace(protocol::kOfficerDataSet, OfficerDataSet(officers));
    reply.ok = !refusal;
    reply.error = refusal.value_or("");
    return answer;
  } catch (const RequestError& e) {
    reply.error = e.what();
  } catch (const StoreError& e) {
    answer.forbidden = e.GetKind() == StoreError::Kind::Forbidden;
    if (e.GetKind() == StoreError::Kind::Internal) {
      spdlog::error("request {}: {}", request.requestId, e.what());
      reply.error =
          "The forms server could not complete the request because of an internal "
          "error. Tell the help desk the request id " +
          request.requestId + ".";
    } else {
      reply.error = e.what();
    }
  } catch (const std::exception& e) {
    spdlog::error("request {}: {}", request.requestId, e.what());
    reply.error =
        "The forms server could not complete the request because of an internal error. "
        "Tell the help desk the request id " +
        request.requestId + ".";
  } catch (...) {
    reply.error = "The forms server could not complete the request because of an internal error.";
  }
  if (refusal) {
    // The refreshed search failed after the refusal: the refusal is what the clerk must read.
    reply.error = *refusal;
  } else if (saved) {
    reply.error = "The changes were saved, but the refreshed search failed: " + reply.error;
  }
  reply.ok = false;
  reply.dataSets.clear();
  return answer;
}

}  // namespace fm::server
