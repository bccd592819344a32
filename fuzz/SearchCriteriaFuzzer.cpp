// The server's reading of a request's criteria on any criteria. The input is one criterion
// a line, "key<TAB>op<TAB>value". A refusal must be a RequestError with a message, and what
// is read must keep the rules the store relies on.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Require.h"
#include "base/Text.h"
#include "server/handler/RequestError.h"
#include "server/handler/SearchCriteria.h"

namespace {

// The next `separator`-ended part of `text`, taken off it.
std::string_view Take(std::string_view& text, char separator) {
  const std::size_t end = text.find(separator);
  const std::string_view part = text.substr(0, end);
  text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  return part;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using fm::fuzz::Require;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<fm::protocol::Criterion> criteria;
  for (std::string_view rest = input; !rest.empty();) {
    std::string_view line = Take(rest, '\n');
    fm::protocol::Criterion& c = criteria.emplace_back();
    c.key = std::string(Take(line, '\t'));
    c.op = std::string(Take(line, '\t'));
    c.value = std::string(line);
    c.application = "QUILLMAR";
  }
  fm::server::SearchCriteria read;
  try {
    read = fm::server::ParseCriteria(criteria);
  } catch (const fm::server::RequestError& e) {
    Require(*e.what() != '\0', "a refusal without a message", input);
    return 0;
  }
  Require(!read.ranges.formNumber || *read.ranges.formNumber >= 0, "a negative form number", input);
  for (const auto& condition : read.ranges.registry) {
    Require(condition.value >= 0, "a negative registry number", input);
  }
  for (const auto* codes :
       {&read.ranges.troop, &read.ranges.district, &read.ranges.formType, &read.ranges.status}) {
    for (const auto& condition : *codes) {
      Require(condition.value == fm::text::ToUpper(fm::text::Trim(condition.value)),
              "a code left untrimmed or in lower case", input);
    }
  }
  Require(!read.officers.registry || *read.officers.registry >= 0, "a negative officer", input);
  return 0;
}
