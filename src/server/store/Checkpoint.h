#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "server/store/RecordChain.h"

// Checkpoints of the record chain (docs/security.md): the chain's head, signed with the
// server's Ed25519 key. Whoever can rewrite the database can recompute the whole chain; he
// cannot sign its new head, so a checkpoint kept apart from the database (printed, mailed,
// in the auditor's files) proves that nothing before its link changed since it was taken.
namespace fm::server {

struct Checkpoint {
  ChainHead head;
  std::string takenAt;    // UTC, as the store stamps its records
  std::string publicKey;  // the signer's Ed25519 public key, 64 hexadecimal digits
  std::string signature;  // over CheckpointText, 128 hexadecimal digits
};

// The lines a checkpoint's signature covers.
std::string CheckpointText(const Checkpoint& checkpoint);
// The checkpoint file: CheckpointText and the signature's line.
std::string CheckpointFile(const Checkpoint& checkpoint);
// Reads a checkpoint file; throws StoreError (rejected) naming what is wrong with it.
Checkpoint ReadCheckpointFile(const std::string& text);

// The server's signing key, a PEM (PKCS #8) file only its owner may read.
class SigningKey {
 public:
  // Writes a new key to `path` with mode 0600; refuses a path that exists, so that a key
  // that signed checkpoints is never replaced by accident.
  static SigningKey Create(const std::filesystem::path& path);
  // Refuses a file that others may read or write, or that holds no Ed25519 key.
  static SigningKey Load(const std::filesystem::path& path);

  SigningKey(SigningKey&&) noexcept;
  SigningKey& operator=(SigningKey&&) noexcept;
  ~SigningKey();

  std::string PublicKeyHex() const;
  std::string SignHex(const std::string& text) const;

 private:
  struct Impl;
  explicit SigningKey(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> mImpl;
};

// Whether `signatureHex` is the signature of `text` by the Ed25519 key `publicKeyHex`.
bool VerifySignature(const std::string& publicKeyHex, const std::string& text,
                     const std::string& signatureHex);

}  // namespace fm::server
