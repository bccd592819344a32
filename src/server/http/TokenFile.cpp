#include "server/http/TokenFile.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/asio/ip/address.hpp>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <set>
#include <stdexcept>

#include "base/Numbers.h"
#include "server/http/HttpServerError.h"
#include "server/store/TimeText.h"

namespace fm::server {

namespace {

constexpr std::string_view kTokenPrefix = "fm1_";
constexpr std::size_t kTokenBytes = 32;  // 256 bits
constexpr std::size_t kHashHexDigits = 64;

[[noreturn]] void Fail(const std::string& message) { throw HttpServerError(message); }

std::string_view TrimBlanks(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// The next blank-separated field of `rest`, which loses it.
std::string_view NextField(std::string_view& rest) {
  rest = TrimBlanks(rest);
  std::size_t end = 0;
  while (end < rest.size() && rest[end] != ' ' && rest[end] != '\t') ++end;
  std::string_view field = rest.substr(0, end);
  rest.remove_prefix(end);
  return field;
}

bool IsLowerHex(std::string_view text) {
  return text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

bool IsPlainToken(std::string_view line) {
  return !line.empty() && line.find_first_of(" \t") == std::string_view::npos;
}

std::string Hex(const unsigned char* bytes, std::size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    hex.push_back(kDigits[bytes[i] >> 4]);
    hex.push_back(kDigits[bytes[i] & 0x0f]);
  }
  return hex;
}

std::array<unsigned char, 32> Sha256(std::string_view text) {
  std::array<unsigned char, 32> digest{};
  unsigned int size = 0;
  if (EVP_Digest(text.data(), text.size(), digest.data(), &size, EVP_sha256(), nullptr) != 1 ||
      size != digest.size()) {
    Fail("the SHA-256 hash of a token could not be computed (OpenSSL failed)");
  }
  return digest;
}

std::array<unsigned char, 32> DigestOfHex(std::string_view hex) {
  std::array<unsigned char, 32> digest{};
  for (std::size_t i = 0; i < digest.size(); ++i) {
    unsigned value = 0;
    std::from_chars(hex.data() + 2 * i, hex.data() + 2 * i + 2, value, 16);
    digest[i] = static_cast<unsigned char>(value);
  }
  return digest;
}

TokenRecord ParseRecord(std::string_view line, const std::string& where) {
  std::string_view rest = line;
  const std::string_view hash = NextField(rest);
  const std::string_view user = NextField(rest);
  const std::string_view role = NextField(rest);
  const std::string_view stations = NextField(rest);
  const std::string_view created = NextField(rest);
  const std::string_view name = TrimBlanks(rest);
  if (name.empty()) {
    Fail(
        fmt::format("{}: a token line has six fields: hash, user id, role, stations, creation "
                    "time and name",
                    where));
  }
  TokenRecord record;
  if (hash.size() != kHashHexDigits || !IsLowerHex(hash)) {
    Fail(fmt::format("{}: \"{}\" is not a SHA-256 hash (64 lower-case hex digits)", where, hash));
  }
  record.hash = std::string(hash);
  if (text::ReadWholeNumber(user, record.principal.userId) != text::WholeNumberStatus::kOk ||
      record.principal.userId < 1) {
    Fail(fmt::format("{}: the user id \"{}\" is not a positive whole number", where, user));
  }
  const auto parsedRole = RoleFromName(role);
  if (!parsedRole) {
    Fail(fmt::format("{}: the role \"{}\" is not viewer, clerk, admin or auditor", where, role));
  }
  record.principal.role = *parsedRole;
  try {
    record.principal.scope = StationScope::Parse(stations);
  } catch (const std::invalid_argument& e) {
    Fail(fmt::format("{}: stations: {}", where, e.what()));
  }
  if (record.principal.role == Role::Admin && !record.principal.scope.IsEverywhere()) {
    Fail(fmt::format("{}: an admin acts at every station; its stations are *", where));
  }
  if (!ParseUtcTimestamp(created)) {
    Fail(
        fmt::format("{}: the creation time \"{}\" is not a UTC time such as "
                    "2024-05-01T08:30:00Z",
                    where, created));
  }
  record.created = std::string(created);
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      Fail(fmt::format("{}: the name holds a control character", where));
    }
  }
  record.principal.displayName = std::string(name);
  return record;
}

std::string PlainFormatMessage(const std::filesystem::path& path) {
  return fmt::format(
      "the token file {} holds plain tokens, one a line: this server keeps only hashes of "
      "tokens, each with its user, role and stations. Convert it by issuing a token for each "
      "user: formsmaint-server token add --token-file NEW --user ID --name \"NAME\" --role "
      "clerk --stations A1 (docs/security.md); give each user the token it prints, then start "
      "the server with --token-file NEW. Keep no plain token anywhere.",
      path.string());
}

// Closes a descriptor when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : mFd(fd) {}
  ~Descriptor() {
    if (mFd >= 0) ::close(mFd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return mFd; }
  int Release() { return std::exchange(mFd, -1); }

 private:
  int mFd;
};

std::string ErrnoText() { return std::strerror(errno); }

}  // namespace

