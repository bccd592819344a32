#include "TestAuthority.h"

#include <arpa/inet.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace fm::testing {

namespace {

[[noreturn]] void BrokenAuthority(const std::string& what) {
  throw std::runtime_error("test authority: " + what);
}

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;

Key NewKey() {
  Key key(EVP_EC_gen("P-256"), &EVP_PKEY_free);
  if (!key) BrokenAuthority("no key");
  return key;
}

// `issuer` null: self-signed with `key`.
Certificate Make(const std::string& commonName, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey,
                 const std::vector<std::pair<int, std::string>>& extensions, long serial) {
  Certificate certificate(X509_new(), &X509_free);
  X509* c = certificate.get();
  X509_set_version(c, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(c), serial);
  X509_gmtime_adj(X509_getm_notBefore(c), -60);
  X509_gmtime_adj(X509_getm_notAfter(c), 24 * 3600);
  X509_set_pubkey(c, key);
  X509_NAME* name = X509_get_subject_name(c);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  X509_set_issuer_name(c, issuer ? X509_get_subject_name(issuer) : name);
  X509V3_CTX v3;
  X509V3_set_ctx_nodb(&v3);
  X509V3_set_ctx(&v3, issuer ? issuer : c, c, nullptr, nullptr, 0);
  for (const auto& [nid, value] : extensions) {
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &v3, nid, value.c_str());
    if (extension == nullptr) BrokenAuthority("bad extension " + value);
    X509_add_ext(c, extension, -1);
    X509_EXTENSION_free(extension);
  }
  if (X509_sign(c, issuerKey ? issuerKey : key, EVP_sha256()) == 0) BrokenAuthority("cannot sign");
  return certificate;
}

void WritePem(const std::filesystem::path& file, const std::vector<X509*>& certificates,
              EVP_PKEY* key) {
  FILE* out = std::fopen(file.c_str(), "w");
  if (out == nullptr) BrokenAuthority("cannot write " + file.string());
  for (X509* c : certificates) PEM_write_X509(out, c);
  if (key != nullptr) PEM_write_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr);
  std::fclose(out);
}

}  // namespace

TestAuthority::TestAuthority(std::filesystem::path folder, const std::string& name)
    : mFolder(std::move(folder)), mName(name), mCertificate(mFolder / (name + "-ca.pem")) {
  Key key = NewKey();
  Certificate certificate = Make(name + " certificate authority", key.get(), nullptr, nullptr,
                                 {{NID_basic_constraints, "critical,CA:TRUE"},
                                  {NID_key_usage, "critical,keyCertSign,cRLSign"},
                                  {NID_subject_key_identifier, "hash"}},
                                 1);
  WritePem(mCertificate, {certificate.get()}, nullptr);
  mKey = std::shared_ptr<EVP_PKEY>(key.release(), &EVP_PKEY_free);
  mAuthority = std::shared_ptr<X509>(certificate.release(), &X509_free);
}

TestAuthority::Issued TestAuthority::IssueServer(const std::string& name,
                                                 const std::vector<std::string>& hosts) const {
  std::string alternatives;
  for (const std::string& host : hosts) {
    unsigned char address[16];
    const bool ip = inet_pton(AF_INET, host.c_str(), address) == 1 ||
                    inet_pton(AF_INET6, host.c_str(), address) == 1;
    alternatives += (alternatives.empty() ? "" : ",") + std::string(ip ? "IP:" : "DNS:") + host;
  }
  Key key = NewKey();
  Certificate certificate = Make(name, key.get(), mAuthority.get(), mKey.get(),
                                 {{NID_basic_constraints, "critical,CA:FALSE"},
                                  {NID_key_usage, "critical,digitalSignature"},
                                  {NID_ext_key_usage, "serverAuth"},
                                  {NID_subject_alt_name, alternatives},
                                  {NID_authority_key_identifier, "keyid"}},
                                 2);
  Issued issued{mFolder / (name + ".pem"), mFolder / (name + ".key")};
  WritePem(issued.certificate, {certificate.get(), mAuthority.get()}, nullptr);
  WritePem(issued.key, {}, key.get());
  return issued;
}

}  // namespace fm::testing
