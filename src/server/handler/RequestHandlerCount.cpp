// Physical counts of RequestHandler (the count commands, /v1/counts): who may count, certify
// and settle, and the counted numbers read from what a person typed or a scanner wrote.

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <spdlog/spdlog.h>

#include <algorithm>

#include "base/Numbers.h"
#include "base/Text.h"
#include "server/handler/CountRequest.h"
#include "server/handler/ReportRequest.h"
#include "server/handler/RequestError.h"
#include "server/handler/RequestHandler.h"
#include "server/store/ChangeRules.h"
#include "server/store/ReferenceData.h"
#include "server/store/Store.h"
#include "server/store/StoreError.h"

namespace fm::server {

namespace {

StationScope SeenBy(const Principal& principal) {
  return principal.role == Role::Admin ? StationScope::Everywhere() : principal.scope;
}

SaveContext ContextOf(const Principal& principal, const std::string& requestId,
                      const std::string& requester, const char* what) {
  if (requestId.empty()) throw RequestError(fmt::format("{} needs a request id", what));
  SaveContext context;
  context.requestId = requestId;
  context.requester = requester;
  context.userId = principal.userId;
  context.userName = principal.displayName;
  context.scope = SeenBy(principal);
  return context;
}

void MayCount(const Principal& principal, const char* what) {
  if (!principal.May(Action::Count)) {
    throw StoreError::Forbidden(
        fmt::format("Your account ({}) may not {}; an auditor counts. Nothing was saved.",
                    RoleName(principal.role), what));
  }
}

std::int64_t Number(const std::string& text, const std::string& formType, const char* caption,
                    const ReferenceData& reference) {
  const FormTypeInfo* info = reference.FindFormType(formType);
  return ReadCountParameter(
      text, caption, fmt::format("a number of {}", FormTypeName(formType, reference)).c_str(),
      info->lowest, info->highest);
}

// The form type of an entry: the one it names, or the count's only one.
std::string EntryType(const std::string& named, const PhysicalCount& count,
                      const ReferenceData& reference) {
  std::string type = ReadFormTypeParameter(named, reference);
  if (!type.empty()) return type;
  if (count.formTypes.size() == 1) return count.formTypes[0];
  throw RequestError(fmt::format("Physical count {} counts {}: name the form type of the numbers",
                                 count.number,
                                 fmt::format("{}", fmt::join(count.formTypes, ", "))));
}

bool IsHeading(const std::string& field) {
  return !field.empty() &&
         std::none_of(field.begin(), field.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = line.find_first_of(",;\t", start);
    std::string field = text::Trim(line.substr(start, comma - start));
    if (field.size() >= 2 && field.front() == '"' && field.back() == '"') {
      field = field.substr(1, field.size() - 2);
    }
    out.push_back(field);
    if (comma == std::string::npos) return out;
    start = comma + 1;
  }
}

}  // namespace

std::vector<CountSpan> ReadCountedText(const std::string& text, const std::string& onlyType,
                                       const ReferenceData& reference, std::size_t maxLines) {
  std::vector<CountSpan> spans;
  std::size_t lineNumber = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text::Trim(text.substr(start, end - start));
    start = end + 1;
    ++lineNumber;
    if (line.empty()) continue;
    if (spans.size() >= maxLines) {
      throw RequestError(fmt::format(
          "The counted numbers hold more than {} lines; enter them in several parts", maxLines));
    }
    std::vector<std::string> f = Fields(line);
    if (spans.empty() && IsHeading(f[0]) && (f.size() == 1 || IsHeading(f.back()))) continue;
    const auto bad = [&](const std::string& why) {
      return RequestError(fmt::format("Line {} (\"{}\") {}; nothing was saved", lineNumber,
                                      line.substr(0, 60), why));
    };
    std::string type = onlyType;
    if (f.size() >= 2) {
      const FormTypeInfo* info = reference.FindFormType(text::ToUpper(f[0]));
      if (!info) throw bad(fmt::format("names the Form Type \"{}\", which is not known", f[0]));
      type = info->code;
      f.erase(f.begin());
    }
    if (type.empty()) throw bad("names no form type, and the count counts more than one");
    if (f.size() > 2) throw bad("has more than three fields: form type, from, to");
    const FormTypeInfo* info = reference.FindFormType(type);
    std::int64_t from = 0;
    std::int64_t to = 0;
    if (text::ReadWholeNumber(f[0], from) != text::WholeNumberStatus::kOk ||
        (f.size() == 2 && !f[1].empty() &&
         text::ReadWholeNumber(f[1], to) != text::WholeNumberStatus::kOk)) {
      throw bad("is not a form number, nor a span of two");
    }
    if (f.size() < 2 || f[1].empty()) to = from;
    if (to < from || from < info->lowest || to > info->highest) {
      throw bad(fmt::format("is not a span of {} numbers ({} to {})", FormTypeName(type, reference),
                            info->lowest, info->highest));
    }
    spans.push_back({type, from, to});
  }
  return spans;
}

