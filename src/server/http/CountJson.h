#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "server/handler/CountRequest.h"

// Physical counts as JSON (docs/counts.md), for GET /v1/counts and `count show --format json`.
namespace fm::server {

// {"number", "station", "form_types", "opened_by", "opened_by_id", "opened_at", "request_id",
//  "certified": null or {"by", "by_id", "at", "statement"}, "book": [{"form_type", "from",
//  "to", "officer", "status"}], "counted": [{"form_type", "from", "to"}], "result": {"found",
//  "missing" (as the book), "unexpected": [{"form_type", "from", "to", "reason", "detail"}]},
//  "settlements": [{"form_type", "from", "to", "outcome", "note", "by", "by_id", "at",
//  "request_id"}]}
std::string CountViewToJson(const CountView& view);
// [{"number", "station", "form_types", "opened_by", "opened_at", "certified"}, ...]
std::string CountListToJson(const std::vector<CountSummary>& counts);
std::string SettlementToJson(const CountSettlement& settlement);
// "found", "missing", the reasons, for a form's history: [{"count", "station", "certified_at",
// "certified_by", "outcome", "settled"}, ...]
std::string CountsOfFormToJson(const std::vector<CountOfForm>& counts);

}  // namespace fm::server
