#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

typedef struct evp_pkey_st EVP_PKEY;
typedef struct x509_st X509;

namespace fm::testing {

// A certificate authority made by a test with OpenSSL, and the server certificates it signs,
// written as PEM files into a folder: what a site's own authority gives its forms server.
// Keys are P-256, certificates valid from a minute ago for a day. Throws
// std::runtime_error when OpenSSL fails.
class TestAuthority {
 public:
  TestAuthority(std::filesystem::path folder, const std::string& name);

  // The authority's certificate, for clients to trust.
  const std::filesystem::path& CertificateFile() const { return mCertificate; }

  struct Issued {
    std::filesystem::path certificate;  // the chain: the server's certificate, then ours
    std::filesystem::path key;
  };
  // A server certificate for the host names and IP addresses given ("localhost",
  // "127.0.0.1").
  Issued IssueServer(const std::string& name, const std::vector<std::string>& hosts) const;

 private:
  std::filesystem::path mFolder;
  std::string mName;
  std::filesystem::path mCertificate;
  std::shared_ptr<EVP_PKEY> mKey;
  std::shared_ptr<X509> mAuthority;
};

}  // namespace fm::testing