std::vector<TokenRecord> ReadTokenFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    Fail(fmt::format("the token file {} cannot be read: it is missing or not readable",
                     path.string()));
  }
  std::vector<TokenRecord> records;
  std::set<std::string> hashes;
  bool headerSeen = false;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    const std::string_view text = TrimBlanks(line);
    if (text.empty() || text.front() == '#') continue;
    if (!headerSeen) {
      if (text == kTokenFileHeader) {
        headerSeen = true;
        continue;
      }
      if (IsPlainToken(text)) Fail(PlainFormatMessage(path));
      Fail(
          fmt::format("the token file {} does not start with the line \"{}\"; write it with "
                      "formsmaint-server token add",
                      path.string(), kTokenFileHeader));
    }
    TokenRecord record =
        ParseRecord(text, fmt::format("the token file {}, line {}", path.string(), number));
    if (!hashes.insert(record.hash).second) {
      Fail(fmt::format("the token file {}, line {}: the hash is given twice", path.string(),
                       number));
    }
    records.push_back(std::move(record));
  }
  if (in.bad()) Fail(fmt::format("the token file {} could not be read to its end", path.string()));
  if (!headerSeen) {
    Fail(fmt::format("the token file {} is empty: it lacks the line \"{}\"", path.string(),
                     kTokenFileHeader));
  }
  return records;
}

void WriteTokenFile(const std::filesystem::path& path, const std::vector<TokenRecord>& records) {
  std::string text = fmt::format(
      "{}\n# Bearer tokens of formsmaint-server: only their SHA-256 hashes are kept.\n"
      "# Edit with: formsmaint-server token add | list | revoke --token-file FILE\n"
      "# hash user role stations created name\n",
      kTokenFileHeader);
  for (const TokenRecord& r : records) {
    text +=
        fmt::format("{} {} {} {} {} {}\n", r.hash, r.principal.userId, RoleName(r.principal.role),
                    r.principal.scope.Text(), r.created, r.principal.displayName);
  }

  const std::filesystem::path folder =
      path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  std::string temporary = (folder / (path.filename().string() + ".XXXXXX")).string();
  Descriptor out(::mkstemp(temporary.data()));
  if (out.Get() < 0) {
    Fail(fmt::format("a new token file cannot be written in {}: {}", folder.string(), ErrnoText()));
  }
  auto failWith = [&](const std::string& what) {
    const std::string reason = ErrnoText();
    ::unlink(temporary.c_str());
    Fail(fmt::format("the token file {} could not be written ({}): {}", path.string(), what,
                     reason));
  };
  // A file that exists keeps its owner and group (the service's group may read it) and at
  // most owner read-write, group read; a new one is its creator's alone.
  mode_t mode = S_IRUSR | S_IWUSR;
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0) {
    mode = existing.st_mode & (S_IRUSR | S_IWUSR | S_IRGRP);
    if ((existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()) &&
        ::fchown(out.Get(), existing.st_uid, existing.st_gid) != 0) {
      failWith("keeping its owner and group");
    }
  }
  if (::fchmod(out.Get(), mode) != 0) failWith("chmod");
  for (std::size_t written = 0; written < text.size();) {
    const ssize_t n = ::write(out.Get(), text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) failWith("write");
    written += static_cast<std::size_t>(n);
  }
  if (::fsync(out.Get()) != 0) failWith("fsync");
  if (::close(out.Release()) != 0) failWith("close");
  if (::rename(temporary.c_str(), path.c_str()) != 0) failWith("rename");
  // The rename itself is durable once the folder is.
  Descriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.Get() >= 0) ::fsync(directory.Get());
}

