#include "localdata/LocalData.h"

#include <cstdlib>
#include <string>

namespace fm::embedded {
// Compiled in from data/local (cmake/EmbedText.cmake).
extern const char* const kLocalSchemaSql;
extern const char* const kLocalDemoSql;
}  // namespace fm::embedded

namespace fm::local_data {

std::string_view SchemaSql() { return embedded::kLocalSchemaSql; }
std::string_view DemoSql() { return embedded::kLocalDemoSql; }

std::filesystem::path XdgDirectory(const EnvironmentLookup& environment, const char* variable,
                                   const char* underHome) {
  // Unset and set-to-empty both count as absent, as XDG asks of its variables.
  const auto read = [&](const char* name) {
    const char* value = environment ? environment(name) : std::getenv(name);
    return value ? std::string(value) : std::string();
  };
  std::filesystem::path base = read(variable);
  if (!base.empty() && base.is_absolute()) return base;
  const std::filesystem::path home = read("HOME");
  if (home.empty()) return {};
  return home / underHome;
}

std::filesystem::path DefaultDataDirectory(const EnvironmentLookup& environment) {
  auto base = XdgDirectory(environment, "XDG_DATA_HOME", ".local/share");
  // Without a home there is no per-user place; the temporary folder at least works.
  if (base.empty()) base = std::filesystem::temp_directory_path();
  return base / "formsmaint";
}

}  // namespace fm::local_data
