#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace fm::server {

// Reads bearer tokens from a file: one token a line; leading and trailing blanks are
// dropped, blank lines and lines starting with '#' are skipped. Throws HttpServerError when
// the file cannot be read or a line holds a text that cannot be a bearer token (blanks
// inside, characters outside printable ASCII), naming the line.
std::vector<std::string> ReadTokenFile(const std::filesystem::path& path);

// Whether `address` is an IP address of this host only (127.0.0.0/8, ::1, an IPv4-mapped
// loopback) or "localhost". False for anything else, including texts that are not addresses.
bool IsLoopbackAddress(const std::string& address);

}  // namespace fm::server