PhysicalCount RequestHandler::OpenCount(const CountOpenParameters& parameters,
                                        const Principal& principal, const std::string& requestId,
                                        const std::string& requester) {
  MayCount(principal, "open a physical count");
  const SaveContext context = ContextOf(principal, requestId, requester, "Opening a count");
  const ReferenceData& reference = mStore->Reference();
  const auto station = ReadStationParameter(parameters.station, reference);
  if (!station) throw RequestError("A count is of a station (e.g. A1); none was given");
  std::vector<std::string> types;
  for (const std::string& named : parameters.formTypes) {
    const std::string type = ReadFormTypeParameter(named, reference);
    if (!type.empty()) types.push_back(type);
  }
  if (types.empty()) throw RequestError("A count is of one form type or more; none was given");
  PhysicalCount count = mStore->OpenCount(context, station->troop, station->district, types);
  spdlog::info("request {} from {} (user {}): physical count {} of {} opened, {} book spans",
               requestId, requester, principal.userId, count.number,
               StationText(count.troop, count.district), count.book.size());
  return count;
}

PhysicalCount RequestHandler::AddCounted(std::int64_t number,
                                         const std::vector<CountEntryParameters>& entries,
                                         const Principal& principal, const std::string& requestId,
                                         const std::string& requester) {
  MayCount(principal, "enter counted numbers");
  const SaveContext context = ContextOf(principal, requestId, requester, "Counted numbers");
  if (entries.empty()) throw RequestError("No counted numbers were given");
  if (entries.size() > mOptions.maxCountLines) {
    throw RequestError(fmt::format("At most {} spans are entered at once", mOptions.maxCountLines));
  }
  const auto count = mStore->Count(number);
  if (!count) throw RequestError(fmt::format("There is no physical count {}", number));
  const ReferenceData& reference = mStore->Reference();
  std::vector<CountSpan> spans;
  for (const CountEntryParameters& e : entries) {
    const std::string type = EntryType(e.formType, *count, reference);
    const std::int64_t from = Number(e.from, type, "first number", reference);
    const std::int64_t to =
        text::Trim(e.to).empty() ? from : Number(e.to, type, "last number", reference);
    if (to < from) {
      throw RequestError(fmt::format("The last number {} is below the first {}", to, from));
    }
    spans.push_back({type, from, to});
  }
  return mStore->AddCounted(context, number, spans);
}

PhysicalCount RequestHandler::ImportCounted(std::int64_t number, const std::string& text,
                                            const Principal& principal,
                                            const std::string& requestId,
                                            const std::string& requester) {
  MayCount(principal, "enter counted numbers");
  const SaveContext context = ContextOf(principal, requestId, requester, "Counted numbers");
  const auto count = mStore->Count(number);
  if (!count) throw RequestError(fmt::format("There is no physical count {}", number));
  const std::vector<CountSpan> spans =
      ReadCountedText(text, count->formTypes.size() == 1 ? count->formTypes[0] : "",
                      mStore->Reference(), mOptions.maxCountLines);
  if (spans.empty()) throw RequestError("The text holds no counted number");
  return mStore->AddCounted(context, number, spans);
}

