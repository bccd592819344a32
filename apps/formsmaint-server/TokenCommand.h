#pragma once

#include <utility>

#include "ServerCli.h"

namespace CLI {
class App;
}

namespace fm::server::cli {

// `token add | list | revoke --token-file FILE`: the administrator's management of the
// server's bearer tokens, on the token file itself (server/http/TokenFile.h), run on the
// server's host. `add` makes a token for a user with a role and stations and prints it once,
// alone on the last line of standard output: the file keeps only its hash. `list` shows the
// tokens (never the tokens themselves); `revoke` removes those of a user or the one a
// token id names. A running server takes the change on SIGHUP. Adds the subcommand to
// `app`; the answer is the subcommand and how to run it.
std::pair<CLI::App*, CommandRun> AddTokenCommand(CLI::App& app);

}  // namespace fm::server::cli
