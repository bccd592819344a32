#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "protocol/Usage.h"

// The values the store takes and answers about the uses of form numbers (docs/usage.md).
// Plain data; the rules that bind them are in server/store/Store.h and server/store/UseChecks.h.
namespace fm::server {

// What one batch of uses may hold. Each is an option of the server and of `usage import`
// (docs/usage.md names them); beyond one, the batch or the line is refused, saying which.
struct UsageLimits {
  // Bytes of an import file (a body of POST /v1/usage is bounded by the server's body limit
  // first).
  std::uint64_t fileBytes = std::uint64_t{128} * 1024 * 1024;
  // Bytes of one line of a file: a record running on past it (an unclosed quote) is named
  // as a bad line instead of swallowing the rest of the file.
  std::size_t lineBytes = 4096;
  // Characters of a text field: reference, note, source, a correction's reason.
  std::size_t fieldLength = 200;
  // Bad lines, and conflicts, an answer lists; the rest are counted.
  std::size_t listedLines = 1000;
  // Numbers one row of a person's record may span (a pad of spoiled forms).
  std::int64_t spanNumbers = 10000;
};

// What a use is checked against besides the reference data.
struct UseRules {
  std::string today;  // "YYYY-MM-DD", the server's local day: no use is dated after it
  UsageLimits limits;
};

// One line of a batch: the use as reported, or why the line could not be read as one.
struct UseLine {
  std::int64_t line = 0;  // a file's line (the header is line 1), or the use's place (1-based)
  protocol::ReportedUse use;
  std::string problem;  // not empty: the line is bad as it stands (quoting, field count)
};

// The lines of a batch, handed to `each` from the first, each time it is called: a store reads
// them more than once (every line is checked before any is stored). What reading throws passes
// through.
using UseLines = std::function<void(const std::function<void(const UseLine&)>& each)>;

struct UseBatch {
  protocol::UseSource source;  // an import file's name and hash; empty for a person's record
  std::string sourceText;      // where the uses come from, in words (required)
  UseRules rules;
  bool preview = false;  // check and count everything, store nothing
  UseLines lines;
};

// The numbers from..to of one form type.
struct TypeSpan {
  std::string formType;
  std::int64_t from = 0;
  std::int64_t to = 0;
  friend bool operator==(const TypeSpan&, const TypeSpan&) = default;
};

// Which use records a read answers: of one form type or all, of the numbers from..to (either
// bound may be open), of one officer, standing ones only or every record.
struct UseQuery {
  std::string formType;  // empty: every form type
  std::optional<std::int64_t> from;
  std::optional<std::int64_t> to;
  std::optional<std::int64_t> registry;
  bool standingOnly = true;
  friend bool operator==(const UseQuery&, const UseQuery&) = default;
};

// How a read of uses (Store::ForEachUseWith) goes beyond its query.
struct UseReading {
  // Of any of these officers as well as the query's registry (when it is set, of that one
  // too): one read for a station's officers rather than one each.
  std::vector<std::int64_t> registries;
  // Numbers left out: spans whose uses the caller read already in the same snapshot.
  std::vector<TypeSpan> excluded;
  // Only the numbers of these spans, all of the query's form type (which must be set),
  // ascending and not overlapping: one statement seeking each span in the index, however
  // many there are, where a read from the lowest to the highest would pass every number
  // between them. The query's from and to are then left aside. Empty: no such bound.
  std::vector<TypeSpan> within;
  // Only what a reconciliation judges by (id, form type, number, disposition, day, officer,
  // standing); the other fields stay empty, and the imports' table is not joined.
  bool brief = false;
  // By form type, number and id; false: as the database finds them, which spares it a sort.
  bool ordered = true;
};

// A reported use kept apart because it contradicts the standing use of its number.
struct UseConflict {
  std::int64_t id = 0;
  // The use as reported (id 0, not standing), with where it came from.
  protocol::FormUse reported;
  std::int64_t line = 0;         // of its import file, or its place in the batch
  std::int64_t contradicts = 0;  // the id of the standing use it contradicts
  friend bool operator==(const UseConflict&, const UseConflict&) = default;
};

}  // namespace fm::server
