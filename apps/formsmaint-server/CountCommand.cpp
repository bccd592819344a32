#include "CountCommand.h"

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "server/handler/CountRequest.h"
#include "server/handler/RequestError.h"
#include "server/handler/RequestHandler.h"
#include "server/http/CountJson.h"
#include "server/http/TokenFile.h"
#include "server/store/Store.h"
#include "server/store/StoreError.h"

namespace fm::server::cli {

namespace {

// Never an option: a token on the command line is shown to every user of the host by ps.
constexpr const char* kTokenVariable = "FORMSMAINT_TOKEN";
// The largest file `count import` reads: a scanned list of a million numbers is about 8 MB.
constexpr std::uintmax_t kMaxImportBytes = std::uintmax_t{64} * 1024 * 1024;

struct CountSelection {
  StoreSelection store;
  std::string tokenFile;
  std::int64_t number = 0;
  CountOpenParameters open;
  CountEntryParameters entry;
  std::string file;
  std::string statement;
  CountSettleParameters settle;
  std::string format = "text";
  CLI::App* openCommand = nullptr;
  CLI::App* add = nullptr;
  CLI::App* import = nullptr;
  CLI::App* show = nullptr;
  CLI::App* certify = nullptr;
  CLI::App* settleCommand = nullptr;
};

// Who acts: the token's principal when the command is given one, else the administrator
// running the command (who may read and settle, but neither count nor certify).
Principal Actor(const CountSelection& s) {
  const char* token = std::getenv(kTokenVariable);
  if (s.tokenFile.empty()) {
    if (token && *token)
      throw UsageError("--token-file: give the token file FORMSMAINT_TOKEN is checked against");
    return Principal::LocalAdministrator(0, AccountName());
  }
  if (!token || !*token) {
    throw UsageError(
        fmt::format("{} holds no token; set it to the auditor's token", kTokenVariable));
  }
  std::vector<TokenRecord> records;
  try {
    records = ReadTokenFile(s.tokenFile);
  } catch (const std::exception& e) {
    throw UsageError(fmt::format("--token-file: {}", e.what()));
  }
  const TokenTable table(records);
  const Principal* principal = table.Find(token);
  if (!principal)
    throw UsageError(fmt::format("The token of {} is not in {}", kTokenVariable, s.tokenFile));
  return *principal;
}

std::string Spans(const std::vector<BookSpan>& spans) {
  std::string text;
  for (const BookSpan& b : spans) {
    text += fmt::format("  {} {}-{} ({} forms){}\n", b.formType, b.from, b.to, b.to - b.from + 1,
                        b.registry ? fmt::format(", officer {}", b.registry) : std::string());
  }
  return text.empty() ? "  none\n" : text;
}

std::string CountText(const CountView& v) {
  const PhysicalCount& c = v.count;
  std::string text =
      fmt::format("Physical count {} of {}{} ({})\nOpened by {} at {}\n", c.number, c.troop,
                  c.district, fmt::join(c.formTypes, ", "), c.openedBy, c.openedAt);
  text += c.certified ? fmt::format("Certified by {} at {}: {}\n", c.certified->userName,
                                    c.certified->at, c.certified->statement)
                      : std::string("Not certified yet\n");
  std::int64_t book = 0;
  std::int64_t found = 0;
  for (const BookSpan& b : c.book) book += b.to - b.from + 1;
  for (const BookSpan& b : v.result.found) found += b.to - b.from + 1;
  text += fmt::format("Book: {} forms in {} spans; found {}\n", book, c.book.size(), found);
  text += "Missing (in the book, not counted):\n" + Spans(v.result.missing);
  text += "Unexpected (counted, not in the book):\n";
  for (const UnexpectedSpan& u : v.result.unexpected) {
    text +=
        fmt::format("  {} {}-{}: {}{}\n", u.formType, u.from, u.to, UnexpectedReasonKey(u.reason),
                    u.detail.empty() ? "" : " (" + u.detail + ")");
  }
  if (v.result.unexpected.empty()) text += "  none\n";
  for (const CountSettlement& s : c.settlements) {
    text +=
        fmt::format("Settled {} {}-{} as {} by {} at {}{}\n", s.formType, s.from, s.to,
                    SettlementKey(s.kind), s.userName, s.at, s.note.empty() ? "" : ": " + s.note);
  }
  return text;
}

std::string ReadImport(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (error) throw UsageError(fmt::format("--file {}: {}", path, error.message()));
  if (size > kMaxImportBytes) {
    throw UsageError(
        fmt::format("--file {}: larger than {} bytes; import it in parts", path, kMaxImportBytes));
  }
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in && !in.eof()) throw UsageError(fmt::format("--file {}: cannot be read", path));
  return text.str();
}

int Run(const CountSelection& s) {
  RequestHandler handler(OpenSelectedStore(s.store));
  const Principal principal = Actor(s);
  const char* requester = "formsmaint-server count";
  const auto show = [&](const PhysicalCount& count) {
    const auto view = handler.Count(count.number, principal);
    std::cout << (s.format == "json" ? CountViewToJson(*view) + "\n" : CountText(*view));
    return 0;
  };
  if (s.openCommand->parsed()) {
    return show(Correctable(
        [&] {
          return handler.OpenCount(s.open, principal, CommandRequestId("count-open"), requester);
        },
        true));
  }
  if (s.add->parsed()) {
    return show(Correctable(
        [&] {
          return handler.AddCounted(s.number, {s.entry}, principal, CommandRequestId("count-add"),
                                    requester);
        },
        true));
  }
  if (s.import->parsed()) {
    const std::string text = ReadImport(s.file);
    return show(Correctable(
        [&] {
          return handler.ImportCounted(s.number, text, principal, CommandRequestId("count-import"),
                                       requester);
        },
        true));
  }
  if (s.certify->parsed()) {
    return show(Correctable(
        [&] {
          return handler.CertifyCount(s.number, s.statement, principal,
                                      CommandRequestId("count-certify"), requester);
        },
        true));
  }
  if (s.settleCommand->parsed()) {
    const CountSettlement kept = Correctable(
        [&] {
          return handler.SettleCount(s.number, s.settle, principal,
                                     CommandRequestId("count-settle"), requester);
        },
        true);
    std::cout << fmt::format("{} {}-{} of physical count {} settled as {} by {} at {}.\n",
                             kept.formType, kept.from, kept.to, s.number, SettlementKey(kept.kind),
                             kept.userName, kept.at);
    return 0;
  }
  if (s.show->parsed()) {
    const auto view = Correctable([&] { return handler.Count(s.number, principal); }, true);
    if (!view) throw UsageError(fmt::format("There is no physical count {}", s.number));
    std::cout << (s.format == "json" ? CountViewToJson(*view) + "\n" : CountText(*view));
    return 0;
  }
  const auto counts = Correctable([&] { return handler.Counts(principal); }, true);
  if (s.format == "json") {
    std::cout << CountListToJson(counts) << "\n";
    return 0;
  }
  if (counts.empty()) std::cout << "No physical count was opened.\n";
  for (const CountSummary& c : counts) {
    std::cout << fmt::format("{}\t{}{}\t{}\topened {} by {}\t{}\n", c.number, c.troop, c.district,
                             fmt::join(c.formTypes, ","), c.openedAt, c.openedBy,
                             c.certified
                                 ? "certified " + c.certified->at + " by " + c.certified->userName
                                 : std::string("open"));
  }
  return 0;
}

}  // namespace