void EditTokenFile(const std::filesystem::path& path,
                   const std::function<void(std::vector<TokenRecord>&)>& edit) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    Descriptor file(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR));
    if (file.Get() < 0) {
      Fail(fmt::format("the token file {} cannot be opened: {}", path.string(), ErrnoText()));
    }
    if (::flock(file.Get(), LOCK_EX) != 0) {
      Fail(fmt::format("the token file {} cannot be locked: {}", path.string(), ErrnoText()));
    }
    // Another command may have replaced the file while this one waited for the lock; the
    // lock then guards a file nobody reads any more, so start over on the new one.
    struct stat locked {};
    struct stat current {};
    if (::fstat(file.Get(), &locked) != 0 || ::stat(path.c_str(), &current) != 0 ||
        locked.st_ino != current.st_ino || locked.st_dev != current.st_dev) {
      continue;
    }
    const bool created = locked.st_size == 0;
    std::vector<TokenRecord> records;
    try {
      if (!created) records = ReadTokenFile(path);
      edit(records);
    } catch (...) {
      if (created) ::unlink(path.c_str());
      throw;
    }
    WriteTokenFile(path, records);
    return;
  }
  Fail(fmt::format("the token file {} kept changing while waiting to edit it", path.string()));
}

std::string NewToken() {
  std::array<unsigned char, kTokenBytes> bytes{};
  if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
    Fail("no token could be made: the system's random generator failed");
  }
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string token(kTokenPrefix);
  // base64url without padding: 6 bits a character, 43 characters for 256 bits.
  std::uint32_t buffer = 0;
  int bits = 0;
  for (unsigned char byte : bytes) {
    buffer = (buffer << 8) | byte;
    bits += 8;
    while (bits >= 6) {
      bits -= 6;
      token.push_back(kAlphabet[(buffer >> bits) & 0x3f]);
    }
  }
  if (bits > 0) token.push_back(kAlphabet[(buffer << (6 - bits)) & 0x3f]);
  OPENSSL_cleanse(bytes.data(), bytes.size());
  return token;
}

std::string TokenHash(std::string_view token) {
  const auto digest = Sha256(token);
  return Hex(digest.data(), digest.size());
}

TokenTable::TokenTable(const std::vector<TokenRecord>& records) {
  mEntries.reserve(records.size());
  for (const TokenRecord& record : records) {
    if (record.hash.size() != kHashHexDigits || !IsLowerHex(record.hash)) {
      Fail(fmt::format("\"{}\" is not a SHA-256 hash", record.hash));
    }
    mEntries.push_back({DigestOfHex(record.hash), record.principal});
  }
}

std::shared_ptr<const TokenTable> TokenTable::FromTokens(
    const std::vector<std::pair<std::string, Principal>>& tokens) {
  std::vector<TokenRecord> records;
  records.reserve(tokens.size());
  for (const auto& [token, principal] : tokens) {
    records.push_back({TokenHash(token), principal, "2024-01-01T00:00:00Z"});
  }
  return std::make_shared<const TokenTable>(records);
}

const Principal* TokenTable::Find(std::string_view token) const {
  const auto digest = Sha256(token);
  const Principal* found = nullptr;
  for (const Entry& entry : mEntries) {
    const bool same = CRYPTO_memcmp(entry.digest.data(), digest.data(), digest.size()) == 0;
    if (same && found == nullptr) found = &entry.principal;
  }
  return found;
}

bool IsLoopbackAddress(const std::string& address) {
  if (address == "localhost") return true;
  boost::system::error_code ec;
  auto ip = boost::asio::ip::make_address(address, ec);
  if (ec) return false;
  if (ip.is_v6() && ip.to_v6().is_v4_mapped()) {
    return ip.to_v6().to_v4().is_loopback();  // ::ffff:127.0.0.1
  }
  return ip.is_loopback();
}

}  // namespace fm::server
