#pragma once

#include <string>

// PostgreSQL reached around the store, for the tests and benchmarks that set up schemas,
// damage a database on purpose or read what the store wrote.
namespace fm::server::testing {

// Runs SQL (one or more statements) on a connection of its own; answers libpq's error
// text, empty on success. Notices are dropped.
std::string RunSql(const std::string& url, const std::string& sql);

// The connection URL with one more parameter ("connect_timeout=5").
std::string WithParameter(const std::string& url, const std::string& parameter);

}  // namespace fm::server::testing
