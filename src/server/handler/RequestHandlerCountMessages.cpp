// The physical count messages of RequestHandler (types 42 to 47): their criteria and data
// sets read into the count methods of RequestHandlerCount.cpp, which decide who may do what,
// and the count answered as it stands afterwards.

#include <fmt/format.h>

#include <algorithm>

#include "base/Numbers.h"
#include "base/Text.h"
#include "protocol/Count.h"
#include "server/handler/CountRequest.h"
#include "server/handler/RequestError.h"
#include "server/handler/RequestHandler.h"
#include "server/handler/SearchCriteria.h"

namespace fm::server {

namespace {

const char* CountRequestName(int messageType) {
  switch (messageType) {
    case protocol::kCountListMessage:
      return "A list of physical counts";
    case protocol::kCountOpenMessage:
      return "Opening a physical count";
    case protocol::kCountEntryMessage:
      return "An entry of counted numbers";
    case protocol::kCountCertifyMessage:
      return "A certification";
    case protocol::kCountSettleMessage:
      return "A settlement";
    default:
      return "A physical count";
  }
}

std::int64_t CountNumber(const std::map<std::string, std::string>& values, const char* request) {
  const std::string text = CriterionValue(values, protocol::kCountNumberKey);
  if (text.empty()) {
    throw RequestError(
        fmt::format("{} needs the {}", request, CriterionCaption(protocol::kCountNumberKey, "")));
  }
  std::int64_t number = 0;
  if (text::ReadWholeNumber(text, number) != text::WholeNumberStatus::kOk) {
    RefuseNumber(CriterionCaption(protocol::kCountNumberKey, ""), text, "a count number");
  }
  return number;
}

protocol::CountHead HeadOf(std::int64_t number, const std::string& troop,
                           const std::string& district, const std::vector<std::string>& types,
                           const std::string& openedBy, const std::string& openedAt,
                           const std::optional<CountCertification>& certified) {
  protocol::CountHead head{number, troop, district, types, openedBy, openedAt, "", "", ""};
  if (certified) {
    head.certifiedBy = certified->userName;
    head.certifiedAt = certified->at;
    head.statement = certified->statement;
  }
  return head;
}

std::vector<protocol::CountLine> Lines(const std::vector<BookSpan>& spans) {
  std::vector<protocol::CountLine> lines;
  lines.reserve(spans.size());
  for (const BookSpan& b : spans) lines.push_back({b.formType, b.from, b.to, b.registry, b.status});
  return lines;
}

protocol::CountSheet SheetOf(const CountView& view) {
  const PhysicalCount& c = view.count;
  protocol::CountSheet sheet;
  sheet.head =
      HeadOf(c.number, c.troop, c.district, c.formTypes, c.openedBy, c.openedAt, c.certified);
  sheet.book = Lines(c.book);
  for (const CountSpan& s : c.counted) sheet.counted.push_back({s.formType, s.from, s.to, 0, ""});
  sheet.found = Lines(view.result.found);
  sheet.missing = Lines(view.result.missing);
  for (const UnexpectedSpan& u : view.result.unexpected) {
    sheet.unexpected.push_back({u.formType, u.from, u.to, UnexpectedReasonKey(u.reason), u.detail});
  }
  for (const CountSettlement& s : c.settlements) {
    sheet.settlements.push_back(
        {s.formType, s.from, s.to, SettlementKey(s.kind), s.note, s.userName, s.at});
  }
  return sheet;
}

std::vector<std::string> FormTypes(const std::string& list) {
  std::vector<std::string> types;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t comma = std::min(list.find(',', start), list.size());
    types.push_back(text::Trim(list.substr(start, comma - start)));
    start = comma + 1;
  }
  return types;
}

}  // namespace

protocol::Reply RequestHandler::AnswerCount(const protocol::Request& request,
                                            const Principal& principal) {
  const int type = request.messageType;
  const char* name = CountRequestName(type);
  const auto& id = request.requestId;
  const auto& requester = request.requester;
  protocol::Reply reply;
  reply.requestId = id;
  reply.identity = request.identity;
  if (type == protocol::kCountListMessage) {
    const std::string station =
        StationOf(NamedCriteria(request.criteria, name, {"TRP_ID", "TRP_DIST_ID"}));
    std::vector<protocol::CountHead> heads;
    for (const CountSummary& c : Counts(principal)) {
      if (!station.empty() && c.troop + c.district != station) continue;
      heads.push_back(
          HeadOf(c.number, c.troop, c.district, c.formTypes, c.openedBy, c.openedAt, c.certified));
      heads.back().statement.clear();  // a list names who certified; the count says what
    }
    reply.dataSets = protocol::CountListToDataSets(heads);
    reply.ok = true;
    return reply;
  }
  std::int64_t number = 0;
  if (type == protocol::kCountOpenMessage) {
    const auto values =
        NamedCriteria(request.criteria, name, {"TRP_ID", "TRP_DIST_ID", "REF_TYP_CD"});
    const CountOpenParameters open{StationOf(values),
                                   FormTypes(CriterionValue(values, "REF_TYP_CD"))};
    number = OpenCount(open, principal, id, requester).number;
  } else if (type == protocol::kCountSettleMessage) {
    const auto values = NamedCriteria(request.criteria, name,
                                      {protocol::kCountNumberKey, "REF_TYP_CD", "FRM_FORM_NBR",
                                       "TO_FORM_NBR", protocol::kCountOutcomeKey});
    number = CountNumber(values, name);
    SettleCount(
        number,
        {CriterionValue(values, "REF_TYP_CD"), CriterionValue(values, "FRM_FORM_NBR"),
         CriterionValue(values, "TO_FORM_NBR"), CriterionValue(values, protocol::kCountOutcomeKey),
         protocol::CountTextFromDataSets(request.dataSets)},
        principal, id, requester);
  } else {
    number = CountNumber(NamedCriteria(request.criteria, name, {protocol::kCountNumberKey}), name);
    if (type == protocol::kCountCertifyMessage) {
      CertifyCount(number, protocol::CountTextFromDataSets(request.dataSets), principal, id,
                   requester);
    } else if (type == protocol::kCountEntryMessage) {
      const auto spans = request.dataSets.find(protocol::kCountEntryDataSet);
      if (spans != request.dataSets.end()) {
        std::vector<CountEntryParameters> entries;
        for (auto& span : protocol::CountEntriesFromDataSet(spans->second)) {
          entries.push_back({span[0], span[1], span[2]});
        }
        AddCounted(number, entries, principal, id, requester);
      } else if (request.dataSets.count(protocol::kCountTextDataSet)) {
        ImportCounted(number, protocol::CountTextFromDataSets(request.dataSets), principal, id,
                      requester);
      } else {
        throw RequestError(fmt::format("{} carries its spans in {} or its text in {}", name,
                                       protocol::kCountEntryDataSet, protocol::kCountTextDataSet));
      }
    }
  }
  const auto view = Count(number, principal);
  if (!view) throw RequestError(fmt::format("There is no physical count {}", number));
  reply.dataSets = protocol::CountSheetToDataSets(SheetOf(*view));
  reply.ok = true;
  return reply;
}

}  // namespace fm::server
