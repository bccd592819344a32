#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fm::testing {

// A stand-in server that answers every request with one fixed response, to play servers that
// misbehave in ways the real one does not: answers that are not replies, failures, silence.
// Connections are served one after another on one thread, each until the client closes it or the
// response says "Connection: close".
class CannedHttpServer {
 public:
  // `response` is sent as it stands; `answer` false leaves every request unanswered
  // (a server that has hung).
  explicit CannedHttpServer(std::string response, bool answer = true);
  ~CannedHttpServer();
  CannedHttpServer(const CannedHttpServer&) = delete;
  CannedHttpServer& operator=(const CannedHttpServer&) = delete;

  unsigned short Port() const { return mPort; }
  std::vector<std::string> Requests();  // heads and bodies received, in order

  // A full response with a JSON body.
  static std::string Response(int status, const std::string& reason, const std::string& body,
                              bool close = false);

 private:
  void Serve();

  std::string mResponse;
  bool mAnswer;
  int mListener = -1;
  unsigned short mPort = 0;
  std::atomic<bool> mStopping{false};
  std::mutex mConnectionMutex;
  int mCurrent = -1;  // the connection being served; guarded by mConnectionMutex
  std::mutex mMutex;
  std::vector<std::string> mRequests;
  std::thread mThread;
};

}  // namespace fm::testing
