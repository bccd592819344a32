#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "server/store/CountTypes.h"

// What the physical count requests carry (docs/counts.md), as the command line and the HTTP
// front read them: texts the handler checks, so a mistake is told in one place.
namespace fm::server {

class ReferenceData;

// A count to open: the station (e.g. A1; A: the troop's own stock) and the form types.
struct CountOpenParameters {
  std::string station;
  std::vector<std::string> formTypes;
};

// Numbers counted: from..to of the form type (empty: the count's only one; to empty: from
// alone).
struct CountEntryParameters {
  std::string formType;
  std::string from;
  std::string to;
};

// A missing span to settle: "lost" or "found_later" (also "found later", "found").
struct CountSettleParameters {
  std::string formType;
  std::string from;
  std::string to;
  std::string outcome;
  std::string note;
};

// A count with its result, as show answers it.
struct CountView {
  PhysicalCount count;
  CountResult result;
};

// The counted numbers of an imported text: one number a line (a scanner's output), or CSV
// lines of "form type,number" or "form type,from,to", a heading line of words allowed first;
// blank lines are skipped. A line's form type may be left out when the count has one
// (`onlyType`). Throws RequestError naming the first bad line, and for more than `maxLines`
// lines (RequestHandlerOptions::maxCountLines).
std::vector<CountSpan> ReadCountedText(const std::string& text, const std::string& onlyType,
                                       const ReferenceData& reference, std::size_t maxLines);

}  // namespace fm::server
