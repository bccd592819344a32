#pragma once

#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

typedef struct ssl_ctx_st SSL_CTX;

namespace fm::testing {

// A stand-in server that answers every request with one fixed response, over plain TCP or
// TLS, to play servers that misbehave in ways the real one does not: answers that are not
// replies, failures, silence. Connections are served one after another on one thread, each
// until the client closes it or the response says "Connection: close".
class CannedHttpServer {
 public:
  // `response` is sent as it stands; `answer` false leaves every request unanswered
  // (a server that has hung). `tlsFolder` non-empty: serve TLS, writing the certificates
  // there; CertificateFile() is the authority's.
  CannedHttpServer(std::string response, bool answer = true,
                   const std::filesystem::path& tlsFolder = {});
  ~CannedHttpServer();
  CannedHttpServer(const CannedHttpServer&) = delete;
  CannedHttpServer& operator=(const CannedHttpServer&) = delete;

  unsigned short Port() const { return mPort; }
  const std::filesystem::path& CertificateFile() const { return mCertificateFile; }
  std::vector<std::string> Requests();  // heads and bodies received, in order
  int Connections() const { return mConnections.load(); }

  // A full response with a JSON body.
  static std::string Response(int status, const std::string& reason, const std::string& body,
                              bool close = false);

 private:
  void Serve();

  std::string mResponse;
  bool mAnswer;
  int mListener = -1;
  unsigned short mPort = 0;
  SSL_CTX* mTls = nullptr;
  std::filesystem::path mCertificateFile;
  std::atomic<bool> mStopping{false};
  std::atomic<int> mConnections{0};
  std::mutex mConnectionMutex;
  int mCurrent = -1;  // the connection being served; guarded by mConnectionMutex
  std::mutex mMutex;
  std::vector<std::string> mRequests;
  std::thread mThread;
};

}  // namespace fm::testing
