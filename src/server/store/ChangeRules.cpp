#include "server/store/ChangeRules.h"

#include <fmt/format.h>

#include <algorithm>

#include "base/Text.h"
#include "server/store/ReferenceData.h"
#include "server/store/StationScope.h"
#include "server/store/StoreError.h"
#include "server/store/TimeText.h"

namespace fm::server {

namespace {

constexpr std::int64_t kLowestYear = 1950;

[[noreturn]] void Refuse(const std::string& label, const std::string& why) {
  throw StoreError::Rejected(fmt::format("{}: {}", label, why));
}

std::string RowLabelNaming(std::size_t index, const RangeChange& change,
                           const std::string& formType) {
  return fmt::format("Row {} ({} {}-{} of {})", index + 1,
                     change.action == RangeChange::Action::Add ? "new range" : "change of",
                     change.from, change.to, formType);
}

}  // namespace

std::string RowLabel(std::size_t index, const RangeChange& change, const ReferenceData& reference) {
  return RowLabelNaming(index, change, FormTypeName(change.formType, reference));
}

std::string RowLabel(std::size_t index, const RangeChange& change) {
  return RowLabelNaming(index, change, "form type " + change.formType);
}

FormRange ResolveChange(const std::string& label, const RangeChange& change,
                        const std::optional<FormRange>& stored) {
  FormRange r;
  if (stored) {
    r = *stored;
  } else if (!change.status) {
    Refuse(label, "a new range needs a status");
  }
  r.formType = change.formType;
  r.from = change.from;
  r.to = change.to;
  r.troop = change.troop;
  r.district = change.district;
  if (change.registry) {
    r.registry = *change.registry;
  } else if (!stored) {
    r.registry = kNoOfficer;
  }
  if (change.status) r.status = *change.status;
  if (change.quarter) r.quarter = change.quarter;
  if (change.year) r.year = change.year;
  r.comment = change.comment;
  if (r.comment && r.comment->empty()) r.comment.reset();
  if (r.formType != kQuarterlyFormType) {
    r.quarter.reset();
    r.year.reset();
  }
  return r;
}

std::vector<RangeChange> SplitPartOfRange(const RangeChange& change, const FormRange& stored) {
  auto keep = [&](RangeChange::Action action, std::int64_t from, std::int64_t to) {
    RangeChange piece;
    piece.action = action;
    piece.formType = stored.formType;
    piece.from = from;
    piece.to = to;
    piece.troop = stored.troop;
    piece.district = stored.district;
    piece.registry = stored.registry;
    piece.status = stored.status;
    piece.quarter = stored.quarter;
    piece.year = stored.year;
    piece.comment = stored.comment;
    return piece;
  };
  RangeChange entered = change;
  if (!entered.registry) entered.registry = stored.registry;
  if (!entered.status) entered.status = stored.status;
  if (!entered.quarter) entered.quarter = stored.quarter;
  if (!entered.year) entered.year = stored.year;

  std::vector<RangeChange> rows;
  if (change.from > stored.from) {
    rows.push_back(keep(RangeChange::Action::Update, stored.from, change.from - 1));
    rows.back().rowVersion = change.rowVersion;
    entered.action = RangeChange::Action::Add;
    entered.rowVersion.reset();
  }
  rows.push_back(entered);
  if (change.to < stored.to)
    rows.push_back(keep(RangeChange::Action::Add, change.to + 1, stored.to));
  return rows;
}

bool IsLoneQuarterlyUpdate(const std::vector<RangeChange>& changes) {
  return changes.size() == 1 && changes[0].action == RangeChange::Action::Update &&
         changes[0].formType == kQuarterlyFormType && changes[0].from <= changes[0].to;
}

void CheckRange(const std::string& label, const FormRange& r, const ReferenceData& reference) {
  const FormTypeInfo* type = reference.FindFormType(r.formType);
  if (!type) Refuse(label, fmt::format("the Form Type \"{}\" is not known", r.formType));
  if (r.to < r.from) {
    Refuse(label, fmt::format("the To Range {} is below the From Range {}", r.to, r.from));
  }
  for (std::int64_t n : {r.from, r.to}) {
    if (n < type->lowest || n > type->highest) {
      Refuse(label,
             fmt::format("the form number {} must be equal to or between {} and {} for {}", n,
                         type->lowest, type->highest, FormTypeName(type->code, reference)));
    }
  }
  if (r.troop.empty()) Refuse(label, "the Troop/District is missing");
  if (!reference.HasStation(r.troop, r.district)) {
    Refuse(label, fmt::format("there is no {}", StationText(r.troop, r.district)));
  }
  if (!reference.HasStatus(r.status)) {
    Refuse(label, fmt::format("the status \"{}\" is not known", r.status));
  }
  if (r.registry < 0 || !reference.HasRegistry(r.registry)) {
    Refuse(label, fmt::format("no officer has the Registry # {}", r.registry));
  }
  if (r.formType == kQuarterlyFormType) {
    if (!r.quarter || *r.quarter < 1 || *r.quarter > 4) {
      Refuse(label, fmt::format("a range of {} needs a quarter from 1 to 4",
                                FormTypeName(r.formType, reference)));
    }
    if (!r.year || *r.year < kLowestYear) {
      Refuse(label, fmt::format("a range of {} needs a year of at least {}",
                                FormTypeName(r.formType, reference), kLowestYear));
    }
  }
  if (r.comment && r.comment->size() > kMaxCommentLength) {
    Refuse(label, fmt::format("the comment is longer than {} characters", kMaxCommentLength));
  }
  if (r.remaining < 0 || r.remaining > r.Size()) {
    Refuse(label, fmt::format("the remaining-forms count {} is not between 0 and {}", r.remaining,
                              r.Size()));
  }
}

void RemainingCounter::Replaced(const FormRange& stored) {
  std::int64_t used = std::clamp<std::int64_t>(stored.Size() - stored.remaining, 0, stored.Size());
  if (used > 0) mUsed.push_back({stored.formType, stored.from, stored.from + used - 1});
}

std::int64_t RemainingCounter::RemainingFor(const std::string& formType, std::int64_t from,
                                            std::int64_t to) const {
  std::int64_t remaining = to - from + 1;
  for (const auto& part : mUsed) {
    if (part.formType != formType) continue;
    std::int64_t first = std::max(from, part.first);
    std::int64_t last = std::min(to, part.last);
    if (first <= last) remaining -= last - first + 1;
  }
  return std::max<std::int64_t>(remaining, 0);
}

std::string FormTypeName(const std::string& code, const ReferenceData& reference) {
  const FormTypeInfo* type = reference.FindFormType(code);
  const std::string description = type ? text::Trim(type->description) : std::string();
  return description.empty() ? code : description;
}

std::string StatusName(const std::string& code, const ReferenceData& reference) {
  for (const auto& status : reference.Statuses()) {
    if (status.code != code) continue;
    const std::string description = text::Trim(status.description);
    return description.empty() ? code : description;
  }
  return code;
}

void CheckHeldInScope(const StationScope& scope, const FormRange& stored,
                      const ReferenceData& reference, std::string_view outcome) {
  if (scope.Covers(stored.troop, stored.district)) return;
  throw StoreError::Forbidden(
      fmt::format("Your account may not change ranges of {}. Range {}-{} of {} is held there; {}.",
                  StationText(stored.troop, stored.district), stored.from, stored.to,
                  FormTypeName(stored.formType, reference), outcome));
}

void CheckWrittenInScope(const StationScope& scope, std::size_t index, const FormRange& written,
                         const ReferenceData& reference) {
  if (scope.Covers(written.troop, written.district)) return;
  throw StoreError::Forbidden(fmt::format(
      "Your account may not change ranges of {}. Row {} would put forms {}-{} of {} there; "
      "nothing was saved.",
      StationText(written.troop, written.district), index + 1, written.from, written.to,
      FormTypeName(written.formType, reference)));
}

std::string StaleRangeMessage(const FormRange& stored, const std::string& formTypeName,
                              const LastChange& last) {
  const std::string who =
      last.userName.empty() ? fmt::format("User {}", last.userId) : last.userName;
  const auto at = ParseUtcTimestamp(last.at);
  return fmt::format(
      "Range {}-{} of {} was changed by {} at {} after your search. Search again and repeat the "
      "change.",
      stored.from, stored.to, formTypeName, who, at ? ClerkTime(*at) : last.at);
}

std::string ChangeFingerprint(const std::vector<RangeChange>& changes) {
  // FNV-1a over a length-prefixed rendering: unambiguous, and stable across builds.
  std::uint64_t hash = 1469598103934665603ull;
  auto mix = [&](std::string_view text) {
    std::string framed = fmt::format("{}:{};", text.size(), text);
    for (unsigned char c : framed) {
      hash ^= c;
      hash *= 1099511628211ull;
    }
  };
  auto opt = [](const auto& v) { return v ? fmt::format("{}", *v) : std::string("~"); };
  for (const auto& c : changes) {
    mix(c.action == RangeChange::Action::Add ? "ADD" : "UPD");
    mix(c.formType);
    mix(std::to_string(c.from));
    mix(std::to_string(c.to));
    mix(c.troop);
    mix(c.district);
    mix(opt(c.registry));
    mix(opt(c.status));
    mix(opt(c.quarter));
    mix(opt(c.year));
    mix(opt(c.comment));
    // Only when present, so that rows without one (every "ADD") digest as they always did and
    // a request recorded before versions existed is still recognised when sent again.
    if (c.rowVersion) mix("v" + std::to_string(*c.rowVersion));
  }
  return fmt::format("{:016x}/{}", hash, changes.size());
}

}  // namespace fm::server
