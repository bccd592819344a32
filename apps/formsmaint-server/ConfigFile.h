#pragma once

#include <optional>

namespace CLI {
class App;
}

// The server's configuration file. `--config FILE` names it; each line is `KEY = VALUE`,
// where KEY is one of the program's long options without its dashes (`threads = 8` is
// `--threads 8`, `serve = true` is `--serve`). Blank lines and lines starting with # are
// skipped, and so is a # after a blank with the rest of its line; a value may stand in
// double quotes. An option given on the command line wins over the file. Sections, a key the
// program does not know, a key given twice and a value its option refuses are all errors: the
// program names the file and stops with status 2, so a typing mistake never leaves a setting at its
// default unnoticed.
namespace fm::server::cli {

// Adds `--config` to `app` (after its other options: the keys are checked against them).
void AddConfigFileOption(CLI::App& app);

// Parses the command line and the configuration file it names. Answers the exit status when
// the program must stop at once (0 after --help, 2 for a mistake in the file, CLI11's status
// for one on the command line), nothing when the command is to run.
std::optional<int> ParseCommandLine(CLI::App& app, int argc, char** argv);

}  // namespace fm::server::cli
