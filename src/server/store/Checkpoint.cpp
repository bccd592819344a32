#include "server/store/Checkpoint.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "server/store/StoreError.h"

namespace fm::server {

namespace {

constexpr const char* kFirstLine = "formsmaint record chain checkpoint";
constexpr std::size_t kPublicKeyBytes = 32;
constexpr std::size_t kSignatureBytes = 64;

std::string Hex(const unsigned char* bytes, std::size_t size) {
  std::string hex;
  hex.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) hex += fmt::format("{:02x}", bytes[i]);
  return hex;
}

// None for a text that is not `size` bytes in hexadecimal.
std::optional<std::vector<unsigned char>> FromHex(const std::string& hex, std::size_t size) {
  if (hex.size() != size * 2) return std::nullopt;
  std::vector<unsigned char> bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    unsigned value = 0;
    for (char c : hex.substr(i * 2, 2)) {
      value <<= 4;
      if (c >= '0' && c <= '9') {
        value |= static_cast<unsigned>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        value |= static_cast<unsigned>(c - 'a' + 10);
      } else {
        return std::nullopt;
      }
    }
    bytes[i] = static_cast<unsigned char>(value);
  }
  return bytes;
}

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

StoreError KeyError(const std::filesystem::path& path, const std::string& why) {
  return StoreError::Rejected(fmt::format("The signing key {}: {}", path.string(), why));
}

}  // namespace

struct SigningKey::Impl {
  Key key{nullptr, EVP_PKEY_free};
};

SigningKey::SigningKey(std::unique_ptr<Impl> impl) : mImpl(std::move(impl)) {}
SigningKey::SigningKey(SigningKey&&) noexcept = default;
SigningKey& SigningKey::operator=(SigningKey&&) noexcept = default;
SigningKey::~SigningKey() = default;

SigningKey SigningKey::Create(const std::filesystem::path& path) {
  auto impl = std::make_unique<Impl>();
  EVP_PKEY* made = nullptr;
  {
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(
        EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr), EVP_PKEY_CTX_free);
    if (!context || EVP_PKEY_keygen_init(context.get()) != 1 ||
        EVP_PKEY_keygen(context.get(), &made) != 1) {
      throw KeyError(path, "OpenSSL could not make an Ed25519 key");
    }
  }
  impl->key.reset(made);
  Bio pem(BIO_new(BIO_s_mem()), BIO_free);
  if (!pem ||
      PEM_write_bio_PrivateKey(pem.get(), made, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    throw KeyError(path, "OpenSSL could not write the key");
  }
  char* data = nullptr;
  const long size = BIO_get_mem_data(pem.get(), &data);
  // Created with its mode, never widened after: no moment in which others could read it.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, S_IRUSR | S_IWUSR);
  if (fd < 0) {
    throw KeyError(path, errno == EEXIST
                             ? std::string("exists already; a key that signed checkpoints is "
                                           "never replaced (remove it first if it never did)")
                             : fmt::format("cannot be created: {}", std::strerror(errno)));
  }
  const bool written = ::write(fd, data, static_cast<std::size_t>(size)) == size;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed) {
    std::filesystem::remove(path);
    throw KeyError(path, "could not be written whole");
  }
  return SigningKey(std::move(impl));
}

SigningKey SigningKey::Load(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    throw KeyError(path, fmt::format("cannot be read: {} (formsmaint-server keygen makes one)",
                                     std::strerror(errno)));
  }
  if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    throw KeyError(path, fmt::format("may be read or written by others (mode {:04o}); it must "
                                     "be mode 0600: chmod 600 {}",
                                     info.st_mode & 07777, path.string()));
  }
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const std::string pem = text.str();
  Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
  auto impl = std::make_unique<Impl>();
  impl->key.reset(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
  if (!impl->key || EVP_PKEY_id(impl->key.get()) != EVP_PKEY_ED25519) {
    throw KeyError(path, "holds no Ed25519 private key");
  }
  return SigningKey(std::move(impl));
}

std::string SigningKey::PublicKeyHex() const {
  std::array<unsigned char, kPublicKeyBytes> raw{};
  std::size_t size = raw.size();
  if (EVP_PKEY_get_raw_public_key(mImpl->key.get(), raw.data(), &size) != 1) {
    throw StoreError::Internal("OpenSSL could not give the signing key's public half");
  }
  return Hex(raw.data(), size);
}

std::string SigningKey::SignHex(const std::string& text) const {
  DigestContext context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  std::array<unsigned char, kSignatureBytes> signature{};
  std::size_t size = signature.size();
  if (!context ||
      EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, mImpl->key.get()) != 1 ||
      EVP_DigestSign(context.get(), signature.data(), &size,
                     reinterpret_cast<const unsigned char*>(text.data()), text.size()) != 1) {
    throw StoreError::Internal("OpenSSL could not sign the checkpoint");
  }
  return Hex(signature.data(), size);
}

bool VerifySignature(const std::string& publicKeyHex, const std::string& text,
                     const std::string& signatureHex) {
  const auto raw = FromHex(publicKeyHex, kPublicKeyBytes);
  const auto signature = FromHex(signatureHex, kSignatureBytes);
  if (!raw || !signature) return false;
  Key key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, raw->data(), raw->size()),
          EVP_PKEY_free);
  DigestContext context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  return key && context &&
         EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
         EVP_DigestVerify(context.get(), signature->data(), signature->size(),
                          reinterpret_cast<const unsigned char*>(text.data()), text.size()) == 1;
}

std::string CheckpointText(const Checkpoint& c) {
  return fmt::format("{}\nlink: {}\nhash: {}\ntaken: {}\nkey: {}\n", kFirstLine, c.head.seq,
                     c.head.linkHash, c.takenAt, c.publicKey);
}

std::string CheckpointFile(const Checkpoint& c) {
  return CheckpointText(c) + fmt::format("signature: {}\n", c.signature);
}

Checkpoint ReadCheckpointFile(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  auto bad = [](const std::string& why) {
    return StoreError::Rejected(
        fmt::format("This is not a checkpoint of the record chain: {}", why));
  };
  if (!std::getline(in, line) || line != kFirstLine) {
    throw bad(fmt::format("its first line is not \"{}\"", kFirstLine));
  }
  Checkpoint c;
  bool seen[5] = {};
  const char* names[5] = {"link", "hash", "taken", "key", "signature"};
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    const auto colon = line.find(": ");
    const std::string name = colon == std::string::npos ? line : line.substr(0, colon);
    const std::string value = colon == std::string::npos ? "" : line.substr(colon + 2);
    std::size_t which = 0;
    while (which < 5 && name != names[which]) ++which;
    if (which == 5) throw bad(fmt::format("the line \"{}\" is not one of a checkpoint", line));
    seen[which] = true;
    switch (which) {
      case 0: {
        std::size_t used = 0;
        try {
          c.head.seq = std::stoll(value, &used);
        } catch (const std::exception&) {
          used = 0;
        }
        if (used != value.size() || value.empty() || c.head.seq < 0) {
          throw bad(fmt::format("\"{}\" is not the number of a link", value));
        }
        break;
      }
      case 1:
        if (!FromHex(value, 32)) throw bad("its hash is not 64 hexadecimal digits");
        c.head.linkHash = value;
        break;
      case 2:
        c.takenAt = value;
        break;
      case 3:
        c.publicKey = value;
        break;
      default:
        c.signature = value;
    }
  }
  for (std::size_t i = 0; i < 5; ++i) {
    if (!seen[i]) throw bad(fmt::format("it has no \"{}\" line", names[i]));
  }
  return c;
}

}  // namespace fm::server
