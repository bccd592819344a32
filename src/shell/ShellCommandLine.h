#pragma once

#include <filesystem>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>

namespace fm::shell {

struct ShellCommandLineOutcome;

// The command line of the desktop (`formsmaint`). Every option is a site setting given on
// the command line, which overrides the environment and the settings file
// (docs/settings.md); with none of them the desktop runs on the embedded demo inventory.
struct ShellCommandLine {
  // Site-setting keys ("region", "local_db", "switch.VoidManualForms"...) and their values.
  std::map<std::string, std::string> settings;
  // --settings: the settings file to read instead of the default one.
  std::filesystem::path settingsFile;

  // Parses the arguments (argv[0] is the program's name). Help and errors go to `out` and
  // `err`.
  static ShellCommandLineOutcome Parse(int argc, const char* const* argv, std::ostream& out,
                                       std::ostream& err);
  // Whether the arguments ask only for help or the version, which needs no display.
  static bool AsksForHelp(int argc, const char* const* argv);
};

struct ShellCommandLineOutcome {
  // Set when the program should go on; otherwise it ends with `exitCode` (0 after --help or
  // --version, 2 after a mistake, which is explained on `err`).
  std::optional<ShellCommandLine> commandLine;
  int exitCode = 0;
};

}  // namespace fm::shell
