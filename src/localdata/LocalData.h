#pragma once

#include <filesystem>
#include <functional>
#include <string_view>

// The workstation's own data: the folder it lives in and the SQL scripts its local database
// is made from. The scripts are compiled in, so no data folder has to sit beside the
// executables.
namespace fm::local_data {

// Reads one environment variable; nullptr when it is not set. Tests pass their own.
using EnvironmentLookup = std::function<const char*(const char*)>;

// The schema of the local database: code tables, officers, the embedded inventory.
std::string_view SchemaSql();
// The demo inventory and its reference data, which the server's reference data is read from
// as well.
std::string_view DemoSql();

// An XDG base directory: `variable` when it holds an absolute path (a relative one is
// invalid and ignored), else `underHome` below $HOME; empty without a home. A null lookup
// reads the process environment.
std::filesystem::path XdgDirectory(const EnvironmentLookup& environment, const char* variable,
                                   const char* underHome);

// Where a user's forms-maintenance data lives: $XDG_DATA_HOME/formsmaint, or the temporary
// folder's when there is no home.
std::filesystem::path DefaultDataDirectory(const EnvironmentLookup& environment = nullptr);

}  // namespace fm::local_data
