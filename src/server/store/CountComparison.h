#pragma once

#include <vector>

#include "server/store/CountTypes.h"

// The result of a physical count as plain code over sorted spans (docs/counts.md): what the
// store reads goes in, nothing is read here.
namespace fm::server {

// `spans` sorted by form type and number, overlapping and adjacent ones of a type joined.
std::vector<CountSpan> MergeSpans(std::vector<CountSpan> spans);

// The count of one form type: `book` (the pieces fixed at the opening, sorted, not
// overlapping), `counted` (sorted and merged, as MergeSpans answers) and `reasons` (sorted,
// not overlapping: why a number held elsewhere, delisted or used would have been counted)
// give
//   - found: the book's numbers counted, missing: those not counted, each piece with the
//     holder and status of its book piece; the two partition the book;
//   - unexpected: the counted numbers outside the book, with the reason of `reasons` that
//     covers them, or NeverReceived where none does.
// Adjacent pieces alike are joined. Every span is of `formType`; the others are not read.
CountResult CompareCount(const std::vector<BookSpan>& book, const std::vector<CountSpan>& counted,
                         const std::vector<UnexpectedSpan>& reasons);

// What the result says of one number: "found", "missing", the unexpected reason's key, or
// empty when the count did not reach it.
std::string OutcomeOf(const CountResult& result, const std::string& formType, std::int64_t number);

}  // namespace fm::server
