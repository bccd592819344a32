#include "server/store/CustodyLedger.h"

#include <fmt/format.h>

#include <algorithm>

#include "server/store/StoreError.h"

namespace fm::server {

namespace {

[[noreturn]] void RefuseEntry(const std::string& label, const std::string& why) {
  throw StoreError::Rejected(fmt::format("{}: {}", label, why));
}

std::string SpanText(NumberSpan s) {
  return s.first == s.last ? fmt::format("{}", s.first) : fmt::format("{}-{}", s.first, s.last);
}

NumberSpan SpanOf(const FormRange& r) { return {r.from, r.to}; }

std::int64_t Count(const std::vector<NumberSpan>& spans) {
  std::int64_t n = 0;
  for (const auto& s : spans) n += s.last - s.first + 1;
  return n;
}

}  // namespace

std::vector<NumberSpan> UncoveredParts(NumberSpan span, std::span<const NumberSpan> covers) {
  std::vector<NumberSpan> parts;
  if (span.last < span.first) return parts;
  // Covers starting after the span cannot matter. Of the others any may reach into it (they
  // may overlap one another), so each is looked at once.
  const auto end = std::upper_bound(
      covers.begin(), covers.end(), span.last,
      [](std::int64_t number, const NumberSpan& cover) { return number < cover.first; });
  std::int64_t next = span.first;  // the lowest number of the span not yet known to be held
  for (auto it = covers.begin(); it != end; ++it) {
    if (it->last < next) continue;
    if (it->first > next) parts.push_back({next, it->first - 1});
    if (it->last >= span.last) return parts;
    next = it->last + 1;
  }
  parts.push_back({next, span.last});
  return parts;
}

std::string SpansText(const std::vector<NumberSpan>& spans) {
  std::string text;
  for (const auto& s : spans) text += (text.empty() ? "" : ", ") + SpanText(s);
  return text;
}

void CustodyLedger::Replaced(const std::string& label, const FormRange& stored) {
  if (mWrittenStarts.count({stored.formType, stored.from}) > 0) {
    RefuseEntry(label, fmt::format("the range {}-{} was written by an earlier row of this save; a "
                                   "save replaces each range at most once",
                                   stored.from, stored.to));
  }
  mReplaced.push_back({label, stored});
}

std::optional<FormRange> CustodyLedger::ClassifyAdd(const std::string& label,
                                                    const FormRange& added) const {
  std::vector<const FormRange*> sources;
  std::vector<NumberSpan> fromReplaced;
  for (const auto& replacement : mReplaced) {
    const FormRange& r = replacement.stored;
    if (r.formType != added.formType || r.to < added.from || r.from > added.to) continue;
    sources.push_back(&r);
    fromReplaced.push_back({std::max(r.from, added.from), std::min(r.to, added.to)});
  }
  if (sources.empty()) return std::nullopt;  // a receipt
  if (Count(fromReplaced) != added.Size()) {
    std::sort(fromReplaced.begin(), fromReplaced.end(),
              [](const NumberSpan& a, const NumberSpan& b) { return a.first < b.first; });
    RefuseEntry(label,
                fmt::format("forms {} come from the range {}-{} this save replaces, forms {} "
                            "are new; new forms are received in a row of their own",
                            SpansText(fromReplaced), sources.front()->from, sources.front()->to,
                            SpansText(UncoveredParts(SpanOf(added), fromReplaced))));
  }
  if (sources.size() > 1) {
    std::string names;
    for (const FormRange* r : sources) {
      names += fmt::format("{}{}-{}", names.empty() ? "" : " and ", r->from, r->to);
    }
    RefuseEntry(label, fmt::format("the range joins forms of the ranges {} this save replaces; a "
                                   "piece comes from one range",
                                   names));
  }
  return *sources.front();
}

void CustodyLedger::CheckUpdateWithin(const std::string& label, const FormRange& stored,
                                      const FormRange& next) {
  if (next.to < next.from) return;  // the range rules refuse it with their own message
  const NumberSpan own = SpanOf(stored);
  const auto outside = UncoveredParts(SpanOf(next), std::span<const NumberSpan>(&own, 1));
  if (!outside.empty()) {
    RefuseEntry(label,
                fmt::format("the change reaches forms {} outside the range {}-{} it replaces; "
                            "new forms are received as a new range of their own",
                            SpansText(outside), stored.from, stored.to));
  }
}

void CustodyLedger::Written(const FormRange& written) {
  mCovered[written.formType].push_back(SpanOf(written));
  mWrittenStarts.insert({written.formType, written.from});
}

void CustodyLedger::Withdrawn(const std::string& formType, NumberSpan span) {
  mCovered[formType].push_back(span);
}

void CustodyLedger::CheckNothingLost() const {
  std::map<std::string, std::vector<NumberSpan>, std::less<>> sorted;
  for (const auto& replacement : mReplaced) {
    const FormRange& r = replacement.stored;
    auto it = sorted.find(r.formType);
    if (it == sorted.end()) {
      auto covered = mCovered.find(r.formType);
      std::vector<NumberSpan> covers;
      if (covered != mCovered.end()) covers = covered->second;
      std::sort(covers.begin(), covers.end(),
                [](const NumberSpan& a, const NumberSpan& b) { return a.first < b.first; });
      it = sorted.emplace(r.formType, std::move(covers)).first;
    }
    const auto lost = UncoveredParts(SpanOf(r), it->second);
    if (!lost.empty()) {
      throw StoreError::Rejected(fmt::format(
          "{} would leave {} {} in no range; a change may split or move forms but never lose "
          "them.",
          replacement.label, Count(lost) == 1 ? "form" : "forms", SpansText(lost)));
    }
  }
}

}  // namespace fm::server