PhysicalCount RequestHandler::CertifyCount(std::int64_t number, const std::string& statement,
                                           const Principal& principal, const std::string& requestId,
                                           const std::string& requester) {
  const auto count = mStore->Count(number);
  if (!count) throw RequestError(fmt::format("There is no physical count {}", number));
  const std::string station = StationText(count->troop, count->district);
  // Whoever holds the forms may not attest to them: a clerk's token is custody at its stations.
  if (principal.role == Role::Clerk && principal.scope.Covers(count->troop, count->district)) {
    throw StoreError::Forbidden(fmt::format(
        "Your account (clerk) holds custody at {} and may not certify its count; an auditor "
        "who holds none of its forms certifies it. Nothing was saved.",
        station));
  }
  if (!principal.May(Action::CertifyCount)) {
    throw StoreError::Forbidden(fmt::format(
        "Your account ({}) may not certify a physical count; only an auditor does. Nothing was "
        "saved.",
        RoleName(principal.role)));
  }
  const SaveContext context = ContextOf(principal, requestId, requester, "A certification");
  PhysicalCount certified = mStore->CertifyCount(context, number, statement);
  spdlog::info("request {} from {} (user {}): physical count {} of {} certified", requestId,
               requester, principal.userId, number, station);
  return certified;
}

CountSettlement RequestHandler::SettleCount(std::int64_t number,
                                            const CountSettleParameters& parameters,
                                            const Principal& principal,
                                            const std::string& requestId,
                                            const std::string& requester) {
  if (!principal.May(Action::SettleCount)) {
    throw StoreError::Forbidden(fmt::format(
        "Your account ({}) may not settle what a count found missing; an administrator does. "
        "Nothing was saved.",
        RoleName(principal.role)));
  }
  const SaveContext context = ContextOf(principal, requestId, requester, "A settlement");
  const auto count = mStore->Count(number);
  if (!count) throw RequestError(fmt::format("There is no physical count {}", number));
  const ReferenceData& reference = mStore->Reference();
  CountSettlement asked;
  asked.formType = EntryType(parameters.formType, *count, reference);
  asked.from = Number(parameters.from, asked.formType, "first number", reference);
  asked.to = text::Trim(parameters.to).empty()
                 ? asked.from
                 : Number(parameters.to, asked.formType, "last number", reference);
  std::string outcome = text::ToUpper(text::Trim(parameters.outcome));
  std::replace(outcome.begin(), outcome.end(), ' ', '_');
  if (outcome == "LOST") {
    asked.kind = SettlementKind::Lost;
  } else if (outcome == "FOUND_LATER" || outcome == "FOUND") {
    asked.kind = SettlementKind::FoundLater;
  } else {
    throw RequestError(
        fmt::format("A missing span is settled as \"lost\" or \"found_later\", not \"{}\"",
                    parameters.outcome));
  }
  asked.note = parameters.note;
  CountSettlement kept = mStore->SettleCount(context, number, asked);
  spdlog::info("request {} from {} (user {}): {}-{} of {} of physical count {} settled as {}",
               requestId, requester, principal.userId, kept.from, kept.to, kept.formType, number,
               SettlementKey(kept.kind));
  return kept;
}

std::optional<CountView> RequestHandler::Count(std::int64_t number, const Principal& principal) {
  if (!principal.May(Action::Report)) {
    throw StoreError::Forbidden(
        fmt::format("Your account ({}) may not read physical counts.", RoleName(principal.role)));
  }
  std::optional<CountView> view;
  mStore->ReadTogether([&] {
    view.reset();
    auto count = mStore->Count(number);
    if (!count) return;
    view = CountView{*count, mStore->CountResultOf(*count)};
  });
  if (view && !SeenBy(principal).Covers(view->count.troop, view->count.district)) {
    throw StoreError::Forbidden(fmt::format("Physical count {} is of {}, outside your stations",
                                            number,
                                            StationText(view->count.troop, view->count.district)));
  }
  return view;
}

std::vector<CountSummary> RequestHandler::Counts(const Principal& principal) {
  if (!principal.May(Action::Report)) {
    throw StoreError::Forbidden(
        fmt::format("Your account ({}) may not read physical counts.", RoleName(principal.role)));
  }
  const StationScope seen = SeenBy(principal);
  std::vector<CountSummary> out;
  for (CountSummary& c : mStore->Counts()) {
    if (seen.Covers(c.troop, c.district)) out.push_back(std::move(c));
  }
  return out;
}

}  // namespace fm::server
