#include "AllotmentCommand.h"

#include <fmt/format.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <iostream>
#include <memory>
#include <string>

#include "server/handler/ReportRequest.h"
#include "server/handler/RequestError.h"
#include "server/handler/RequestHandler.h"
#include "server/store/Store.h"
#include "server/store/StoreError.h"

namespace fm::server::cli {

namespace {

struct LimitSelection {
  StoreSelection store;
  CLI::App* set = nullptr;
  AllotmentCapParameters cap;
  ReissueRuleParameters rule;
};

std::string Set(const std::string& by, const std::string& at) {
  return fmt::format("set by {} at {}", by, at);
}

}  // namespace

std::pair<CLI::App*, CommandRun> AddCapCommand(CLI::App& app) {
  auto selection = std::make_shared<LimitSelection>();
  CLI::App* command = app.add_subcommand(
      "cap",
      "Allotment caps: per Troop/District and form type the most forms of the type one officer "
      "of the station may hold unused. A save giving an officer more is refused unless an "
      "administrator overrides it with a reason. Lists the caps kept.");
  command->require_subcommand(0, 1);
  AddStoreOptions(*command, selection->store);
  CLI::App* set =
      command->add_subcommand("set", "Set the cap of a station and form type; 0 removes it.");
  selection->set = set;
  AddStoreOptions(*set, selection->store);
  set->add_option("--station", selection->cap.station, "Troop/District, e.g. A1.")->required();
  set->add_option("--form-type", selection->cap.formType, "The form type, e.g. C.")->required();
  set->add_option("--cap", selection->cap.cap,
                  "The most unused forms one officer may hold, a whole number; 0 removes it.")
      ->required();
  return {
      command, [selection] {
        RequestHandler handler(OpenSelectedStore(selection->store));
        const Principal principal = Principal::LocalAdministrator(0, AccountName());
        if (selection->set->parsed()) {
          const AllotmentCap kept = Correctable([&] {
            return handler.SetAllotmentCap(selection->cap, principal, CommandRequestId("cap"),
                                           "formsmaint-server cap set");
          });
          std::cout << (kept.cap == 0
                            ? fmt::format("{}{} keeps no cap of {} any more ({}).\n", kept.troop,
                                          kept.district, kept.formType, Set(kept.setBy, kept.setAt))
                            : fmt::format("The allotment cap of {} at {}{} is {} ({}).\n",
                                          kept.formType, kept.troop, kept.district, kept.cap,
                                          Set(kept.setBy, kept.setAt)));
          return 0;
        }
        const auto caps = handler.AllotmentCaps(principal);
        if (caps.empty()) std::cout << "No station keeps an allotment cap.\n";
        for (const AllotmentCap& c : caps) {
          std::cout << fmt::format("{}{}\t{}\t{}\t{}\n", c.troop, c.district, c.formType, c.cap,
                                   Set(c.setBy, c.setAt));
        }
        return 0;
      }};
}

std::pair<CLI::App*, CommandRun> AddReissueRuleCommand(CLI::App& app) {
  auto selection = std::make_shared<LimitSelection>();
  CLI::App* command = app.add_subcommand(
      "reissue-rule",
      "Reissue rules: while a station's rule is on, it gives no new forms of a type to an "
      "officer whose earlier ones of that type are not yet all used or returned, unless a clerk "
      "overrides it with a reason. Off unless turned on. Lists the stations whose rule is on.");
  command->require_subcommand(0, 1);
  AddStoreOptions(*command, selection->store);
  CLI::App* set = command->add_subcommand("set", "Turn a station's reissue rule on or off.");
  selection->set = set;
  AddStoreOptions(*set, selection->store);
  set->add_option("--station", selection->rule.station, "Troop/District, e.g. A1.")->required();
  // "on" or "off" is the handler's to check, so a mistake exits 2 with its words.
  set->add_option("--state", selection->rule.state, "on or off.")->required();
  return {command, [selection] {
            RequestHandler handler(OpenSelectedStore(selection->store));
            const Principal principal = Principal::LocalAdministrator(0, AccountName());
            if (selection->set->parsed()) {
              const ReissueRule kept = Correctable([&] {
                return handler.SetReissueRule(selection->rule, principal,
                                              CommandRequestId("reissue-rule"),
                                              "formsmaint-server reissue-rule set");
              });
              std::cout << fmt::format("The reissue rule of {}{} is {} ({}).\n", kept.troop,
                                       kept.district, kept.on ? "on" : "off",
                                       Set(kept.setBy, kept.setAt));
              return 0;
            }
            const auto rules = handler.ReissueRules(principal);
            if (rules.empty()) std::cout << "No station's reissue rule is on.\n";
            for (const ReissueRule& r : rules) {
              std::cout << fmt::format("{}{}\ton\t{}\n", r.troop, r.district,
                                       Set(r.setBy, r.setAt));
            }
            return 0;
          }};
}

}  // namespace fm::server::cli
