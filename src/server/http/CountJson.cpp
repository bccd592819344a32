#include "server/http/CountJson.h"

#include <nlohmann/json.hpp>

namespace fm::server {

namespace {

using Json = nlohmann::ordered_json;

Json Certified(const std::optional<CountCertification>& c) {
  if (!c) return nullptr;
  return Json{
      {"by", c->userName}, {"by_id", c->userId}, {"at", c->at}, {"statement", c->statement}};
}

Json Book(const std::vector<BookSpan>& spans) {
  Json list = Json::array();
  for (const BookSpan& b : spans) {
    list.push_back(Json{{"form_type", b.formType},
                        {"from", b.from},
                        {"to", b.to},
                        {"officer", b.registry ? Json(b.registry) : Json(nullptr)},
                        {"status", b.status}});
  }
  return list;
}

Json SettlementJson(const CountSettlement& s) {
  return Json{{"form_type", s.formType},
              {"from", s.from},
              {"to", s.to},
              {"outcome", SettlementKey(s.kind)},
              {"note", s.note},
              {"by", s.userName},
              {"by_id", s.userId},
              {"at", s.at},
              {"request_id", s.requestId}};
}

}  // namespace

std::string CountViewToJson(const CountView& view) {
  const PhysicalCount& c = view.count;
  Json counted = Json::array();
  for (const CountSpan& s : c.counted) {
    counted.push_back(Json{{"form_type", s.formType}, {"from", s.from}, {"to", s.to}});
  }
  Json unexpected = Json::array();
  for (const UnexpectedSpan& u : view.result.unexpected) {
    unexpected.push_back(Json{{"form_type", u.formType},
                              {"from", u.from},
                              {"to", u.to},
                              {"reason", UnexpectedReasonKey(u.reason)},
                              {"detail", u.detail}});
  }
  Json settlements = Json::array();
  for (const CountSettlement& s : c.settlements) settlements.push_back(SettlementJson(s));
  return Json{{"number", c.number},
              {"station", c.troop + c.district},
              {"form_types", c.formTypes},
              {"opened_by", c.openedBy},
              {"opened_by_id", c.openedById},
              {"opened_at", c.openedAt},
              {"request_id", c.requestId},
              {"certified", Certified(c.certified)},
              {"book", Book(c.book)},
              {"counted", std::move(counted)},
              {"result", Json{{"found", Book(view.result.found)},
                              {"missing", Book(view.result.missing)},
                              {"unexpected", std::move(unexpected)}}},
              {"settlements", std::move(settlements)}}
      .dump();
}

std::string CountListToJson(const std::vector<CountSummary>& counts) {
  Json list = Json::array();
  for (const CountSummary& c : counts) {
    list.push_back(Json{{"number", c.number},
                        {"station", c.troop + c.district},
                        {"form_types", c.formTypes},
                        {"opened_by", c.openedBy},
                        {"opened_at", c.openedAt},
                        {"certified", Certified(c.certified)}});
  }
  return list.dump();
}

std::string SettlementToJson(const CountSettlement& settlement) {
  return SettlementJson(settlement).dump();
}

std::string CountsOfFormToJson(const std::vector<CountOfForm>& counts) {
  Json list = Json::array();
  for (const CountOfForm& c : counts) {
    list.push_back(
        Json{{"count", c.number},
             {"station", c.troop + c.district},
             {"certified_at", c.certifiedAt},
             {"certified_by", c.certifiedBy},
             {"outcome", c.outcome},
             {"settled", c.settlement ? Json(SettlementKey(c.settlement->kind)) : Json(nullptr)}});
  }
  return list.dump();
}

}  // namespace fm::server