std::pair<CLI::App*, CommandRun> AddCountCommand(CLI::App& app) {
  auto s = std::make_shared<CountSelection>();
  CLI::App* command = app.add_subcommand(
      "count",
      "Physical counts of a station's forms against its book, fixed when the count is opened. "
      "An auditor (its token in FORMSMAINT_TOKEN, checked against --token-file) opens, enters "
      "and certifies; an administrator settles what a certified count found missing. Lists the "
      "counts.");
  command->require_subcommand(0, 1);
  const auto common = [&](CLI::App& c) {
    AddStoreOptions(c, s->store);
    c.add_option("--token-file", s->tokenFile,
                 "The server's token file, against which FORMSMAINT_TOKEN is checked; without it "
                 "the command acts as the administrator running it.");
    c.add_option("--format", s->format, "text (default) or json.")
        ->check(CLI::IsMember({"text", "json"}));
  };
  common(*command);
  const auto numbered = [&](CLI::App& c) {
    c.add_option("--count", s->number, "The count's number.")->required();
  };
  s->openCommand = command->add_subcommand("open", "Open a count, fixing the station's book.");
  common(*s->openCommand);
  s->openCommand
      ->add_option("--station", s->open.station,
                   "Troop/District, e.g. A1; a troop alone (A) for its own stock.")
      ->required();
  s->openCommand
      ->add_option("--form-type", s->open.formTypes, "A form type counted; give it again for more.")
      ->required();
  s->add = command->add_subcommand("add", "Add a span of counted numbers.");
  common(*s->add);
  numbered(*s->add);
  s->add->add_option("--form-type", s->entry.formType,
                     "The form type; default: the count's only one.");
  s->add->add_option("--from", s->entry.from, "The first number counted.")->required();
  s->add->add_option("--to", s->entry.to, "The last number counted; default: --from alone.");
  s->import = command->add_subcommand(
      "import",
      "Add the counted numbers of a file: one number a line, or CSV lines of form type,from[,to].");
  common(*s->import);
  numbered(*s->import);
  s->import->add_option("--file", s->file, "The file to read.")->required();
  common(*command->add_subcommand("list", "The counts, newest first (as `count` alone)."));
  s->show = command->add_subcommand("show", "A count: its book, counted numbers and result.");
  common(*s->show);
  numbered(*s->show);
  s->certify = command->add_subcommand("certify", "Certify a count; it never changes afterwards.");
  common(*s->certify);
  numbered(*s->certify);
  s->certify->add_option("--statement", s->statement, "What the auditor attests.")->required();
  s->settleCommand = command->add_subcommand("settle",
                                             "Settle a missing span of a certified count: lost "
                                             "(delisted, citing the count) or found_later.");
  common(*s->settleCommand);
  numbered(*s->settleCommand);
  s->settleCommand->add_option("--form-type", s->settle.formType,
                               "The form type; default: the count's only one.");
  s->settleCommand->add_option("--from", s->settle.from, "The first number.")->required();
  s->settleCommand->add_option("--to", s->settle.to, "The last number; default: --from alone.");
  s->settleCommand->add_option("--as", s->settle.outcome, "lost or found_later.")->required();
  s->settleCommand->add_option("--note", s->settle.note, "Why, in a sentence.");
  return {command, [s] { return Run(*s); }};
}

}  // namespace fm::server::cli
