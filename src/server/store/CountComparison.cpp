// The comparison of a count with its book: sweeps over sorted spans, so a count of many
// thousands of books costs a pass over each list.
#include "server/store/CountComparison.h"

#include <algorithm>
#include <tuple>

namespace fm::server {

const char* UnexpectedReasonKey(UnexpectedReason reason) {
  switch (reason) {
    case UnexpectedReason::OtherStation:
      return "other_station";
    case UnexpectedReason::OtherOfficer:
      return "other_officer";
    case UnexpectedReason::Delisted:
      return "delisted";
    case UnexpectedReason::Used:
      return "used";
    case UnexpectedReason::NotInBook:
      return "not_in_book";
    case UnexpectedReason::NeverReceived:
      return "never_received";
  }
  return "never_received";
}

const char* SettlementKey(SettlementKind kind) {
  return kind == SettlementKind::Lost ? "lost" : "found_later";
}

std::vector<CountSpan> MergeSpans(std::vector<CountSpan> spans) {
  std::sort(spans.begin(), spans.end(), [](const CountSpan& a, const CountSpan& b) {
    return std::tie(a.formType, a.from, a.to) < std::tie(b.formType, b.from, b.to);
  });
  std::vector<CountSpan> out;
  for (CountSpan& s : spans) {
    // to + 1 of the greatest number would overflow; no form type reaches it.
    if (!out.empty() && out.back().formType == s.formType && s.from <= out.back().to + 1) {
      out.back().to = std::max(out.back().to, s.to);
    } else {
      out.push_back(std::move(s));
    }
  }
  return out;
}

namespace {

void AddBookPiece(std::vector<BookSpan>& out, const BookSpan& of, std::int64_t from,
                  std::int64_t to) {
  if (!out.empty() && out.back().to + 1 == from && out.back().registry == of.registry &&
      out.back().status == of.status && out.back().formType == of.formType) {
    out.back().to = to;
    return;
  }
  out.push_back({of.formType, from, to, of.registry, of.status});
}

void AddUnexpected(std::vector<UnexpectedSpan>& out, const std::string& formType, std::int64_t from,
                   std::int64_t to, UnexpectedReason reason, const std::string& detail) {
  if (!out.empty() && out.back().to + 1 == from && out.back().reason == reason &&
      out.back().detail == detail) {
    out.back().to = to;
    return;
  }
  out.push_back({formType, from, to, reason, detail});
}

}  // namespace

CountResult CompareCount(const std::vector<BookSpan>& book, const std::vector<CountSpan>& counted,
                         const std::vector<UnexpectedSpan>& reasons) {
  CountResult result;
  // Found and missing: each book piece against the counted spans reaching it. A counted span
  // may reach past the piece into the next one, so the first span read moves only past those
  // ending before the piece.
  std::size_t first = 0;
  for (const BookSpan& b : book) {
    while (first < counted.size() && counted[first].to < b.from) ++first;
    std::int64_t cursor = b.from;
    for (std::size_t k = first; k < counted.size() && counted[k].from <= b.to; ++k) {
      const std::int64_t from = std::max(counted[k].from, cursor);
      const std::int64_t to = std::min(counted[k].to, b.to);
      if (from > to) continue;
      if (from > cursor) AddBookPiece(result.missing, b, cursor, from - 1);
      AddBookPiece(result.found, b, from, to);
      cursor = to + 1;
    }
    if (cursor <= b.to) AddBookPiece(result.missing, b, cursor, b.to);
  }
  // Unexpected: each counted span less the book, the pieces left told by the reasons.
  std::size_t bookAt = 0;
  std::size_t reasonAt = 0;
  const auto tell = [&](const std::string& formType, std::int64_t from, std::int64_t to) {
    while (reasonAt < reasons.size() && reasons[reasonAt].to < from) ++reasonAt;
    std::int64_t cursor = from;
    for (std::size_t k = reasonAt; k < reasons.size() && reasons[k].from <= to; ++k) {
      const std::int64_t a = std::max(reasons[k].from, cursor);
      const std::int64_t z = std::min(reasons[k].to, to);
      if (a > z) continue;
      if (a > cursor) {
        AddUnexpected(result.unexpected, formType, cursor, a - 1, UnexpectedReason::NeverReceived,
                      "");
      }
      AddUnexpected(result.unexpected, formType, a, z, reasons[k].reason, reasons[k].detail);
      cursor = z + 1;
    }
    if (cursor <= to) {
      AddUnexpected(result.unexpected, formType, cursor, to, UnexpectedReason::NeverReceived, "");
    }
  };
  for (const CountSpan& c : counted) {
    while (bookAt < book.size() && book[bookAt].to < c.from) ++bookAt;
    std::int64_t cursor = c.from;
    for (std::size_t k = bookAt; k < book.size() && book[k].from <= c.to; ++k) {
      if (book[k].from > cursor) tell(c.formType, cursor, book[k].from - 1);
      cursor = std::max(cursor, book[k].to + 1);
    }
    if (cursor <= c.to) tell(c.formType, cursor, c.to);
  }
  return result;
}

std::string OutcomeOf(const CountResult& result, const std::string& formType, std::int64_t number) {
  const auto holds = [&](const auto& s) {
    return s.formType == formType && s.from <= number && number <= s.to;
  };
  if (std::any_of(result.found.begin(), result.found.end(), holds)) return "found";
  if (std::any_of(result.missing.begin(), result.missing.end(), holds)) return "missing";
  for (const UnexpectedSpan& u : result.unexpected) {
    if (holds(u)) return UnexpectedReasonKey(u.reason);
  }
  return {};
}

}  // namespace fm::server
