#pragma once

#include <utility>

#include "ServerCli.h"

namespace CLI {
class App;
}

namespace fm::server {
struct UsageLimits;
}

namespace fm::server::cli {

// `usage import`: records the uses of an import file (docs/usage.md) as the operating-system
// account running the command, an administrator at every station. Prints what it did, every
// bad line (nothing is then recorded) and every conflict; --format json prints the answer of
// POST /v1/usage instead. Exit status 0 when the uses were recorded or there was nothing to do
// (the same file again), 1 when lines are bad or the file is refused whole, 2 for options to
// correct. Adds the subcommand to `app`; the answer is the subcommand and how to run it.
std::pair<CLI::App*, CommandRun> AddUsageCommand(CLI::App& app);

// The options of the limits of a batch of uses (--usage-file-limit, --usage-line-limit,
// --usage-field-length, --usage-listed-lines, --usage-span-limit), bound to `limits`, which
// hold the defaults: the server's and `usage import`'s.
void AddUsageLimitOptions(CLI::App& command, UsageLimits& limits);

}  // namespace fm::server::cli
