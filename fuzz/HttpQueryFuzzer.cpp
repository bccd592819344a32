// The query readers of the HTTP front on any request target: the query as the history and
// the report endpoints read it, then the report's parameters as the report reads them. A
// refusal must be a 400 (query) or a RequestError (report), and what is read must keep to
// the names and the period the endpoints promise.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "Require.h"
#include "server/handler/ReportRequest.h"
#include "server/handler/RequestError.h"
#include "server/http/QueryString.h"
#include "server/store/ReferenceData.h"
#include "server/store/TimeText.h"

namespace {

using fm::fuzz::Require;

void ReadReport(const std::map<std::string, std::string>& given, std::string_view input) {
  static const auto reference = fm::server::ReferenceData::FromDemoDatabase("NORTH");
  const auto find = [&](const char* name) {
    const auto it = given.find(name);
    return it == given.end() ? std::string() : it->second;
  };
  fm::server::ReportParameters parameters;
  parameters.station = find("station");
  parameters.officer = find("officer");
  parameters.formType = find("form_type");
  parameters.from = find("from");
  parameters.to = find("to");
  using namespace std::chrono;
  fm::server::AccountabilityQuery query;
  try {
    query = fm::server::ReportQueryFrom(parameters, reference, year{2026} / June / 15);
  } catch (const fm::server::RequestError&) {
    return;
  }
  const auto first = fm::server::ParseIsoDate(query.fromDate);
  const auto last = fm::server::ParseIsoDate(query.toDate);
  Require(first && last, "a report period whose days are not dates", input);
  const auto days = (sys_days{*last} - sys_days{*first}).count();
  Require(days >= 0 && days < fm::server::kMaxReportDays, "a report period out of bounds", input);
  const auto start = fm::server::ParseUtcTimestamp(query.start);
  const auto end = fm::server::ParseUtcTimestamp(query.end);
  Require(start && end, "a report period whose instants are not UTC stamps", input);
  Require(*start < *end, "a report period that ends before it starts", input);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view target(reinterpret_cast<const char*>(data), size);
  const struct {
    std::string_view path;
    std::initializer_list<std::string_view> known;
  } endpoints[] = {{"/v1/history", {"form_type", "number"}},
                   {"/v1/report", {"station", "officer", "form_type", "from", "to"}}};
  for (const auto& endpoint : endpoints) {
    std::map<std::string, std::string> parameters;
    if (const auto refusal =
            fm::server::ReadQuery(target, endpoint.path, endpoint.known, parameters)) {
      Require(refusal->status == 400 && !refusal->body.empty(), "a query refused but not as 400",
              target);
      continue;
    }
    for (const auto& [name, value] : parameters) {
      bool known = false;
      for (const auto k : endpoint.known) known = known || name == k;
      Require(known, "a query parameter read that the endpoint does not take", target);
    }
    if (endpoint.path == "/v1/report") ReadReport(parameters, target);
  }
  return 0;
}
