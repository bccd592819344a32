#include "platform/SiteSettings.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string_view>

#include "base/Numbers.h"
#include "base/Text.h"
#include "localdata/LocalData.h"
#include "platform/PlatformError.h"

extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX, not in a header

namespace fm {

namespace {

constexpr std::string_view kEnvPrefix = "FORMSMAINT_";
constexpr std::string_view kSwitchPrefix = "switch.";
constexpr std::string_view kSwitchEnvPrefix = "FORMSMAINT_SWITCH_";
constexpr long kDefaultUserId = 1001;
constexpr long kDefaultTimeoutSeconds = 30;
// Both whole-number settings end up in 32-bit places: the user id is a registry number,
// and a larger time-out than this is a typing error rather than a wish.
constexpr long kLargestWholeNumber = 2147483647;

// The switch the screen itself reads; named here so that an environment answered by a
// lookup function (which cannot be listed) is still asked for it.
const char* const kKnownSwitches[] = {"VoidManualForms"};

std::string Upper(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return out;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

SiteSettings::Lookup EnvironmentOrDefault(SiteSettings::Lookup environment) {
  if (environment) return environment;
  return [](const char* name) -> const char* { return std::getenv(name); };
}

// A variable that is unset or set to the empty text counts as absent (as XDG asks of its
// variables; the same rule for ours keeps a stray `export FORMSMAINT_REGION=` harmless).
std::string Variable(const SiteSettings::Lookup& environment, const char* name) {
  const char* value = environment(name);
  return value ? std::string(value) : std::string();
}

// Where a setting came from, for messages that let the user find and fix it.
struct Origin {
  std::string text;
};

[[noreturn]] void Fail(const Origin& origin, std::string_view key, std::string_view problem) {
  throw PlatformError(PlatformError::kGeneric,
                      fmt::format("Setting '{}' ({}): {}", key, origin.text, problem));
}

bool ParseBool(const Origin& origin, std::string_view key, std::string_view value) {
  const std::string v = Lower(text::TrimBlanks(value));
  if (v == "yes" || v == "true" || v == "1" || v == "on") return true;
  if (v == "no" || v == "false" || v == "0" || v == "off") return false;
  Fail(origin, key,
       fmt::format("'{}' is not a yes/no value (yes, no, true, false, 1, 0, on, off)", value));
}

long ParsePositive(const Origin& origin, std::string_view key, std::string_view value) {
  std::int64_t number = 0;
  const auto status = text::ReadWholeNumber(value, number);
  if (status == text::WholeNumberStatus::kNotWhole ||
      (status == text::WholeNumberStatus::kOk && number <= 0)) {
    Fail(origin, key, fmt::format("'{}' is not a positive whole number", value));
  }
  if (status == text::WholeNumberStatus::kTooLarge || number > kLargestWholeNumber) {
    Fail(origin, key, fmt::format("'{}' is too large (at most {})", value, kLargestWholeNumber));
  }
  return static_cast<long>(number);
}

std::string Required(const Origin& origin, std::string_view key, std::string_view value) {
  const std::string_view v = text::TrimBlanks(value);
  if (v.empty()) Fail(origin, key, "the value must not be empty");
  return std::string(v);
}

// The keys of the table in the header, in the spelling the settings file uses.
const char* const kKeys[] = {"region",       "requester",       "user_id",  "local_db",
                             "inventory_db", "server",          "token",    "token_file",
                             "ca_file",      "timeout_seconds", "log_file", "local_role"};

// A bearer token travels in a header: one word of visible ASCII characters.
std::string TokenValue(const Origin& origin, std::string_view key, std::string_view value) {
  const std::string_view v = text::TrimBlanks(value);
  for (char c : v) {
    if (c <= ' ' || c > '~') {
      Fail(origin, key, "an access token is one word of visible characters (no blanks)");
    }
  }
  return std::string(v);
}

// Where a value was given, lowest first: the layers of the precedence rule.
enum class Layer { Default, File, Environment, CommandLine };

bool IsSwitchKey(std::string_view key) {
  return key.size() > kSwitchPrefix.size() &&
         Lower(key.substr(0, kSwitchPrefix.size())) == kSwitchPrefix;
}

std::string EnvironmentName(std::string_view key) { return std::string(kEnvPrefix) + Upper(key); }

}  // namespace

SiteSettings::SiteSettings()
    : mRegion("NORTH"),
      mRequester("FORMSMAINT"),
      mUserId(kDefaultUserId),
      mTimeout(std::chrono::seconds(kDefaultTimeoutSeconds)) {
  const auto dataDirectory = DefaultDataDirectory();
  mLocalDb = dataDirectory / "local.db";
  mInventoryDb = dataDirectory / "inventory.db";
  mLogFile = dataDirectory / "formsmaint.log";
}

bool SiteSettings::Switch(const std::string& name) const {
  const auto it = mSwitches.find(Upper(text::TrimBlanks(name)));
  return it != mSwitches.end() && it->second;
}

void SiteSettings::SetSwitch(const std::string& name, bool on) {
  mSwitches[Upper(text::TrimBlanks(name))] = on;
}

std::filesystem::path SiteSettings::DefaultDataDirectory(const Lookup& environment) {
  return local_data::DefaultDataDirectory(environment);
}

SiteSettings SiteSettings::Resolve(const std::map<std::string, std::string>& commandLine,
                                   Lookup environment, std::filesystem::path settingsFile) {
  // Only the process environment can be listed (for switches named nowhere else).
  const bool processEnvironment = !environment;
  environment = EnvironmentOrDefault(std::move(environment));

  SiteSettings settings;
  const auto dataDirectory = DefaultDataDirectory(environment);
  settings.mLocalDb = dataDirectory / "local.db";
  settings.mInventoryDb = dataDirectory / "inventory.db";
  settings.mLogFile = dataDirectory / "formsmaint.log";

  // The layer each of the two ways of giving the access token came from, and where.
  Layer tokenLayer = Layer::Default;
  Layer tokenFileLayer = Layer::Default;
  Origin tokenOrigin;
  Origin tokenFileOrigin;

  // One key = value pair applied to the settings; `key` is already lower-case except for
  // the switch name.
  const auto apply = [&](const Origin& origin, const std::string& key, std::string_view value,
                         Layer layer) {
    if (IsSwitchKey(key)) {
      const std::string name(text::TrimBlanks(std::string_view(key).substr(kSwitchPrefix.size())));
      if (name.empty()) Fail(origin, key, "the switch has no name");
      settings.SetSwitch(name, ParseBool(origin, key, value));
    } else if (key == "region") {
      settings.mRegion = Required(origin, key, value);
    } else if (key == "requester") {
      settings.mRequester = Required(origin, key, value);
    } else if (key == "user_id") {
      settings.mUserId = ParsePositive(origin, key, value);
    } else if (key == "local_db") {
      settings.mLocalDb = Required(origin, key, value);
    } else if (key == "inventory_db") {
      settings.mInventoryDb = Required(origin, key, value);
    } else if (key == "server") {
      settings.mServer = std::string(text::TrimBlanks(value));
    } else if (key == "token") {
      settings.mToken = TokenValue(origin, key, value);
      tokenLayer = settings.mToken.empty() ? Layer::Default : layer;
      tokenOrigin = origin;
    } else if (key == "token_file") {
      settings.mTokenFile = std::string(text::TrimBlanks(value));
      tokenFileLayer = settings.mTokenFile.empty() ? Layer::Default : layer;
      tokenFileOrigin = origin;
    } else if (key == "ca_file") {
      settings.mCaFile = std::string(text::TrimBlanks(value));
    } else if (key == "timeout_seconds") {
      settings.mTimeout = std::chrono::seconds(ParsePositive(origin, key, value));
    } else if (key == "local_role") {
      const std::string role = Lower(text::TrimBlanks(value));
      if (role != "admin" && role != "auditor") {
        Fail(origin, key, "the workstation's user is \"admin\" or \"auditor\"");
      }
      settings.mLocalRole = role;
    } else if (key == "log_file") {
      // Empty is allowed: no log file, standard error only.
      settings.mLogFile = std::string(text::TrimBlanks(value));
    } else {
      throw PlatformError(PlatformError::kGeneric,
                          fmt::format("Unknown setting '{}' ({})", key, origin.text));
    }
  };

  // Every switch name seen anywhere is also looked up in the environment.
  std::set<std::string> switchNames(std::begin(kKnownSwitches), std::end(kKnownSwitches));

  // --- The settings file: the lowest layer above the defaults.
  bool fileNamedExplicitly = !settingsFile.empty();
  if (settingsFile.empty()) {
    const std::string fromEnvironment = Variable(environment, "FORMSMAINT_SETTINGS");
    if (!fromEnvironment.empty()) {
      settingsFile = fromEnvironment;
      fileNamedExplicitly = true;
    } else {
      const auto configBase = local_data::XdgDirectory(environment, "XDG_CONFIG_HOME", ".config");
      if (!configBase.empty()) settingsFile = configBase / "formsmaint" / "settings.ini";
    }
  }
  if (!settingsFile.empty()) {
    std::error_code ec;
    const bool exists = std::filesystem::exists(settingsFile, ec);
    if (!exists && fileNamedExplicitly) {
      throw PlatformError(
          PlatformError::kGeneric,
          fmt::format("The settings file {} does not exist", settingsFile.string()));
    }
    if (exists) {
      std::ifstream in(settingsFile);
      if (!in) {
        throw PlatformError(PlatformError::kGeneric,
                            fmt::format("Cannot read the settings file {}", settingsFile.string()));
      }
      std::string line;
      int lineNumber = 0;
      while (std::getline(in, line)) {
        ++lineNumber;
        const Origin origin{fmt::format("{}:{}", settingsFile.string(), lineNumber)};
        std::string_view text = text::TrimBlanks(line);
        if (text.empty() || text.front() == '#') continue;
        // A '#' after a blank starts a trailing comment; one inside a value (a path) does
        // not.
        for (std::size_t i = 1; i < text.size(); ++i) {
          if (text[i] == '#' && (text[i - 1] == ' ' || text[i - 1] == '\t')) {
            text = text::TrimBlanks(text.substr(0, i));
            break;
          }
        }
        const auto equals = text.find('=');
        if (equals == std::string_view::npos) {
          throw PlatformError(
              PlatformError::kGeneric,
              fmt::format("{}: expected 'key = value', found '{}'", origin.text, text));
        }
        const std::string_view rawKey = text::TrimBlanks(text.substr(0, equals));
        if (rawKey.empty()) {
          throw PlatformError(PlatformError::kGeneric,
                              fmt::format("{}: the line has no key before '='", origin.text));
        }
        const std::string key = IsSwitchKey(rawKey) ? std::string(rawKey) : Lower(rawKey);
        if (IsSwitchKey(key)) switchNames.insert(key.substr(kSwitchPrefix.size()));
        std::string_view value = text::TrimBlanks(text.substr(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
          value = value.substr(1, value.size() - 2);
        }
        apply(origin, key, value, Layer::File);
      }
    }
  }

  for (const auto& [rawKey, value] : commandLine) {
    const std::string_view key = text::TrimBlanks(rawKey);
    if (IsSwitchKey(key)) switchNames.insert(std::string(key.substr(kSwitchPrefix.size())));
  }

  // --- The environment.
  for (const char* key : kKeys) {
    const std::string name = EnvironmentName(key);
    const char* value = environment(name.c_str());
    if (value && *value) {
      apply(Origin{fmt::format("environment variable {}", name)}, key, value, Layer::Environment);
    }
  }
  for (char** entry = environ; processEnvironment && entry && *entry; ++entry) {
    const std::string_view text(*entry);
    const std::string_view name = text.substr(0, text.find('='));
    if (name.size() > kSwitchEnvPrefix.size() &&
        name.substr(0, kSwitchEnvPrefix.size()) == kSwitchEnvPrefix) {
      switchNames.insert(std::string(name.substr(kSwitchEnvPrefix.size())));
    }
  }
  std::set<std::string> seen;
  for (const auto& switchName : switchNames) {
    const std::string upper = Upper(text::TrimBlanks(switchName));
    if (upper.empty() || !seen.insert(upper).second) continue;
    const std::string variable = std::string(kSwitchEnvPrefix) + upper;
    const char* value = environment(variable.c_str());
    if (value && *value) {
      const Origin origin{fmt::format("environment variable {}", variable)};
      settings.SetSwitch(upper, ParseBool(origin, std::string(kSwitchPrefix) + switchName, value));
    }
  }

  // --- The command line: the highest layer.
  for (const auto& [rawKey, value] : commandLine) {
    const std::string_view trimmed = text::TrimBlanks(rawKey);
    const std::string key = IsSwitchKey(trimmed) ? std::string(trimmed) : Lower(trimmed);
    apply(Origin{fmt::format("command-line option --{}", key)}, key, value, Layer::CommandLine);
  }

  // The access token given at the highest layer wins over the other way of giving it.
  if (tokenLayer != Layer::Default && tokenLayer == tokenFileLayer) {
    Fail(tokenOrigin, "token",
         fmt::format("give the access token either directly or as a file, not both (token_file "
                     "is given too: {})",
                     tokenFileOrigin.text));
  }
  if (tokenLayer > tokenFileLayer) settings.mTokenFile.clear();
  if (tokenFileLayer > tokenLayer) settings.mToken.clear();

  return settings;
}

}  // namespace fm
