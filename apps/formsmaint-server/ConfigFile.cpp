#include "ConfigFile.h"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace fm::server::cli {

namespace {

std::string Trim(const std::string& text) {
  const char* blanks = " \t\r";
  std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// The value of a setting: in double quotes, or up to a # after a blank (a comment), as in
// the workstation's settings file.
std::string Value(const std::string& text, int line, const std::string& key) {
  if (!text.empty() && text.front() == '"') {
    std::size_t close = text.find('"', 1);
    if (close == std::string::npos) {
      throw CLI::ConfigError(
          fmt::format("line {}: the value of {} lacks its closing quote", line, key));
    }
    std::string rest = Trim(text.substr(close + 1));
    if (!rest.empty() && rest.front() != '#') {
      throw CLI::ConfigError(
          fmt::format("line {}: \"{}\" follows the quoted value of {}", line, rest, key));
    }
    return text.substr(1, close - 1);
  }
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (text[i] == '#' && (text[i - 1] == ' ' || text[i - 1] == '\t')) {
      return Trim(text.substr(0, i));
    }
  }
  return text;
}

// Reads `KEY = VALUE` lines and refuses, with the line's number, whatever CLI11's own
// reader would pass over in silence: an unknown key, a repeated one, a section.
class StrictConfig : public CLI::Config {
 public:
  explicit StrictConfig(const CLI::App& app) : mApp(app) {}

  std::string to_config(const CLI::App* app, bool defaults, bool descriptions,
                        std::string prefix) const override {
    return CLI::ConfigTOML().to_config(app, defaults, descriptions, std::move(prefix));
  }

  std::vector<CLI::ConfigItem> from_config(std::istream& input) const override {
    std::vector<CLI::ConfigItem> settings;
    std::map<std::string, int> seen;  // key -> line
    std::string line;
    for (int number = 1; std::getline(input, line); ++number) {
      const std::string text = Trim(line);
      if (text.empty() || text.front() == '#') continue;
      if (text.front() == '[') {
        throw CLI::ConfigError(fmt::format(
            "line {}: \"{}\": sections are not used; write every setting as KEY = VALUE", number,
            text));
      }
      std::size_t equals = text.find('=');
      if (equals == std::string::npos) {
        throw CLI::ConfigError(
            fmt::format("line {}: \"{}\" is not a setting: write KEY = VALUE", number, text));
      }
      const std::string key = Trim(text.substr(0, equals));
      const std::string value = Value(Trim(text.substr(equals + 1)), number, key);
      const CLI::Option* option = mApp.get_option_no_throw("--" + key);
      if (key.empty() || option == nullptr || !option->get_configurable()) {
        throw CLI::ConfigError(
            fmt::format("line {}: unknown key \"{}\"; the keys are {}", number, key, KnownKeys()));
      }
      if (value.empty()) {
        throw CLI::ConfigError(fmt::format("line {}: {} has no value", number, key));
      }
      if (auto [it, added] = seen.emplace(key, number); !added) {
        throw CLI::ConfigError(
            fmt::format("line {}: {} was set already on line {}", number, key, it->second));
      }
      CLI::ConfigItem item;
      item.name = key;
      item.inputs = {value};
      settings.push_back(std::move(item));
    }
    return settings;
  }

 private:
  std::string KnownKeys() const {
    std::string keys;
    for (const CLI::Option* option : mApp.get_options()) {
      if (!option->get_configurable() || option->get_lnames().empty()) continue;
      keys += (keys.empty() ? "" : ", ") + option->get_lnames().front();
    }
    return keys;
  }

  const CLI::App& mApp;
};

std::string ConfigFileOf(CLI::App& app) {
  const CLI::Option* option = app.get_config_ptr();
  if (option == nullptr || option->count() == 0) return "";
  return option->as<std::string>();
}

}  // namespace

void AddConfigFileOption(CLI::App& app) {
  app.set_config("--config", "",
                 "File of settings, one KEY = VALUE a line, KEY being a long option without its "
                 "dashes (threads = 8); # starts a comment. The command line wins over the "
                 "file; a mistake in the file stops the program with status 2.");
  app.config_formatter(std::make_shared<StrictConfig>(app));
}

std::optional<int> ParseCommandLine(CLI::App& app, int argc, char** argv) {
  std::optional<CLI::ParseError> commandLineError;
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(e);
    commandLineError = e;
  }
  // The file is parsed once more on its own: a mistake in it is then named as the file's,
  // and found even where the command line overrides the setting.
  if (const std::string file = ConfigFileOf(app); !file.empty()) {
    app.clear();
    try {
      std::vector<std::string> alone{file, "--config"};  // CLI11 takes them last first
      app.parse(alone);
    } catch (const CLI::ParseError& e) {
      std::cerr << fmt::format("formsmaint-server: the configuration file {}: {}\n", file,
                               e.what());
      return 2;
    }
    if (!commandLineError) {
      app.clear();
      app.parse(argc, argv);  // passed above
    }
  }
  if (commandLineError) return app.exit(*commandLineError);
  return std::nullopt;
}

}  // namespace fm::server::cli
