#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>

namespace fm {

class DataSet;

// The reply data sets of the message component, by name, document identity and request
// id, and the error text of each failed reply. Names and identities ignore letter case.
// Thread-safe: transports store replies from their worker threads.
class ReplyStore {
 public:
  // The data set named `name` of the reply to `requestId` for `identity`, or nullptr.
  std::shared_ptr<DataSet> Get(const std::string& name, const std::string& identity,
                               const std::string& requestId) const;
  // Registers a data set for an identity outside any request (the empty request id).
  // A later Put under the same name, identity and request id replaces it; putting nullptr
  // removes it.
  void Put(std::shared_ptr<DataSet> dataSet, const std::string& name, const std::string& identity);
  void Put(std::shared_ptr<DataSet> dataSet, const std::string& name, const std::string& identity,
           const std::string& requestId);

  // A reply's outcome: the empty text for success, else the error text. SetError and
  // MarkReplied both record that the reply came (MarkReplied keeps an error already set);
  // Error answers the empty text for a request with no reply.
  void SetError(const std::string& identity, const std::string& requestId, std::string error);
  std::string Error(const std::string& identity, const std::string& requestId) const;
  bool HasReply(const std::string& identity, const std::string& requestId) const;
  void MarkReplied(const std::string& identity, const std::string& requestId);

  // Forgets every reply of an identity (a closed document).
  void Forget(const std::string& identity);
  // Forgets the replies of an identity to every request but `keepRequestId`; data sets
  // registered outside any request stay. A document that only ever reads the reply to
  // its latest request calls it once that reply is handled, so searching all day does not
  // pile up every earlier result.
  void ForgetAllBut(const std::string& identity, const std::string& keepRequestId);

 private:
  using Key = std::tuple<std::string, std::string, std::string>;
  mutable std::mutex mMutex;
  std::map<Key, std::shared_ptr<DataSet>> mDataSets;
  std::map<std::pair<std::string, std::string>, std::string> mOutcomes;
};

}  // namespace fm
