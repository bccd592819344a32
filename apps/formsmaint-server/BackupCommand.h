#pragma once

#include <utility>

#include "ServerCli.h"

namespace CLI {
class App;
}

namespace fm::server::cli {

// `backup --to FILE`: a consistent copy of a SQLite inventory, taken while servers keep
// saving. `restore --from FILE`: puts such a copy in place of a SQLite inventory, after
// checking it (docs/deployment.md). Without --database both work on the server's own
// database (--database before the subcommand or in the configuration file), else on the
// default one. A PostgreSQL address is refused with the pg_dump or pg_restore command to
// use instead. Each adds its subcommand to `app` and answers it with what to run.
std::pair<CLI::App*, CommandRun> AddBackupCommand(CLI::App& app);
std::pair<CLI::App*, CommandRun> AddRestoreCommand(CLI::App& app);

}  // namespace fm::server::cli
