#include "protocol/Clearance.h"

#include <fmt/format.h>

#include <nlohmann/json.hpp>

namespace fm::protocol {

ClearanceVerdict ClearanceOf(const Reconciliation& r) {
  ClearanceVerdict v;
  for (const auto& line : r.lines) {
    v.held += line.held.count;
    // In stock and unaccounted are apart in a reconciliation; both are forms he has not used.
    v.unused += line.inStock.count + line.unaccounted.count;
    v.unaccounted += line.unaccounted.count;
  }
  v.exceptions = r.exceptions.size();
  return v;
}

std::string ClearanceVerdictText(const Reconciliation& r) {
  const ClearanceVerdict v = ClearanceOf(r);
  if (v.Clear()) {
    return fmt::format("CLEAR: {} holds no unused or unaccounted form as of {}", r.holder, r.asOf);
  }
  std::string text = fmt::format("NOT CLEAR: {} holds {} unused form{}", r.holder, v.unused,
                                 v.unused == 1 ? "" : "s");
  if (v.unaccounted > 0) text += fmt::format(", {} of them unaccounted", v.unaccounted);
  return text + fmt::format(", as of {}", r.asOf);
}

std::string ClearanceText(const Reconciliation& r) {
  std::string text = ClearanceVerdictText(r) + "\n";
  const ClearanceVerdict v = ClearanceOf(r);
  if (v.exceptions > 0) {
    text += fmt::format("{} use{} of his to explain (below).\n", v.exceptions,
                        v.exceptions == 1 ? "" : "s");
  }
  return text + "\n" + ReconciliationText(r);
}

std::string ClearanceToJson(const Reconciliation& r) {
  const ClearanceVerdict v = ClearanceOf(r);
  nlohmann::ordered_json body{
      {"officer",
       r.registry ? nlohmann::ordered_json(*r.registry) : nlohmann::ordered_json(nullptr)},
      {"holder", r.holder},
      {"as_of", r.asOf},
      {"clear", v.Clear()},
      {"held", v.held},
      {"unused", v.unused},
      {"unaccounted", v.unaccounted},
      {"exceptions", v.exceptions},
      {"reconciliation", nlohmann::ordered_json::parse(ReconciliationToJson(r))}};
  return body.dump();
}

}  // namespace fm::protocol
