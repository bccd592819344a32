#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "server/handler/Principal.h"

namespace fm::server {

// The token file of the forms server holds, for each bearer token, only its SHA-256 hash
// and the principal it stands for, one token a line after a header line:
//
//   formsmaint-tokens 2
//   # hash user role stations created name
//   9f86d08188...0a08 1001 clerk A1,A2 2024-05-01T08:30:00Z Margaret Hartley
//
// Fields are separated by blanks; the display name is the rest of the line. The hash is 64
// lower-case hex digits, the user id a positive whole number, the role viewer, clerk,
// admin or auditor, the stations as StationScope::Parse reads them (an admin's are "*"), the
// creation time UTC. Blank lines and lines starting with '#' are skipped. The tokens themselves are
// never stored: a copy of the file lets nobody in. docs/security.md describes it.
inline constexpr std::string_view kTokenFileHeader = "formsmaint-tokens 2";

// One line of the token file.
struct TokenRecord {
  std::string hash;  // SHA-256 of the token, 64 lower-case hex digits
  Principal principal;
  std::string created;  // UTC, "2024-05-01T08:30:00Z"

  // The first 12 hex digits of the hash: how lists and revocations name the token.
  std::string Id() const { return hash.substr(0, 12); }

  friend bool operator==(const TokenRecord&, const TokenRecord&) = default;
};

// Reads the records of a token file. Throws HttpServerError naming the file (and line): a
// file that is missing or unreadable, a file of plain tokens (the format before hashes;
// the message says how to convert it), a file without the header, a malformed line, a hash
// given twice.
std::vector<TokenRecord> ReadTokenFile(const std::filesystem::path& path);

// Replaces the file with `records`, written to a temporary file beside it, flushed to disk
// and renamed over it: a reader (a server re-reading it on SIGHUP) sees the old file or the
// new one, never a part of either. A new file has mode 0600; one that exists keeps its owner
// and group and at most mode 0640 (a service may read it through its group). Throws
// HttpServerError.
void WriteTokenFile(const std::filesystem::path& path, const std::vector<TokenRecord>& records);

// Reads the file (a missing one holds no record), lets `edit` change the records and writes
// them back, holding a lock on the file throughout, so that two administrators editing it
// at once do not lose each other's change. Throws HttpServerError, or what `edit` throws;
// the file is then unchanged.
void EditTokenFile(const std::filesystem::path& path,
                   const std::function<void(std::vector<TokenRecord>&)>& edit);

// A new token: 256 bits of the system's random generator (OpenSSL RAND_bytes), written as
// "fm1_" and 43 characters of base64url. Throws HttpServerError when the generator fails.
std::string NewToken();

// The SHA-256 hash of a token, 64 lower-case hex digits.
std::string TokenHash(std::string_view token);

// The tokens a server accepts and whom each stands for.
//
// Thread safety: const after construction.
class TokenTable {
 public:
  explicit TokenTable(const std::vector<TokenRecord>& records);

  // A table of the given tokens (tools and tests that make their own).
  static std::shared_ptr<const TokenTable> FromTokens(
      const std::vector<std::pair<std::string, Principal>>& tokens);

  // The principal of the token, or nullptr. The token is hashed and its hash compared with
  // every record in constant time (CRYPTO_memcmp), so the time taken tells nothing of how
  // close a guess came or which record it came close to.
  const Principal* Find(std::string_view token) const;

  std::size_t Size() const { return mEntries.size(); }

 private:
  struct Entry {
    std::array<unsigned char, 32> digest;
    Principal principal;
  };
  std::vector<Entry> mEntries;
};

// Whether `address` is an IP address of this host only (127.0.0.0/8, ::1, an IPv4-mapped
// loopback) or "localhost". False for anything else, including texts that are not addresses.
bool IsLoopbackAddress(const std::string& address);

}  // namespace fm::server
