#include "shell/ShellCommandLine.h"

#include <CLI/CLI.hpp>
#include <ostream>
#include <string_view>
#include <vector>

namespace fm::shell {

namespace {

constexpr const char* kDescription =
    "Forms maintenance: the inventory of serially numbered forms (permits, receipts, decals, "
    "seals, enforcement forms) held by Troop/District and assigned to troopers.\n"
    "With no options the screen works on the embedded demo inventory, created with the demo "
    "local database in the data folder on first use. Each option overrides the environment "
    "variable and the settings-file line of the same setting (see docs/settings.md).";

struct TextOption {
  const char* names;
  const char* key;
  const char* type;
  const char* help;
};

// Site settings that are texts or files, as the settings layer checks them.
const TextOption kTextOptions[] = {
    {"--local-db,--local_db", "local_db", "FILE",
     "The workstation's local database: code tables, officers, troops and districts. Created "
     "with the demo data when missing. Default: <data dir>/local.db"},
    {"--inventory,--inventory_db", "inventory_db", "FILE",
     "The embedded inventory of form ranges, used when no --server is given. Created with the "
     "demo inventory of the region when missing. Default: <data dir>/inventory.db"},
    {"--server", "server", "URL",
     "Address of formsmaint-server, e.g. http://forms-server:8080; requests go there instead "
     "of to the embedded inventory"},
    {"--token-file,--token_file", "token_file", "FILE",
     "File holding the access token sent to the server (with --server); overrides "
     "FORMSMAINT_TOKEN and the settings file's token"},
    {"--ca-file,--ca_file", "ca_file", "FILE",
     "Certificates (PEM) trusted for an https server besides the system's, e.g. the "
     "agency's own certificate authority"},
    {"--region", "region", "NAME",
     "The installation's region: the local database's rows of this region are used. "
     "Default: NORTH"},
    {"--requester", "requester", "TEXT",
     "The requester value sent with every request to the server. Default: FORMSMAINT"},
    {"--local-role,--local_role", "local_role", "ROLE",
     "What you may do over the embedded inventory: admin (you own it) or auditor (you save "
     "nothing, and open, enter and certify physical counts). Default: admin"},
    {"--log-file,--log_file", "log_file", "FILE",
     "Where error reports are logged; empty: standard error only. Default: "
     "<data dir>/formsmaint.log"},
};

}  // namespace

bool ShellCommandLine::AsksForHelp(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h" || arg == "--version") return true;
  }
  return false;
}

ShellCommandLineOutcome ShellCommandLine::Parse(int argc, const char* const* argv,
                                                std::ostream& out, std::ostream& err) {
  CLI::App app(kDescription, "formsmaint");
  app.set_version_flag("--version", "formsmaint 1.0.0");
  app.get_formatter()->column_width(34);

  std::map<std::string, std::string> texts;
  for (const auto& option : kTextOptions) {
    app.add_option(option.names, texts[option.key], option.help)->type_name(option.type);
  }
  long userId = 0;
  app.add_option("--user,--user_id", userId,
                 "The current user's registry number, written into comment stamps. "
                 "Default: 1001")
      ->check(CLI::Range(1L, 2147483647L))
      ->type_name("NUMBER");
  long timeoutSeconds = 0;
  app.add_option("--timeout,--timeout_seconds", timeoutSeconds,
                 "Seconds a request may go unanswered before the search times out. Default: 30")
      ->check(CLI::Range(1L, 86400L))
      ->type_name("SECONDS");
  std::vector<std::string> switches;
  app.add_option("--switch", switches,
                 "A named switch of the site, NAME=yes or NAME=no, e.g. VoidManualForms=yes "
                 "(lets the site void manual forms); may be repeated")
      ->type_name("NAME=VALUE");
  std::string settingsFile;
  app.add_option("--settings", settingsFile,
                 "The settings file to read instead of $XDG_CONFIG_HOME/formsmaint/settings.ini; "
                 "it must exist")
      ->type_name("FILE");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e, out, err);
    return {std::nullopt, code == 0 ? 0 : 2};
  }

  ShellCommandLine result;
  for (const auto& option : kTextOptions) {
    if (app.count(std::string(option.names).substr(0, std::string(option.names).find(','))) > 0) {
      result.settings[option.key] = texts[option.key];
    }
  }
  if (app.count("--user") > 0) result.settings["user_id"] = std::to_string(userId);
  if (app.count("--timeout") > 0) {
    result.settings["timeout_seconds"] = std::to_string(timeoutSeconds);
  }
  for (const std::string& entry : switches) {
    const auto equals = entry.find('=');
    if (equals == std::string::npos || equals == 0) {
      err << "--switch " << entry << ": write the switch as NAME=yes or NAME=no\n";
      return {std::nullopt, 2};
    }
    result.settings["switch." + entry.substr(0, equals)] = entry.substr(equals + 1);
  }
  result.settingsFile = settingsFile;
  return {std::move(result), 0};
}

}  // namespace fm::shell
