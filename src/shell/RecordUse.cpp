#include "shell/RecordUse.h"

#include <fmt/format.h>

#include <vector>

#include "base/Numbers.h"
#include "base/Text.h"
#include "shell/SearchSummary.h"
#include "shell/ShellExchange.h"
#include "shell/UsageImport.h"

namespace fm::shell {

using protocol::Disposition;

RequiredEntries RequiredFor(Disposition disposition) {
  switch (disposition) {
    case Disposition::Issued:
      return {true, true, false};
    case Disposition::Spoiled:
      return {true, false, true};
    case Disposition::Lost:
      return {false, false, false};
    case Disposition::Stolen:
      return {false, true, false};
  }
  return {};
}

RecordUse::RecordUse(UseRange range, std::function<std::string()> today, Changed changed,
                     std::function<void()> recorded)
    : mRange(std::move(range)),
      mToday(std::move(today)),
      mChanged(std::move(changed)),
      mRecorded(std::move(recorded)),
      mExchange(std::make_unique<ShellExchange>("RecordUse")) {}

RecordUse::~RecordUse() = default;

bool RecordUse::Waiting() const { return mExchange->Waiting(); }

void RecordUse::Say(std::string text, bool problem) {
  mStatus = {std::move(text), problem};
  if (mChanged) mChanged();
}

void RecordUse::Record(const UseEntries& typed) {
  if (Waiting()) return;
  const std::string span = fmt::format("{}-{}", mRange.from, mRange.to);
  const auto first = text::WholeNumber(text::Trim(typed.from));
  const std::string lastText = text::Trim(typed.to);
  const auto last = lastText.empty() ? first : text::WholeNumber(lastText);
  if (!first || !last || *first < mRange.from || *last > mRange.to || *last < *first) {
    Say(fmt::format("Type a number of the range {}, or the first and last of a span within it.",
                    span),
        true);
    return;
  }
  const std::string today = mToday ? mToday() : std::string();
  if (typed.usedOn.empty()) {
    Say("Type the day the form was used.", true);
    return;
  }
  if (!today.empty() && typed.usedOn > today) {
    Say(fmt::format("The day of use cannot be after today ({}).", today), true);
    return;
  }
  const RequiredEntries needs = RequiredFor(typed.disposition);
  const char* caption = protocol::DispositionCaption(typed.disposition);
  std::vector<std::string> missing;
  if (needs.officer && text::Trim(typed.officer).empty()) missing.emplace_back("the officer");
  if (needs.reference && text::Trim(typed.reference).empty()) missing.emplace_back("a reference");
  if (needs.note && text::Trim(typed.note).empty()) missing.emplace_back("a note saying why");
  if (text::Trim(typed.source).empty()) missing.emplace_back("the source");
  if (!missing.empty()) {
    std::string list = missing.front();
    for (std::size_t i = 1; i < missing.size(); ++i) {
      list += (i + 1 == missing.size() ? " and " : ", ") + missing[i];
    }
    Say(fmt::format("{} form needs {}.", caption, list), true);
    return;
  }
  protocol::ReportedUse use;
  use.formType = mRange.formType;
  use.number = std::to_string(*first);
  if (*last != *first) use.to = std::to_string(*last);
  use.disposition = protocol::DispositionKey(typed.disposition);
  use.usedOn = typed.usedOn;
  use.officer = text::Trim(typed.officer);
  use.reference = text::Trim(typed.reference);
  use.note = text::Trim(typed.note);
  const std::int64_t count = *last - *first + 1;
  const std::string what =
      count == 1 ? fmt::format("form {}", *first)
                 : fmt::format("{} forms ({}-{})", GroupedNumber(count), *first, *last);
  SendUses(*mExchange, protocol::UseRowsToDataSet({use}), protocol::kUseRowDataSet,
           text::Trim(typed.source), false,
           [this, what, caption](const std::string& error,
                                 const std::optional<protocol::UsageOutcome>& outcome) {
             if (!outcome) {
               Say(error, true);
               return;
             }
             std::string problems;
             for (const auto& p : outcome->badLines)
               problems += (problems.empty() ? "" : "; ") + p.message;
             for (const auto& p : outcome->conflicts)
               problems += (problems.empty() ? "" : "; ") + p.message;
             if (outcome->badLineCount > 0) {
               Say(fmt::format("Nothing was recorded: {}.", problems), true);
             } else if (outcome->conflictCount > 0) {
               if (mRecorded) mRecorded();
               Say(fmt::format("Kept apart as a conflict: {}", problems), true);
             } else if (outcome->recorded == 0) {
               Say(fmt::format("The use of {} was recorded already.", what), false);
             } else {
               if (mRecorded) mRecorded();
               Say(fmt::format("Recorded {}: {}.", what, caption), false);
             }
           });
  if (Waiting()) Say(fmt::format("Recording the use of {}...", what), false);
}

}  // namespace fm::shell
